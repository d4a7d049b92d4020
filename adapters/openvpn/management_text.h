// The text of OpenVPN's management interface as the adapter reads and writes
// it: the ">CLIENT:" notifications (a first line, then ">CLIENT:ENV,name=value"
// lines up to ">CLIENT:ENV,END"), the client list of "status 3", and the
// quoting of command arguments. Pure text; no connection here.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ovpn {

enum class ClientEventKind { Connect, Reauth, Established, Disconnect, Address };

struct ClientEvent {
  ClientEventKind kind = ClientEventKind::Connect;
  std::uint32_t cid = 0;
  std::uint32_t kid = 0;                   // Connect and Reauth only
  std::map<std::string, std::string> env;  // empty for Address
  std::string Env(const std::string& name) const {
    const auto it = env.find(name);
    return it == env.end() ? std::string() : it->second;
  }
};

// Collects one ">CLIENT:" notification from its lines. Feed every line that
// begins with ">CLIENT:"; a complete event comes back with the line that ends
// it. A line that fits no notification is dropped (and a half-read one with
// it), so one garbled line never merges two clients.
class ClientEventReader {
 public:
  std::optional<ClientEvent> Feed(std::string_view line);

 private:
  std::optional<ClientEvent> pending_;
};

// One client of "status 3" (tab-separated CLIENT_LIST lines).
struct StatusClient {
  std::uint32_t cid = 0;
  std::string commonName;
  std::string username;  // "UNDEF" when the client sent none
  std::string virtualAddress;
  std::uint64_t bytesReceived = 0;
  std::uint64_t bytesSent = 0;
  std::int64_t connectedSince = 0;  // seconds since 1970
};

// The clients of a "status 3" reply (its lines without the closing "END").
// Lines of another kind are skipped; a CLIENT_LIST line that does not read is
// skipped too, and counted in *unreadable when given.
std::vector<StatusClient> ParseStatusClients(const std::vector<std::string>& lines,
                                             int* unreadable = nullptr);

// A command argument in double quotes, '"' and '\' escaped, line breaks
// replaced by blanks (a command is one line).
std::string QuoteArgument(std::string_view text);

// "a.b.c.d" for an address with its first octet in the high byte.
std::string DottedAddress(std::uint32_t address);
// The other way round; false for anything but four decimal octets.
bool ParseDottedAddress(std::string_view text, std::uint32_t* address);

}  // namespace ovpn
