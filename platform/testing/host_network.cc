#include "platform/testing/host_network.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>

namespace plat::testing {

int Shell(const std::string& command, std::string* out) {
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return -1;
  std::array<char, 4096> buffer;
  std::string text;
  while (size_t n = std::fread(buffer.data(), 1, buffer.size(), p)) text.append(buffer.data(), n);
  const int status = ::pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

HostNetwork::~HostNetwork() {
  std::string out;
  Down(&out);
}

std::string HostNetwork::Unavailable() {
  if (::geteuid() != 0) return "needs root (network namespaces, smbd); CI runs as root";
  if (Shell("command -v smbd && command -v smbpasswd && command -v smbcontrol && command -v ip") != 0) {
    return "samba or iproute2 is missing; ./portulon.sh test installs them";
  }
  return "";
}

bool HostNetwork::Up(std::string* out) {
  char folder[] = "/tmp/pl-hosts-XXXXXX";
  if (!::mkdtemp(folder)) return false;
  dir_ = folder;
  return Shell(ScriptLine("up", ""), out) == 0;
}

bool HostNetwork::Down(std::string* out) {
  if (dir_.empty()) return true;
  const bool ok = Shell(ScriptLine("down", ""), out) == 0;
  dir_.clear();
  return ok;
}

std::string HostNetwork::ScriptLine(const std::string& command, const std::string& rest) const {
  return "bash " + ShellQuote(std::string(PORTULON_SOURCE_DIR) + "/scripts/host_network.sh") + " " + command +
         " " + ShellQuote(dir_) + " " + rest;
}

std::string HostNetwork::OnHost(const std::string& host, const std::string& program) const {
  return ScriptLine("exec", host + " " + ShellQuote(program));
}

int HostNetwork::Run(const std::string& host, const std::string& program, const std::vector<std::string>& args,
                     std::string* out) const {
  std::string line = OnHost(host, program);
  for (const auto& a : args) line += " " + ShellQuote(a);
  return Shell(line, out);
}

std::string HostNetwork::MachineRoot(const std::string& host) const { return dir_ + "/hosts/" + host + "/" + host; }

std::string HostNetwork::ShareFolder() const { return MachineRoot("SRV1") + "/drive_c/Program Files/Portulon"; }

}  // namespace plat::testing
