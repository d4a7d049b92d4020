#include "adapters/openvpn/port_memory.h"

#include <cstdlib>

#include "platform/profile.h"
#include "platform/text.h"
#include "platform/sysinfo.h"

namespace ovpn {

namespace {

constexpr const char* kGeneral = "OpenVPN";

}  // namespace

std::string PortMemoryFile() { return plat::GetWindowsDirectory() + "\\plovpn_ports.ini"; }

plat::DWORD SavePortMemory(const std::string& file, const RememberedPorts& memory) {
  std::vector<plat::ProfileChange> changes;
  // Every section goes first: a port freed since the last write must not come back.
  if (const auto sections = plat::ProfileListSections(file)) {
    for (const std::string& s : *sections) changes.push_back({s, "", std::nullopt});
  }
  changes.push_back({kGeneral, "Pid", std::to_string(memory.openVpnPid)});
  for (const auto& [port, c] : memory.ports) {
    if (!c.decided) continue;
    auto put = [&](const char* key, std::string value) {
      changes.push_back({port, key, std::move(value)});
    };
    put("Cid", std::to_string(c.cid));
    put("Account", c.account);
    put("CommonName", c.commonName);
    put("Start", std::to_string(static_cast<long long>(c.start)));
    put("BytesReceived", std::to_string(c.bytesReceived));
    put("BytesSent", std::to_string(c.bytesSent));
  }
  return plat::ProfileApply(file, changes);
}

RememberedPorts LoadPortMemory(const std::string& file) {
  RememberedPorts memory;
  const auto all = plat::ProfileReadAll(file);
  if (!all) return memory;
  for (const plat::ProfileSectionData& section : *all) {
    auto value = [&](const char* key) -> const std::string* {
      for (const auto& [k, v] : section.values) {
        if (plat::EqualsIgnoringCase(k, key)) return &v;
      }
      return nullptr;
    };
    auto number = [&](const char* key, unsigned long long* out) {
      const std::string* v = value(key);
      if (!v || v->empty() || v->find_first_not_of("0123456789") != std::string::npos) return false;
      *out = std::strtoull(v->c_str(), nullptr, 10);
      return true;
    };
    unsigned long long n = 0;
    if (plat::EqualsIgnoringCase(section.name, kGeneral)) {
      if (number("Pid", &n)) memory.openVpnPid = static_cast<long>(n);
      continue;
    }
    VpnClient c;
    unsigned long long start = 0, received = 0, sent = 0;
    const std::string* account = value("Account");
    const std::string* commonName = value("CommonName");
    if (!number("Cid", &n) || !number("Start", &start) || !account || account->empty() ||
        !commonName)
      continue;
    number("BytesReceived", &received);
    number("BytesSent", &sent);
    c.cid = static_cast<std::uint32_t>(n);
    c.account = *account;
    c.commonName = *commonName;
    c.start = static_cast<std::time_t>(start);
    c.bytesReceived = received;
    c.bytesSent = sent;
    c.decided = true;
    memory.ports.emplace_back(section.name, std::move(c));
  }
  return memory;
}

}  // namespace ovpn
