// The OpenVPN adapter: for an OpenVPN server it plays the part that the
// remote-access service and its hook module play for RAS. It holds OpenVPN's
// management connection (with --management-client-auth, every client waits
// for our word) and turns each client into a port:
//   CONNECT     -> address request and new-connection message to plsvc;
//                  client-auth (with the fixed address, if any) or client-deny
//                  with the reason in words
//   DISCONNECT  -> the session-statistics record in the System log (bytes and
//                  duration as OpenVPN counted them), then the hang-up message
//   REAUTH      -> allowed: a renegotiation is no new session
// and serves plsvc's port operations (traffic, disconnect) on
// \\.\pipe\plportops from the same connection. When plsvc cannot be reached
// the client is admitted and event 1 of the source "Portulon" says so, as the
// hook modules do. When OpenVPN goes away the adapter connects again; clients
// that left meanwhile get their hang-up from the last counts seen, and no
// client is ever put to plsvc twice.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "adapters/openvpn/adapter_settings.h"
#include "adapters/openvpn/management_relay.h"
#include "adapters/openvpn/management_session.h"
#include "adapters/openvpn/management_text.h"
#include "adapters/openvpn/port_memory.h"
#include "adapters/openvpn/vpn_ports.h"
#include "common/call_service.h"
#include "common/port_ops_protocol.h"
#include "platform/eventlog.h"

namespace ovpn {

class Adapter {
 public:
  explicit Adapter(AdapterSettings settings);
  ~Adapter();

  // Serves the port operations, then connects to OpenVPN and handles its
  // clients until Stop(); connects again (once a second) whenever OpenVPN is
  // not there. `ready` is called once the pipe is served.
  void Run(const std::function<void()>& ready = nullptr);
  // Makes Run return soon. Safe from any thread (a control handler).
  void Stop();

 private:
  void OnNotification(const std::string& line);  // reader thread
  void Handle(const ClientEvent& event);
  void HandleConnect(const ClientEvent& event);
  void HandleDisconnect(const ClientEvent& event);
  void Reconcile();
  // Gives a port to clients that were listed without a CONNECT (see .cc).
  void AdoptUnclaimed();
  // The System-log record and the hang-up message of a session that ended.
  void HangUp(const std::string& port, const VpnClient& client, std::uint64_t received,
              std::uint64_t sent, long duration);
  plat::DWORD Command(const std::string& text, bool multiLine, std::vector<std::string>* reply);
  plat::DWORD Traffic(const std::string& port, std::uint64_t* sent, std::uint64_t* received);
  // Ends the client for good, telling it why (common/cut_reason.h).
  plat::DWORD Disconnect(const std::string& port, int reason);
  // A port's client: bytes, tunnel address and certificate name.
  plat::DWORD Client(const std::string& port, common::PortOpsReply* reply);
  // The client's line of a "status 3" at most kStatusFresh old.
  plat::DWORD StatusOf(std::uint32_t cid, StatusClient* out);
  // Writes the ports whose sessions stand to the port memory; the caller
  // holds mutex_, so that the file follows the table's order of changes.
  void RememberLocked();
  // The index-th port whose session stands (port order), for a service that
  // starts again; common::kNoMoreSessions past the last.
  plat::DWORD Session(unsigned index, common::PortOpsReply* reply);

  const AdapterSettings settings_;
  std::atomic<bool> stop_{false};
  std::thread portOpsThread_;
  plat::EventSource systemLog_;    // RemoteAccess: session records
  plat::EventSource portulonLog_;  // Portulon: what went wrong
  const common::CallerVoice voice_;  // plsvc's questions, as the hook modules ask them
  ManagementRelay relay_;

  std::mutex mutex_;  // guards every member below
  std::condition_variable changed_;
  std::shared_ptr<ManagementSession> session_;
  ClientEventReader eventReader_;   // used on the reader thread only, under mutex_
  std::deque<ClientEvent> events_;  // notifications not yet handled
  VpnPorts ports_;
  long openVpnPid_ = 0;  // the OpenVPN process last connected to
  // Clients OpenVPN listed that hold no port, and since when.
  std::map<std::uint32_t, std::chrono::steady_clock::time_point> unclaimed_;
  bool outageReported_ = false;
  // The ports a previous adapter left (read once at start, used by the first
  // reconciliation), and where they are kept.
  std::string memoryFile_;
  std::optional<RememberedPorts> remembered_;

  std::mutex statusMutex_;  // guards the two below; taken before mutex_, never inside it
  std::vector<StatusClient> lastStatus_;
  std::chrono::steady_clock::time_point statusTaken_{};
};

}  // namespace ovpn
