// plsvc installed as the installer puts it: C:\Program Files\Portulon\plsvc.exe,
// the automatically started service "Portulon" of the current machine.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/errors.h"
#include "platform/service.h"
#include "platform/testing/temp_network.h"

namespace svc::testing {

// Puts plsvc in place on `net`'s current machine and registers the service.
inline void InstallPlsvc(const plat::testing::TempNetwork& net) {
  const std::string folder = net.DriveC("Program Files/Portulon");
  std::filesystem::create_directories(folder);
  std::filesystem::create_symlink(plat::testing::BinDir() + "/plsvc", folder + "/plsvc.exe");
  plat::ServiceManager scm;
  ASSERT_EQ(plat::ServiceManager::Open("", &scm), plat::ERROR_SUCCESS);
  plat::ServiceConfig config;
  config.name = "Portulon";
  config.displayName = "Portulon";
  config.type = plat::SERVICE_WIN32_OWN_PROCESS;
  config.startType = plat::SERVICE_AUTO_START;
  config.errorControl = plat::SERVICE_ERROR_NORMAL;
  config.binaryPath = "C:\\Program Files\\Portulon\\plsvc.exe";
  ASSERT_EQ(scm.CreateService(config, "", nullptr), plat::ERROR_SUCCESS);
}

// The installed service, opened through the current machine's manager.
inline plat::ServiceHandle OpenPortulon() {
  plat::ServiceManager scm;
  plat::ServiceHandle service;
  EXPECT_EQ(plat::ServiceManager::Open("", &scm), plat::ERROR_SUCCESS);
  EXPECT_EQ(scm.OpenService("Portulon", &service), plat::ERROR_SUCCESS);
  return service;
}

}  // namespace svc::testing
