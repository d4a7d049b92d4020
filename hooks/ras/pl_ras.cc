// PL_RAS.dll: the administration extension that the NT 4 remote-access
// service loads (DLLPath under Software\Microsoft\RAS\AdminDLL). Each call
// becomes one message to the Portulon service on \\.\pipe\plsvcpipe, and the
// reply becomes the answer. When the service cannot be reached the caller is
// admitted with the address proposed.
//
// The module keeps no state about connections; the remote-access service may
// call it from several threads at once.
#include "hooks/ras/pl_ras.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "common/call_service.h"
#include "common/pipe_protocol.h"
#include "common/ras_client.h"
#include "common/trace.h"
#include "hooks/decision_note.h"
#include "hooks/hook_state.h"
#include "platform/errors.h"
#include "platform/sysinfo.h"
#include "platform/wide.h"

namespace {

using plat::BOOL;
using plat::DWORD;
using plat::WCHAR;
namespace rassapi = plat::rassapi;

hooks::HookState& State() {
  static hooks::HookState state(common::RasHookTraceOptions(),
                                reinterpret_cast<const void*>(&State), "PL_RAS::Transact",
                                common::CallTrace::kOneLine, false);
  return state;
}

struct PortNames {
  explicit PortNames(const rassapi::RAS_PORT_0& p)
      : port(plat::FromWide(p.wszPortName, rassapi::RASSAPI_MAX_PORT_NAME)),
        domain(plat::FromWide(p.wszLogonDomain, rassapi::DNLEN + 1)),
        user(plat::FromWide(p.wszUserName, rassapi::UNLEN + 1)),
        computer(plat::FromWide(p.wszComputer, rassapi::NETBIOS_NAME_LEN)) {}
  std::string port, domain, user, computer;
};

BOOL AcceptNewConnection(rassapi::RAS_PORT_1* port) {
  State().Trace("PL_RAS::RasAdminAcceptNewConnection", port ? "" : "no port record", 0);
  if (!port) return plat::TRUE;
  const PortNames n(port->rasport0);
  const std::string machine = common::RasClientMachine(*port);
  const std::string now = std::to_string(static_cast<long>(plat::Now()));
  const std::optional<std::string> message = common::NewConnectionMessage(
      n.port, n.domain + "\\" + n.user, machine.empty() ? "*" : machine, now);
  return common::Admits(State().Ask(common::Question::AcceptConnection, message)) ? plat::TRUE
                                                                                  : plat::FALSE;
}

void ConnectionHangupNotification(rassapi::RAS_PORT_1* port) {
  State().Trace("PL_RAS::RasAdminConnectionHangupNotification", port ? "" : "no port record", 0);
  if (!port) return;
  const PortNames n(port->rasport0);
  const long start = static_cast<long>(port->rasport0.dwStartSessionTime);
  const long now = static_cast<long>(plat::Now());
  // Without a start time the service measures the session itself.
  const long duration = start > 0 && now > start ? now - start : 0;
  const std::optional<std::string> message =
      common::HangUpMessage(n.port, n.domain + "\\" + n.user, n.computer.empty() ? "*" : n.computer,
                            std::to_string(start), duration);
  State().Ask(common::Question::HangUp, message);
}

void GetIpAddressForUser(const WCHAR* userName, const WCHAR* portName, rassapi::IPADDR* address) {
  State().Trace("PL_RAS::RasAdminGetIpAddressForUser", "", 0);
  if (!address) return;
  if (const auto given = common::GivenAddress(State().AskAddress(userName, portName, *address))) {
    *address = *given;
  }
}

}  // namespace

PL_RAS_EXPORT BOOL DllMain(void* /*instance*/, DWORD /*reason*/, void* /*reserved*/) {
  return plat::TRUE;
}

PL_RAS_EXPORT BOOL RasAdminAcceptNewConnection(rassapi::RAS_PORT_1* port,
                                               rassapi::RAS_PORT_STATISTICS* /*statistics*/,
                                               rassapi::RAS_PARAMETERS* /*parameters*/) {
  return hooks::Admitting([&] { return AcceptNewConnection(port); });
}

PL_RAS_EXPORT void RasAdminConnectionHangupNotification(
    rassapi::RAS_PORT_1* port, rassapi::RAS_PORT_STATISTICS* /*statistics*/,
    rassapi::RAS_PARAMETERS* /*parameters*/) {
  hooks::Guarded([&] { ConnectionHangupNotification(port); });
}

PL_RAS_EXPORT DWORD RasAdminGetIpAddressForUser(WCHAR* userName, WCHAR* portName,
                                                rassapi::IPADDR* address, BOOL* notifyRelease) {
  if (notifyRelease) *notifyRelease = plat::FALSE;
  hooks::Guarded([&] { GetIpAddressForUser(userName, portName, address); });
  return 0;
}

PL_RAS_EXPORT void RasAdminReleaseIpAddress(WCHAR* userName, WCHAR* portName,
                                            rassapi::IPADDR* /*address*/) {
  hooks::Guarded([&] {
    State().Trace("PL_RAS::RasAdminReleaseIpAddress",
                  "user name:(" + hooks::BoundedName(userName) + "), port name:(" +
                      hooks::BoundedName(portName) + ")",
                  0);
  });
}

PL_RAS_EXPORT plat::BOOL AdminDescribeDecision(const char* portName, const char* account,
                                  plat::BOOL admitted, long long callStart, char* text,
                                  plat::DWORD textSize) {
  return hooks::DescribeDecision(portName, account, admitted, callStart, text, textSize);
}
