// PL_RRAS.dll: the administration extension that the Windows 2000 router
// loads (DLLPath under Software\Microsoft\RAS\AdminDLL). The router tells of
// a connection (the caller) and of its links (ports) in separate calls, so
// the caller is remembered in the scratch file ~rras.tmp between the two;
// each link then becomes one message to the Portulon service on
// \\.\pipe\plsvcpipe. When the service cannot be reached the link is
// admitted with the address proposed.
//
// The router may call from several threads at once: every call works on its
// own stack and the scratch file, whose writes the profile functions
// serialise.
#include "hooks/rras/pl_rras.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/call_service.h"
#include "common/pipe_protocol.h"
#include "common/trace.h"
#include "hooks/decision_note.h"
#include "hooks/hook_state.h"
#include "platform/errors.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "platform/text.h"
#include "platform/wide.h"

namespace {

using plat::BOOL;
using plat::DWORD;
using plat::WCHAR;
namespace mprapi = plat::mprapi;

constexpr const char* kScratchFile = "~rras.tmp";
constexpr const char* kUnknown = "*";

hooks::HookState& State() {
  static hooks::HookState state(common::RrasHookTraceOptions(),
                                reinterpret_cast<const void*>(&State), "PL_RRAS::Transact",
                                common::CallTrace::kOutThenIn, true);
  return state;
}

// The scratch file's section of a connection: its handle as "%.08X".
std::string Section(mprapi::HANDLE connection) {
  return plat::FormatText("%.08X", static_cast<unsigned>(mprapi::HandleValue(connection)));
}

// What the scratch file holds about a connection; "*" for what it does not.
struct Caller {
  std::string user = kUnknown;
  std::string computer = kUnknown;
  std::string start = kUnknown;  // decimal seconds since 1970, or "*"
};

bool IsDecimal(const std::string& text) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

Caller ReadCaller(mprapi::HANDLE connection) {
  const std::string section = Section(connection);
  Caller c;
  c.user = plat::ProfileGetString(kScratchFile, section, "U", kUnknown);
  c.computer = plat::ProfileGetString(kScratchFile, section, "C", kUnknown);
  c.start = plat::ProfileGetString(kScratchFile, section, "T", kUnknown);
  // A start that is no time is as good as none.
  if (!IsDecimal(c.start)) c.start = kUnknown;
  if (c.user.empty()) c.user = kUnknown;
  if (c.computer.empty()) c.computer = kUnknown;
  return c;
}

BOOL AcceptNewConnection(mprapi::RAS_CONNECTION_0* c) {
  State().Trace("PL_RRAS::MprAdminAcceptNewConnection", c ? "" : "no connection record", 0);
  if (!c) return plat::TRUE;
  plat::Beep(4000, 300);
  const std::string domain = plat::FromWide(c->wszLogonDomain, mprapi::DNLEN + 1);
  const std::string user = plat::FromWide(c->wszUserName, mprapi::UNLEN + 1);
  std::string computer = plat::FromWide(c->wszRemoteComputer, mprapi::NETBIOS_NAME_LEN + 1);
  if (computer.empty()) computer = kUnknown;
  const std::string section = Section(c->hConnection);
  // One rewrite: a reused handle's section never mixes two callers.
  const DWORD err = plat::ProfileApply(
      kScratchFile, {{section, "U", domain + "\\" + user},
                     {section, "C", computer},
                     {section, "T", std::to_string(static_cast<long long>(plat::Now()))}});
  if (err != plat::ERROR_SUCCESS) {
    State().Trace("PL_RRAS::MprAdminAcceptNewConnection", "Cannot write ~rras.tmp",
                  static_cast<long>(err));
  }
  return plat::TRUE;
}

BOOL AcceptNewLink(mprapi::RAS_PORT_0* port) {
  State().Trace("PL_RRAS::MprAdminAcceptNewLink", port ? "" : "no port record", 0);
  if (!port) return plat::TRUE;
  const std::string portName = plat::FromWide(port->wszPortName, mprapi::MAX_PORT_NAME + 1);
  const Caller caller = ReadCaller(port->hConnection);
  const common::ServiceReply reply = State().Ask(
      common::Question::AcceptConnection,
      common::NewConnectionMessage(portName, caller.user, caller.computer, caller.start));
  if (common::Admits(reply)) return plat::TRUE;
  State().Trace("Not Accepting Connection", reply.text, reply.code());
  return plat::FALSE;
}

void LinkHangupNotification(mprapi::RAS_PORT_0* port) {
  State().Trace("PL_RRAS::MprAdminLinkHangupNotification", port ? "" : "no port record", 0);
  if (!port) return;
  const std::string portName = plat::FromWide(port->wszPortName, mprapi::MAX_PORT_NAME + 1);
  const Caller caller = ReadCaller(port->hConnection);
  long duration = static_cast<long>(port->dwConnectDuration);
  if (duration == 0 && caller.start != kUnknown) {
    const long long start = std::stoll(caller.start);
    const long long now = static_cast<long long>(plat::Now());
    duration = now > start ? static_cast<long>(now - start) : 0;
  }
  // Without a start the service measures the session itself (duration 0),
  // never "now minus 1970".
  State().Ask(common::Question::HangUp,
              common::HangUpMessage(portName, caller.user, kUnknown, "0", duration));
}

void GetIpAddressForUser(const WCHAR* userName, const WCHAR* portName, DWORD* address) {
  State().Trace("PL_RRAS::MprAdminGetIpAddressForUser", "", 0);
  if (!address) return;
  const common::ServiceReply reply = State().AskAddress(userName, portName, *address);
  if (!reply.answered()) return;
  if (const auto given = common::GivenAddress(reply)) {
    State().Trace("PL_RRAS::MprAdminGetIpAddressForUser", "Use alternative IP address",
                  static_cast<long>(static_cast<std::int32_t>(*given)));
    *address = *given;
  } else {
    State().Trace("PL_RRAS::MprAdminGetIpAddressForUser", "Use Original IP address", 0);
  }
}

}  // namespace

PL_RRAS_EXPORT BOOL DllMain(void* /*instance*/, DWORD /*reason*/, void* /*reserved*/) {
  return plat::TRUE;
}

PL_RRAS_EXPORT BOOL MprAdminAcceptNewConnection(mprapi::RAS_CONNECTION_0* connection0,
                                                mprapi::RAS_CONNECTION_1* /*connection1*/) {
  return hooks::Admitting([&] { return AcceptNewConnection(connection0); });
}

PL_RRAS_EXPORT BOOL MprAdminAcceptNewLink(mprapi::RAS_PORT_0* port0, mprapi::RAS_PORT_1* /*port1*/) {
  return hooks::Admitting([&] { return AcceptNewLink(port0); });
}

PL_RRAS_EXPORT void MprAdminConnectionHangupNotification(mprapi::RAS_CONNECTION_0* /*connection0*/,
                                                         mprapi::RAS_CONNECTION_1* /*connection1*/) {
}

PL_RRAS_EXPORT void MprAdminLinkHangupNotification(mprapi::RAS_PORT_0* port0,
                                                   mprapi::RAS_PORT_1* /*port1*/) {
  hooks::Guarded([&] { LinkHangupNotification(port0); });
}

PL_RRAS_EXPORT DWORD MprAdminGetIpAddressForUser(WCHAR* userName, WCHAR* portName, DWORD* address,
                                                 BOOL* notifyRelease) {
  if (notifyRelease) *notifyRelease = plat::FALSE;
  hooks::Guarded([&] { GetIpAddressForUser(userName, portName, address); });
  return 0;
}

PL_RRAS_EXPORT void MprAdminReleaseIpAddress(WCHAR* /*userName*/, WCHAR* /*portName*/,
                                             DWORD* /*address*/) {}

PL_RRAS_EXPORT plat::BOOL AdminDescribeDecision(const char* portName, const char* account,
                                  plat::BOOL admitted, long long callStart, char* text,
                                  plat::DWORD textSize) {
  return hooks::DescribeDecision(portName, account, admitted, callStart, text, textSize);
}
