#include "platform/testing/temp_network.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/service.h"

namespace plat::testing {

namespace {

// Whether `pid` still runs: a child of ours is reaped, a zombie counts as gone.
bool Alive(pid_t pid) {
  ::waitpid(pid, nullptr, WNOHANG);
  std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (!f) return false;
  char state = 0;
  const int read = std::fscanf(f, "%*d (%*[^)]) %c", &state);
  std::fclose(f);
  return read == 1 && state != 'Z';
}

// Services a test left running would go on writing into the network after
// its folder is removed, leaving parts of it behind: they are killed first.
void KillLeftoverServices(const std::string& network) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(network, ec)) {
    if (!entry.is_directory(ec)) continue;
    ServiceManager scm;
    std::vector<std::string> names;
    if (ServiceManager::Open(entry.path().filename().string(), &scm) != ERROR_SUCCESS ||
        scm.EnumServices(&names) != ERROR_SUCCESS) {
      continue;
    }
    for (const std::string& name : names) {
      ServiceHandle service;
      if (scm.OpenService(name, &service) != ERROR_SUCCESS) continue;
      const auto pid = static_cast<pid_t>(service.ProcessId());
      if (pid <= 0 || pid == ::getpid() || ::kill(pid, SIGKILL) != 0) continue;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      while (Alive(pid) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
  }
}

}  // namespace

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
  // Machines are found by name in the network the environment names.
  if (!network_.empty()) KillLeftoverServices(network_);
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
