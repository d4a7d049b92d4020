// A machine of a temporary network with a test package beside it, and short
// ways to look at what an installation left.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "installer/core/install_steps.h"
#include "installer/tests/package_builder.h"
#include "installer/tests/recording_ui.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/testing/temp_network.h"

namespace setup::testing {

inline constexpr const char* kInstallPath = "C:\\Program Files\\Portulon";

class InstallFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildPackage(packageHost_);
    ASSERT_EQ(Package::Open(plat::HostToWindowsPath(packageHost_), &package_), plat::ERROR_SUCCESS);
  }

  static InstallChoices Choices() {
    InstallChoices c = DefaultChoices();
    c.account = "DOM\\svc";
    c.password = "secret";
    return c;
  }
  InstallOutcome Install(const InstallChoices& choices, RecordingUi* ui = nullptr) {
    RecordingUi local;
    return RunInstallation(package_, choices, ui ? *ui : local);
  }

  static std::string Value(const std::string& key, const std::string& name) {
    std::string text;
    if (plat::RegReadString(key, name, &text) == plat::ERROR_SUCCESS) return text;
    DWORD number = 0;
    if (plat::RegReadDword(key, name, &number) == plat::ERROR_SUCCESS) return std::to_string(number);
    return "<missing>";
  }
  static bool KeyExists(const std::string& key) {
    plat::RegKey k;
    return plat::RegKey::Open(plat::Hive::LocalMachine, key, &k) == plat::ERROR_SUCCESS;
  }
  static std::string FileText(const std::string& windowsPath) {
    std::string text;
    return plat::ReadWholeFile(windowsPath, &text) == plat::ERROR_SUCCESS ? text : "<missing>";
  }
  static std::string Installed(const std::string& name) {
    return FileText(std::string(kInstallPath) + "\\" + name);
  }

  plat::testing::TempNetwork net_;
  std::string packageHost_ = net_.network() + "/package";
  Package package_;
};

}  // namespace setup::testing
