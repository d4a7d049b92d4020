// A network of real hosts for one test: scripts/host_network.sh makes the
// namespaces SRV1 (the master, its smbd serving PL_NT_DB), SRV2 and ADMINPC
// in a temporary folder and removes them again. Needs root, iproute2, samba
// and PORTULON_BIN_DIR (plmachine, reg, net).
#pragma once

#include <string>
#include <vector>

namespace plat::testing {

// Runs `command` with bash -c semantics (popen); stdout and stderr together in
// `*out`. The exit status, 128 when it did not end normally.
int Shell(const std::string& command, std::string* out = nullptr);
// `s` quoted for the shell.
std::string ShellQuote(const std::string& s);

class HostNetwork {
 public:
  HostNetwork() = default;
  ~HostNetwork();  // removes the network
  HostNetwork(const HostNetwork&) = delete;
  HostNetwork& operator=(const HostNetwork&) = delete;

  // Why this machine cannot make one (not root, samba missing); "" when it can.
  static std::string Unavailable();
  // Makes the network; false with the script's output in `*out`.
  bool Up(std::string* out);
  // Removes it now; false with the script's output in `*out`.
  bool Down(std::string* out);

  const std::string& dir() const { return dir_; }
  // The script's command line for `command` on this network, with `rest`.
  std::string ScriptLine(const std::string& command, const std::string& rest) const;
  // The command line that runs `program` (a host path) on `host`, without its arguments.
  std::string OnHost(const std::string& host, const std::string& program) const;
  // `program` run on `host` with `args`; its output in `*out`.
  int Run(const std::string& host, const std::string& program, const std::vector<std::string>& args,
          std::string* out = nullptr) const;
  // The host folder of machine `host` (its machine root).
  std::string MachineRoot(const std::string& host) const;
  // The master's data folder on its own disk (what PL_NT_DB serves).
  std::string ShareFolder() const;

 private:
  std::string dir_;
};

}  // namespace plat::testing
