#include "platform/testing/temp_network.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>

#include "platform/errors.h"

namespace plat::testing {

MachineConfig TempNetwork::DefaultConfig(const std::string& name) {
  MachineConfig c;
  c.name = name;
  c.osVersion = "4.0";
  c.ras = RasFlavour::Ras;
  c.domain = "DOM";
  return c;
}

TempNetwork::TempNetwork(const MachineConfig& firstMachine) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/portulon-net-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    ADD_FAILURE() << "cannot create a temporary network folder";
    return;
  }
  network_ = pattern;
  // Provisioning links our programs into each machine's system directory.
  ::setenv("PORTULON_BIN_DIR", BinDir().c_str(), 0);
  if (const char* env = std::getenv("PORTULON_NETWORK")) {
    hadNetworkEnv_ = true;
    previousNetworkEnv_ = env;
  }
  ::setenv("PORTULON_NETWORK", network_.c_str(), 1);
  root_ = AddMachine(firstMachine);
  SetCurrentMachineRoot(root_);
}

TempNetwork::~TempNetwork() {
  if (hadNetworkEnv_) {
    ::setenv("PORTULON_NETWORK", previousNetworkEnv_.c_str(), 1);
  } else {
    ::unsetenv("PORTULON_NETWORK");
  }
  if (!network_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(network_, ec);
  }
}

std::string TempNetwork::AddMachine(const MachineConfig& config) {
  const std::string root = network_ + "/" + config.name;
  const DWORD err = ProvisionMachine(root, config);
  EXPECT_EQ(err, ERROR_SUCCESS) << "provisioning " << config.name << ": " << ErrorText(err);
  return root;
}

std::string TempNetwork::DriveC(const std::string& relative) const {
  return DriveCDir(root_) + "/" + relative;
}

std::string BinDir() {
  if (const char* env = std::getenv("PORTULON_BIN_DIR"); env && *env) return env;
  return PORTULON_BUILD_BIN_DIR;
}

std::string TestProgramDir() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : self.parent_path().string();
}

}  // namespace plat::testing
