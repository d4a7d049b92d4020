// The remote-access stand-in's own pipe, \\.\pipe\rassvc: what rasctl and the
// RASSAPI.DLL stand-in ask rassvc, and how the answers read. Declared once
// here for the daemon and its clients.
//
// A request is one message: a verb and its fields, separated by tabs.
//   DIAL       port domain user computer wksta address callback links
//   TRAFFIC    port sent received      (adds to the port's byte counters)
//   HANGUP     port                    (the user hangs up; answered when done)
//   DISCONNECT port                    (an administrator's disconnect; answered
//                                       at once, the hang-up follows)
//   PORTS                              (every port)
//   PORT       port                    (one port)
//   STALL      seconds                 (the router's administration calls,
//                                       PORTS and PORT, hang that long; 0 ends it)
// A reply begins "OK" or "ERR"; "ERR" carries a Win32 code and a text meant
// for people. Fields never contain tabs or line breaks (rassvc refuses them).
//
// Addresses: the remote-access service keeps an IP address as the hook
// modules receive it, the first octet in the least significant byte (the
// in-memory order of the four address bytes on this machine). The
// service's pipe protocol writes addresses with the first octet in the most
// significant byte; PL_RAS converts between the two.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ras/rassapi.h"
#include "platform/win_types.h"

namespace plat::ras {

inline constexpr const char* kPipeName = "\\\\.\\pipe\\rassvc";
// Room for the port list of the largest machine (256 ports).
inline constexpr size_t kReplyLimit = 256 * 1024;
// How long a client waits for a free instance of the pipe (rassvc accepts at
// once; the reply itself may take as long as the hook calls of a dial-in).
inline constexpr DWORD kCallTimeoutMs = 10000;

// Errors rassvc gives besides the general ones.
inline constexpr DWORD ERROR_DEV_NOT_EXIST = 55;  // no such port
inline constexpr DWORD ERROR_BUSY = 170;          // the port is in use
inline constexpr DWORD ERROR_NOT_CONNECTED = 2250;  // nobody is connected on the port

// Longest texts the remote-access structures hold (their buffers less the NUL).
inline constexpr size_t kMaxDomain = rassapi::DNLEN;                    // 15
inline constexpr size_t kMaxUser = rassapi::UNLEN;                      // 256
inline constexpr size_t kMaxComputer = rassapi::NETBIOS_NAME_LEN - 1;   // 15
inline constexpr size_t kMaxWksta = rassapi::NETBIOS_NAME_LEN - 1;      // 15
inline constexpr size_t kMaxCallback = 48;

enum class PortState {
  Listening,      // free, waiting for a call
  Connecting,     // a call is being set up: the extension is being asked
  Connected,      // a session is in progress
  Disconnecting,  // the session is being ended
};
const char* PortStateName(PortState state);

// One port as rassvc reports it.
struct PortInfo {
  std::string name;
  PortState state = PortState::Listening;
  std::string domain;
  std::string user;
  std::string computer;
  std::string wksta;
  std::string callback;
  std::time_t start = 0;                  // 0 while free
  rassapi::IPADDR address = 0;            // remote-access order
  DWORD handle = 0;                       // the port's handle (1, 2, ...); not on the wire
  DWORD connection = 0;                   // router: the connection the link belongs to, 0 none
  std::time_t connected = 0;              // router: when that connection came up
  std::uint64_t bytesSent = 0;            // by the server to the caller
  std::uint64_t bytesReceived = 0;        // by the server from the caller
  DWORD lineSpeed = 0;                    // bits per second
};

struct DialRequest {
  std::string port;
  std::string domain;
  std::string user;
  std::string computer;  // the remote computer; may begin with "?" when unknown
  std::string wksta;     // NetBIOS workstation name; empty: no NetBIOS projection
  std::string address;   // proposed address a.b.c.d; empty: the port's pool address
  std::string callback;  // call-back number; empty: none
  int links = 1;         // router: links of the connection, on PORT and the next free ports
};
inline constexpr int kMaxLinks = 8;

// ---- Texts ----

// "a.b.c.d" <-> the remote-access order. False for anything but four decimal
// octets of at most 255.
bool ParseIpAddress(std::string_view text, rassapi::IPADDR* address);
std::string FormatIpAddress(rassapi::IPADDR address);

// Splits "DOMAIN\user". False, with the reason in *why, for anything but one
// backslash between a domain of 1 to 15 and a user of 1 to 256 characters
// that are allowed in account names.
bool SplitAccount(std::string_view account, std::string* domain, std::string* user,
                  std::string* why);

// Checks the fields of a dial request (account as SplitAccount, names within
// their buffers, an address that parses, a call-back number of digits and
// dialling characters). False with the reason in *why.
bool ValidateDialRequest(const DialRequest& request, std::string* why);

// ---- Wire format ----

std::vector<std::string> SplitFields(std::string_view message);
std::string JoinFields(const std::vector<std::string>& fields);

std::string EncodeDial(const DialRequest& request);
bool DecodeDial(const std::vector<std::string>& fields, DialRequest* request);

std::string EncodePort(const PortInfo& port);
bool DecodePort(std::string_view line, PortInfo* port);

std::string ErrorReply(DWORD error, std::string_view text);

// ---- The NT 4 structures ----

// What the remote-access service fills in for a port: the records its
// administration extension receives and RasAdminPortGetInfo answers. Texts
// are cut to their buffers.
void FillRasPort0(const PortInfo& port, rassapi::RAS_PORT_0* out);
void FillRasPort1(const PortInfo& port, rassapi::RAS_PORT_1* out);
void FillRasPortStatistics(const PortInfo& port, rassapi::RAS_PORT_STATISTICS* out);

// ---- Client side ----

// Sends one request to rassvc on `server` (empty, "." or "\\NAME") and reads
// the reply. On "OK" returns ERROR_SUCCESS with the fields after "OK" (a
// multi-line reply: its lines after the first in *lines). On "ERR" returns
// its code with its text in *errorText. A machine whose remote-access
// service does not run gives RPC_S_SERVER_UNAVAILABLE; an unknown or down
// machine ERROR_BAD_NETPATH.
DWORD CallRasService(std::string_view server, std::string_view request,
                     std::vector<std::string>* fields, std::vector<std::string>* lines,
                     std::string* errorText);
// Every port of rassvc on `server`, in its order: CallRasService's errors,
// ERROR_INVALID_DATA for a port line that does not read.
DWORD ListRasPorts(std::string_view server, std::vector<PortInfo>* ports);

}  // namespace plat::ras
