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

#include "common/pipe_protocol.h"
#include "common/ras_client.h"
#include "common/trace.h"
#include "hooks/decision_note.h"
#include "hooks/hook_state.h"
#include "platform/errors.h"
#include "platform/pipe.h"
#include "platform/sysinfo.h"
#include "platform/wide.h"

namespace {

using plat::BOOL;
using plat::DWORD;
using plat::WCHAR;
namespace rassapi = plat::rassapi;

constexpr size_t kMessageSize = common::kMessageBufferSize;  // message and reply: 2000 bytes
constexpr const char* kBadResponse = "Bad response from Portulon Service";

hooks::HookState& State() {
  static hooks::HookState state(common::RasHookTraceOptions(), reinterpret_cast<const void*>(&State));
  return state;
}

void Trace(std::string_view label, std::string_view text, long number) {
  State().Trace(label, text, number);
}

// ---- Messages ----

// A name the remote-access service passes without a size: read no further
// than a message could carry.
std::string BoundedName(const WCHAR* name) { return plat::FromWide(name, kMessageSize); }

// One call and wait on the service's pipe. On success the reply, cut at the
// bytes read.
bool Transact(const std::string& message, std::string* reply) {
  std::string in;
  const DWORD err =
      plat::CallNamedPipe(common::kPipeName, message, &in, kMessageSize, common::kPipeWaitMs);
  if (err != plat::ERROR_SUCCESS) {
    Trace("PL_RAS::Transact",
          std::string("out->(") + message + "), in<-failed (error:" + std::to_string(err) + ")",
          static_cast<long>(err));
    return false;
  }
  Trace("PL_RAS::Transact", std::string("out->(") + message + "), in<-(" + in + ")",
        static_cast<long>(in.size()));
  *reply = std::move(in);
  return true;
}

std::int32_t RevertDWORD(std::int32_t value) {
  const std::int32_t reverted = common::RevertDWORD(value);
  Trace("RevertDWORD", std::to_string(value), reverted);
  return reverted;
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
  Trace("PL_RAS::RasAdminAcceptNewConnection", port ? "" : "no port record", 0);
  if (!port) return plat::TRUE;
  const PortNames n(port->rasport0);
  const std::string machine = common::RasClientMachine(*port);
  const std::string now = std::to_string(static_cast<long>(plat::Now()));
  const std::optional<std::string> message = common::NewConnectionMessage(
      n.port, n.domain + "\\" + n.user, machine.empty() ? "*" : machine, now);
  std::string reply;
  if (!message || !Transact(*message, &reply)) {
    if (!message) Trace("PL_RAS::Transact", "message cannot be built, not sent", 0);
    State().ReportFailure("Transaction failed on AcceptConnection", kBadResponse);
    return plat::TRUE;
  }
  return common::ReplyCode(reply) == common::kReplyAccepted ? plat::TRUE : plat::FALSE;
}

void ConnectionHangupNotification(rassapi::RAS_PORT_1* port) {
  Trace("PL_RAS::RasAdminConnectionHangupNotification", port ? "" : "no port record", 0);
  if (!port) return;
  const PortNames n(port->rasport0);
  const long start = static_cast<long>(port->rasport0.dwStartSessionTime);
  const long now = static_cast<long>(plat::Now());
  // Without a start time the service measures the session itself.
  const long duration = start > 0 && now > start ? now - start : 0;
  const std::optional<std::string> message =
      common::HangUpMessage(n.port, n.domain + "\\" + n.user, n.computer.empty() ? "*" : n.computer,
                            std::to_string(start), duration);
  if (!message) {
    Trace("PL_RAS::Transact", "message cannot be built, not sent", 0);
    return;
  }
  std::string reply;
  Transact(*message, &reply);
}

void GetIpAddressForUser(const WCHAR* userName, const WCHAR* portName, rassapi::IPADDR* address) {
  Trace("PL_RAS::RasAdminGetIpAddressForUser", "", 0);
  if (!address) return;
  const std::string user = BoundedName(userName);
  const std::string portText = BoundedName(portName);
  const std::int32_t proposed = RevertDWORD(static_cast<std::int32_t>(*address));
  const std::optional<std::string> message =
      common::AddressRequestMessage(portText.empty() ? "??" : portText, user, proposed);
  std::string reply;
  if (!message || !Transact(*message, &reply)) {
    if (!message) Trace("PL_RAS::Transact", "message cannot be built, not sent", 0);
    State().ReportFailure("Transaction failed on GetIP", kBadResponse);
    return;
  }
  rassapi::IPADDR given = 0;
  if (common::ReplyCode(reply) == common::kReplyUseAddress && common::ReplyAddress(reply, &given)) {
    *address = given;
  }
}

}  // namespace

// The remote-access service is no C++ caller: nothing may escape an export.
// A failure inside (memory exhausted) ends as a call the service did not
// answer would: the caller admitted, the address kept.

PL_RAS_EXPORT BOOL DllMain(void* /*instance*/, DWORD /*reason*/, void* /*reserved*/) {
  return plat::TRUE;
}

PL_RAS_EXPORT BOOL RasAdminAcceptNewConnection(rassapi::RAS_PORT_1* port,
                                               rassapi::RAS_PORT_STATISTICS* /*statistics*/,
                                               rassapi::RAS_PARAMETERS* /*parameters*/) {
  try {
    return AcceptNewConnection(port);
  } catch (...) {
    return plat::TRUE;
  }
}

PL_RAS_EXPORT void RasAdminConnectionHangupNotification(
    rassapi::RAS_PORT_1* port, rassapi::RAS_PORT_STATISTICS* /*statistics*/,
    rassapi::RAS_PARAMETERS* /*parameters*/) {
  try {
    ConnectionHangupNotification(port);
  } catch (...) {
  }
}

PL_RAS_EXPORT DWORD RasAdminGetIpAddressForUser(WCHAR* userName, WCHAR* portName,
                                                rassapi::IPADDR* address, BOOL* notifyRelease) {
  if (notifyRelease) *notifyRelease = plat::FALSE;
  try {
    GetIpAddressForUser(userName, portName, address);
  } catch (...) {
  }
  return 0;
}

PL_RAS_EXPORT void RasAdminReleaseIpAddress(WCHAR* userName, WCHAR* portName,
                                            rassapi::IPADDR* /*address*/) {
  try {
    Trace("PL_RAS::RasAdminReleaseIpAddress",
          "user name:(" + BoundedName(userName) + "), port name:(" + BoundedName(portName) + ")", 0);
  } catch (...) {
  }
}

PL_RAS_EXPORT plat::BOOL AdminDescribeDecision(const char* portName, const char* account,
                                  plat::BOOL admitted, long long callStart, char* text,
                                  plat::DWORD textSize) {
  return hooks::DescribeDecision(portName, account, admitted, callStart, text, textSize);
}
