// The adapter's ports: each connected OpenVPN client holds one, named by its
// slot (VPN1, VPN2, ...), the lowest free one at connection time, so that the
// names stay few and stable. Not thread-safe: the adapter guards it.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ovpn {

struct VpnClient {
  std::uint32_t cid = 0;            // OpenVPN's client id
  std::string account;              // DOMAIN\name as Portulon knows the user
  std::string commonName;           // as OpenVPN lists the client
  std::time_t start = 0;            // session start, seconds since 1970
  std::uint64_t bytesReceived = 0;  // last counts OpenVPN reported
  std::uint64_t bytesSent = 0;
  // The session stands: Portulon admitted it, could not be asked, or an
  // earlier adapter did. False while the decision is pending.
  bool decided = false;
};

class VpnPorts {
 public:
  VpnPorts(std::string prefix, unsigned count);

  // The lowest free port for `client`, or nothing when all are taken. A
  // client id that already holds a port keeps it (and its record is replaced).
  std::optional<std::string> Take(const VpnClient& client);
  // Gives `port` to `client` when that port is free (or already the
  // client's); false otherwise, and for a name that is none of ours.
  bool TakeAt(const std::string& port, const VpnClient& client);
  // The port a client id holds, or nothing.
  std::optional<std::string> PortOf(std::uint32_t cid) const;
  VpnClient* Find(const std::string& port);
  // Frees the client's port and returns what it held.
  std::optional<std::pair<std::string, VpnClient>> Release(std::uint32_t cid);
  // Every held port with its client, in port order.
  std::vector<std::pair<std::string, VpnClient>> All() const;
  std::size_t used() const;

 private:
  std::string Name(std::size_t slot) const;
  std::string prefix_;
  std::vector<std::optional<VpnClient>> slots_;
};

}  // namespace ovpn
