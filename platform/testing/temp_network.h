// A temporary network for tests: a folder with provisioned machines, removed
// again when the object dies. The first machine becomes the process's current
// machine.
#pragma once

#include <string>

#include "platform/machine.h"

namespace plat::testing {

class TempNetwork {
 public:
  // Creates the network folder and machine `firstMachine` in it.
  explicit TempNetwork(const MachineConfig& firstMachine = DefaultConfig("SRV1"));
  ~TempNetwork();
  TempNetwork(const TempNetwork&) = delete;
  TempNetwork& operator=(const TempNetwork&) = delete;

  static MachineConfig DefaultConfig(const std::string& name);

  // Provisions another machine; returns its root.
  std::string AddMachine(const MachineConfig& config);

  const std::string& network() const { return network_; }
  // Root of the first machine.
  const std::string& root() const { return root_; }
  // Host path of a file below the first machine's drive C:.
  std::string DriveC(const std::string& relative) const;

 private:
  std::string network_;
  std::string root_;
  std::string previousNetworkEnv_;
  bool hadNetworkEnv_ = false;
};

// Folder of the programs we build (build/bin), for tests that run our tools.
std::string BinDir();
// Folder of the running test program (build/tests), where the helper
// programs of the tests sit, away from the administrators' tools.
std::string TestProgramDir();

}  // namespace plat::testing
