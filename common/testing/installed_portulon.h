// Portulon installed on the current machine of a test network, as the
// installer puts it: plsvc as the automatically started service "Portulon",
// its data folder C:\PLData published as PL_NT_DB, and a domain DOM with
// ann, bob and eve (ann and bob with profiles). For the tests of every
// program that works with an installed Portulon.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/product_keys.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/netapi.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/testing/temp_network.h"

namespace common::testing {

inline constexpr const char* kUsers = "C:\\PLData\\portulon.usr";
inline constexpr const char* kHw = "C:\\PLData\\portulon.hw";
inline constexpr const char* kLoggedIn = "C:\\PLData\\portulon.tmp";

inline std::string ServiceSettingsKey() { return kServiceKey; }

// Puts plsvc in place in `folder` (the host folder of C:\Program Files\Portulon
// of the current machine) and registers the service.
inline void InstallPlsvcInto(const std::string& folder) {
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

// Puts plsvc in place on `net`'s current machine and registers the service.
inline void InstallPlsvc(const plat::testing::TempNetwork& net) {
  InstallPlsvcInto(net.DriveC("Program Files/Portulon"));
}

// The installed service, opened through the current machine's manager.
inline plat::ServiceHandle OpenPortulon() {
  plat::ServiceManager scm;
  plat::ServiceHandle service;
  EXPECT_EQ(plat::ServiceManager::Open("", &scm), plat::ERROR_SUCCESS);
  EXPECT_EQ(scm.OpenService("Portulon", &service), plat::ERROR_SUCCESS);
  return service;
}

// plsvc installed, its data folder shared and named by MasterShare, and the
// domain with its users.
inline void InstallPortulon(const plat::testing::TempNetwork& net) {
  ASSERT_NO_FATAL_FAILURE(InstallPlsvc(net));
  ASSERT_EQ(plat::CreateDirectory("C:\\PLData"), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::CreateDirectory("C:\\PLData\\LogData"), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::RegWriteString(plat::kSharesKey, "PL_NT_DB", "Path=C:\\PLData"), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::RegWriteString(ServiceSettingsKey(), "MasterShare", "\\\\SRV1\\PL_NT_DB"),
            plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::DomainCreate("DOM", "SRV1"), plat::ERROR_SUCCESS);
  for (const char* user : {"ann", "bob", "eve"}) {
    ASSERT_EQ(plat::DomainAddUser("DOM", user, "", {}), plat::ERROR_SUCCESS);
  }
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\ann", "MaxSessionTime", "3600"), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::ProfileWriteString(kUsers, "DOM\\bob", "MaxSessionTime", "3600"), plat::ERROR_SUCCESS);
}

}  // namespace common::testing
