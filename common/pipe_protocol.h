// The pipe protocol between the hook modules (and the console) and plsvc on
// \\.\pipe\plsvcpipe: one comma-separated text message in, one short reply
// out. Both ends build and read the messages here and nowhere else.
//
//   token 0 kind      0 new connection, 1 hang-up, 2 address request
//   token 1 port      as the remote-access service names it ("??" unknown)
//   token 2 user      DOMAIN\user (kinds 0, 1) or the bare user name (kind 2)
//   token 3 machine   client computer, "*" when unknown
//   token 4 time      kind 0: session start (0 = now); kind 1: start, 0 unknown
//   token 5 address   kind 2: the proposed address, first octet high
//   token 6 duration  kind 1: session length in seconds
//
// Reply: the code in decimal immediately followed by the address in decimal.
// Clients read the first character as the code and, for code 3, the rest as
// the address.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace common {

inline constexpr const char* kPipeName = "\\\\.\\pipe\\plsvcpipe";
// Longest message and reply; clients wait this long for a free pipe.
inline constexpr std::size_t kMessageBufferSize = 2000;
inline constexpr unsigned kPipeWaitMs = 10000;
inline constexpr std::size_t kFieldLimit = 99;
inline constexpr const char* kUpdateMessage = "UPDATE_UPDATE";

// The service's pipe on machine `server` ("\\SRV1\pipe\plsvcpipe"); the
// local one (kPipeName) for an empty name.
std::string ServerPipeName(std::string_view server);

inline constexpr int kKindNewConnection = 0;
inline constexpr int kKindHangUp = 1;
inline constexpr int kKindAddressRequest = 2;
// A kind that is not a decimal number: answered like any unknown kind.
inline constexpr int kKindUnreadable = -1;

// Reply codes.
inline constexpr int kReplyAccepted = 0;     // admitted; hang-up recorded; unknown kind
inline constexpr int kReplyRefused = 1;      // new connection refused
inline constexpr int kReplyKeepAddress = 2;  // address request: keep the proposed one
inline constexpr int kReplyUseAddress = 3;   // address request: use the one that follows

// The code of the one answer ("10") to a message the service does not act on
// (five or fewer fields, a field longer than kFieldLimit, an account no record
// can hold): a refusal, so that no client takes it for an admission or an address.
inline constexpr int kReplyNotActedOn = kReplyRefused;

// ---- Messages ----

struct ProtocolMessage {
  int kind = 0;
  std::string port;
  std::string user;
  std::string machine;
  long time = 0;
  long address = 0;
  long duration = 0;
  int tokenCount = 0;
  // Longest text field seen; a field beyond kFieldLimit makes the message unusable.
  std::size_t longestField = 0;
};

// Splits at ','; empty fields between consecutive commas are skipped. Returns
// the number of tokens (further tokens are counted and ignored). Numbers are
// read with atoi's decimal conversion.
int TokenizeMessage(std::string_view text, ProtocolMessage* message);

// True for a message whose first 13 characters are "UPDATE_UPDATE".
bool IsUpdateMessage(std::string_view text);

// The messages clients send. Every text field must be non-empty and free of
// ',' (either would move the tokens after it); `time` is sent as given, which
// lets a hook pass on "*" for a start it does not know. Nothing (nullopt) when
// a field breaks that rule or the message would not fit kMessageBufferSize,
// so that no cut or shifted message is ever sent.
//   "0,<port>,<user>,<machine>,<time>,0,0"
std::optional<std::string> NewConnectionMessage(std::string_view port, std::string_view user,
                                                std::string_view machine, std::string_view time);
//   "1,<port>,<user>,<machine>,<start>,0,<duration>"
std::optional<std::string> HangUpMessage(std::string_view port, std::string_view user,
                                         std::string_view machine, std::string_view start,
                                         long duration);
//   "2,<port>,<user>,*,*,<address>,0"; `address` first octet high.
std::optional<std::string> AddressRequestMessage(std::string_view port, std::string_view user,
                                                 std::int32_t address);

// A port name a message may carry: "??" (the port is not known), or 1 to
// kMaxPortName letters, digits, '-', '_' and '.', beginning with a letter or
// digit ("COM1", "VPN0-12", "ISDN2-1.1"). That is every name the
// remote-access service gives a port. Anything else is refused before it can
// name a section of the shared files, so that a caller cannot grow them
// without bound nor reach another section through blanks, brackets or a '\'.
inline constexpr std::size_t kMaxPortName = 16;
bool IsPlausiblePortName(std::string_view port);

// ---- Replies ----

// "%d%d".
std::string FormatReply(int code, std::int32_t address);

// The reply's code: its first character; a reply without a leading digit
// reads as kReplyAccepted.
int ReplyCode(std::string_view reply);

// For a reply of kReplyUseAddress: the signed 32-bit decimal after the code,
// as the remote-access service expects it. False when no such number follows.
bool ReplyAddress(std::string_view reply, std::uint32_t* address);

// What a reply to `message` means, in words, for a person ("admitted",
// "refused", "use address 10.0.0.77", "settings re-read"); empty for a reply
// this protocol does not know.
std::string DescribeReply(std::string_view message, std::string_view reply);

// ---- Addresses ----

// The byte swap between our address order (first octet high) and the
// remote-access service's: the four bytes reversed. It is its own inverse.
std::int32_t RevertDWORD(std::int32_t value);

}  // namespace common
