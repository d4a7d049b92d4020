// What the adapter remembers of its ports across a restart of its own: which
// OpenVPN client (by client id, under which OpenVPN process) holds which
// port, for whom, since when, and the last byte counts seen. Kept in a
// profile file of the machine so that a restarted adapter gives every client
// its port back (limits and hang-up records keep matching), and so that a
// session that ended while no adapter was there still gets its hang-up.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "adapters/openvpn/vpn_ports.h"
#include "platform/win_types.h"

namespace ovpn {

// "C:\WINNT\plovpn_ports.ini" of the current machine.
std::string PortMemoryFile();

struct RememberedPorts {
  long openVpnPid = 0;  // the OpenVPN process the client ids belong to
  std::vector<std::pair<std::string, VpnClient>> ports;
};

// Replaces what the file holds with `ports` (only the sessions that stand).
// A failed write is returned; the caller traces it.
plat::DWORD SavePortMemory(const std::string& file, const RememberedPorts& ports);
// What the file holds; empty when it is missing. A section that does not
// read is skipped.
RememberedPorts LoadPortMemory(const std::string& file);

}  // namespace ovpn
