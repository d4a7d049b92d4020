// What the in-process benchmarks share: a machine SRV1 of domain DOM in a
// temporary network folder of their own, the load they ran under, and a
// check that says which call failed.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/errors.h"
#include "platform/machine.h"

namespace bench {

inline bool Check(plat::DWORD err, const char* what) {
  if (err != plat::ERROR_SUCCESS) std::fprintf(stderr, "%s failed: %u\n", what, err);
  return err == plat::ERROR_SUCCESS;
}

// The system's load average, "1 5 15", for the figures printed beside it.
inline std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

// A fresh network folder under $TMPDIR named after the bench, made the
// process's network; "" when it cannot be made.
inline std::string MakeNetwork(const std::string& benchName) {
  const char* tmp = std::getenv("TMPDIR");
  std::string network = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + benchName + "-XXXXXX";
  if (!::mkdtemp(network.data())) return "";
  ::setenv("PORTULON_NETWORK", network.c_str(), 1);
  return network;
}

// Machine SRV1 of domain DOM in `network`, made the current machine; its root in `*root`.
inline bool ProvisionSrv1(const std::string& network, std::string* root) {
  *root = network + "/SRV1";
  plat::MachineConfig config;
  config.name = "SRV1";
  config.domain = "DOM";
  if (!Check(plat::ProvisionMachine(*root, config), "ProvisionMachine")) return false;
  plat::SetCurrentMachineRoot(*root);
  return true;
}

}  // namespace bench
