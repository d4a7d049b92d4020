#include "adapters/openvpn/adapter.h"

#include <chrono>
#include <cstdlib>
#include <optional>

#include "common/cut_reason.h"
#include "common/dial_outcome.h"
#include "common/event_ids.h"
#include "common/pipe_protocol.h"
#include "common/port_ops_protocol.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/pipe.h"
#include "platform/ras/ras_service.h"
#include "platform/sysinfo.h"

namespace ovpn {

namespace {

using plat::DWORD;

// "status 3" answers for every port within this long, so that a supervision
// pass over many ports asks OpenVPN once.
constexpr auto kStatusFresh = std::chrono::milliseconds(500);
// OpenVPN lists a client that still waits for our word, and sends its CONNECT
// again once we are connected; a client listed this long without one was let
// in before we came (an adapter restarted).
constexpr auto kUnclaimedGrace = std::chrono::seconds(5);

void Trace(std::string_view label, std::string_view text, long number = 0) {
  common::Trace(label, text, number);
}

template <typename T>
std::optional<T> Number(const std::string& text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  return static_cast<T>(std::strtoull(text.c_str(), nullptr, 10));
}

bool IsSuccess(const std::vector<std::string>& reply) {
  return !reply.empty() && reply.front().rfind("SUCCESS:", 0) == 0;
}

}  // namespace

Adapter::Adapter(AdapterSettings settings)
    : settings_(std::move(settings)),
      voice_{[](std::string_view label, std::string_view text,
                long number) { Trace(label, text, number); },
             [this](const std::string& what, const std::string& detail) {
               portulonLog_.Report(plat::EVENTLOG_ERROR_TYPE, 0, common::kEventTransactionFailed,
                                   {what, detail});
             },
             common::CallTrace::kFailures, true},
      ports_(settings_.portPrefix, settings_.ports) {}

Adapter::~Adapter() {
  Stop();
  if (portOpsThread_.joinable()) portOpsThread_.join();
}

void Adapter::Stop() {
  stop_ = true;
  std::shared_ptr<ManagementSession> session;
  {
    std::lock_guard lock(mutex_);
    session = session_;
    changed_.notify_all();
  }
  if (session) session->Close();
}

void Adapter::OnNotification(const std::string& line) {
  if (line.rfind(">CLIENT:", 0) != 0) {
    if (line.rfind(">INFO:", 0) != 0) Trace("OpenVPN", line);
    return;
  }
  std::lock_guard lock(mutex_);
  if (std::optional<ClientEvent> event = eventReader_.Feed(line)) {
    events_.push_back(std::move(*event));
    changed_.notify_all();
  }
}

DWORD Adapter::Command(const std::string& text, bool multiLine, std::vector<std::string>* reply) {
  std::shared_ptr<ManagementSession> session;
  {
    std::lock_guard lock(mutex_);
    session = session_;
  }
  if (!session) return plat::ERROR_BROKEN_PIPE;
  const DWORD err = session->Command(text, multiLine, reply);
  if (err != plat::ERROR_SUCCESS)
    Trace("Management command failed", text.substr(0, text.find('\n')), static_cast<long>(err));
  return err;
}

void Adapter::Run(const std::function<void()>& ready) {
  plat::EventSource::Register("", "RemoteAccess", &systemLog_);
  plat::EventSource::Register("", "Portulon", &portulonLog_);
  memoryFile_ = PortMemoryFile();
  {
    std::lock_guard lock(mutex_);
    remembered_ = LoadPortMemory(memoryFile_);
  }
  if (settings_.managementRelay != "none") {
    const DWORD err = relay_.Start(settings_.managementRelay,
                                   [this](const std::string& c, bool multi, std::vector<std::string>* r) {
                                     return Command(c, multi, r);
                                   });
    Trace("Adapter",
          (err == plat::ERROR_SUCCESS ? "Management relay on " : "Cannot serve the management relay ") +
              settings_.managementRelay,
          static_cast<long>(err));
  }
  plat::NamedPipeServer pipe;
  if (const DWORD err = plat::NamedPipeServer::Create(common::kPortOpsPipeName, 1, &pipe);
      err != plat::ERROR_SUCCESS) {
    // Clients are still checked; only supervision cannot reach them.
    Trace("Adapter", "Cannot serve the port operations pipe", static_cast<long>(err));
  } else {
    portOpsThread_ = std::thread([this, p = std::move(pipe)]() mutable {
      plat::NamedPipeServer server = std::move(p);
      while (!stop_) {
        plat::PipeConnection client;
        if (server.WaitForClient(&client, 500) != plat::ERROR_SUCCESS) continue;
        std::string request;
        if (client.Read(&request, common::kPortOpsBufferSize, 2000) != plat::ERROR_SUCCESS)
          continue;
        common::PortOpsRequest r;
        common::PortOpsReply reply;
        if (!common::ParsePortOpsRequest(request, &r)) {
          reply.error = plat::ERROR_INVALID_PARAMETER;
        } else if (r.op == common::PortOp::Traffic) {
          reply.error = Traffic(r.port, &reply.sent, &reply.received);
        } else if (r.op == common::PortOp::Session) {
          reply.error = Session(r.index, &reply);
        } else if (r.op == common::PortOp::Client) {
          reply.error = Client(r.port, &reply);
        } else {
          reply.error = Disconnect(r.port, r.reason);
        }
        client.Write(common::FormatPortOpsReply(r.op, reply));
        client.Disconnect();
      }
    });
  }
  if (ready) ready();

  while (!stop_) {
    {
      std::lock_guard lock(mutex_);
      eventReader_ = ClientEventReader();
    }
    std::unique_ptr<ManagementSession> opened;
    const DWORD err = ManagementSession::Open(
        settings_.management, [this](const std::string& line) { OnNotification(line); }, 10000,
        &opened);
    if (err != plat::ERROR_SUCCESS) {
      bool report = false;
      {
        std::unique_lock lock(mutex_);
        report = !outageReported_;
        outageReported_ = true;
        changed_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_.load(); });
      }
      if (report)
        Trace("Adapter", "OpenVPN's management interface does not answer: " + settings_.management,
              static_cast<long>(err));
      continue;
    }
    std::shared_ptr<ManagementSession> session(std::move(opened));
    {
      std::lock_guard lock(mutex_);
      session_ = session;
      outageReported_ = false;
    }
    Trace("Adapter", "Connected to OpenVPN: " + settings_.management);
    Reconcile();
    // With --management-hold OpenVPN waits for us before it takes clients.
    std::vector<std::string> held;
    Command("hold release", false, &held);
    while (!stop_) {
      std::optional<ClientEvent> event;
      {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(500),
                          [this] { return stop_.load() || !events_.empty(); });
        if (!events_.empty()) {
          event = std::move(events_.front());
          events_.pop_front();
        }
      }
      if (event) {
        Handle(*event);
      } else if (!session->alive()) {
        break;
      } else {
        AdoptUnclaimed();
      }
    }
    {
      std::lock_guard lock(mutex_);
      session_.reset();
    }
    session->Close();
    if (!stop_) Trace("Adapter", "OpenVPN closed the management connection; connecting again");
  }
  if (portOpsThread_.joinable()) portOpsThread_.join();
  relay_.Stop();
}

void Adapter::Handle(const ClientEvent& event) {
  if (event.kind == ClientEventKind::Connect || event.kind == ClientEventKind::Disconnect) {
    std::lock_guard lock(mutex_);
    unclaimed_.erase(event.cid);
  }
  switch (event.kind) {
    case ClientEventKind::Connect:
      HandleConnect(event);
      break;
    case ClientEventKind::Disconnect:
      HandleDisconnect(event);
      break;
    case ClientEventKind::Reauth: {
      // A renegotiated key of a session that runs: no new session for plsvc.
      std::vector<std::string> reply;
      Command("client-auth-nt " + std::to_string(event.cid) + " " + std::to_string(event.kid),
              false, &reply);
      break;
    }
    case ClientEventKind::Established:
    case ClientEventKind::Address:
      break;
  }
}

void Adapter::HandleConnect(const ClientEvent& event) {
  const std::string ids = std::to_string(event.cid) + " " + std::to_string(event.kid);
  const std::string commonName = event.Env("common_name");
  std::vector<std::string> reply;
  auto deny = [&](const std::string& why) {
    Command("client-deny " + ids + " " + QuoteArgument("Portulon: " + why) + " " +
                QuoteArgument("Portulon: " + why),
            false, &reply);
  };
  const std::optional<std::string> checked =
      NameToCheck(settings_, event.Env("username"), commonName);
  if (!checked) {
    // A username nobody checked names nobody: never decide under it.
    Trace("PLOVPN::Connect", "Username not verified, refused: " + event.Env("username").substr(0, 120),
          static_cast<long>(event.cid));
    portulonLog_.Report(plat::EVENTLOG_WARNING_TYPE, 0, common::kEventTransactionFailed,
                        {"Refused on AcceptConnection",
                         "Username not verified by OpenVPN: " + event.Env("username").substr(0, 120) +
                             " (certificate " + commonName.substr(0, 120) + ")"});
    deny("user name not verified");
    return;
  }
  const std::string name = *checked;
  std::string nameProblem;
  const std::string account = AccountFor(settings_, name, &nameProblem).value_or("");
  if (account.empty()) {
    // Never let a name in that no profile can be checked against.
    Trace("PLOVPN::Connect", "User name cannot be checked, refused",
          static_cast<long>(name.size()));
    portulonLog_.Report(plat::EVENTLOG_WARNING_TYPE, 0, common::kEventTransactionFailed,
                        {"Refused on AcceptConnection",
                         "User name cannot be checked: " + name.substr(0, 120) + ": " + nameProblem});
    deny("user name cannot be checked: " + nameProblem);
    return;
  }
  const std::time_t start = Number<std::time_t>(event.Env("time_unix")).value_or(plat::Now());
  std::optional<std::string> port;
  {
    std::lock_guard lock(mutex_);
    port = ports_.Take({event.cid, account, commonName, start, 0, 0});
  }
  if (!port) {
    Trace("PLOVPN::Connect", "No free port for " + account);
    deny("no free port");
    return;
  }
  Trace("PLOVPN::Connect", *port + " " + account, static_cast<long>(event.cid));

  // Never an empty or cut message: a request that cannot be put is refused.
  const std::optional<std::string> addressRequest = common::AddressRequestMessage(*port, name, 0);
  const std::optional<std::string> message = common::NewConnectionMessage(
      *port, account, "*", std::to_string(static_cast<long long>(start)));
  if (!addressRequest || !message) {
    {
      std::lock_guard lock(mutex_);
      ports_.Release(event.cid);
    }
    Trace("PLOVPN::Connect", "Request cannot be put to Portulon, refused: " + account,
          static_cast<long>(event.cid));
    deny("the request cannot be put to Portulon");
    return;
  }
  // The address first, then the decision, as the remote-access service asks.
  std::string push;
  const auto given =
      common::GivenAddress(common::AskService(voice_, common::Question::GetIP, {}, addressRequest));
  if (given) {
    const auto address =
        static_cast<std::uint32_t>(common::RevertDWORD(static_cast<std::int32_t>(*given)));
    push = "ifconfig-push " + DottedAddress(address) + " " + settings_.netmask + "\n";
  }
  const common::ServiceReply answer =
      common::AskService(voice_, common::Question::AcceptConnection, "PLOVPN::Connect", message);
  if (!common::Admits(answer)) {
    {
      std::lock_guard lock(mutex_);
      ports_.Release(event.cid);
    }
    const std::string reason = common::DescribeDialOutcome(false, *port, account, start);
    Trace("Not Accepting Connection", account + reason, answer.code());
    deny("refused" + reason);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    if (VpnClient* c = ports_.Find(*port); c && c->cid == event.cid) c->decided = true;
    RememberLocked();
  }
  if (Command("client-auth " + ids + "\n" + push + "END", false, &reply) != plat::ERROR_SUCCESS ||
      !IsSuccess(reply)) {
    // The client left before it was let in: its session ends here.
    Trace("PLOVPN::Connect",
          "client-auth failed: " + (reply.empty() ? std::string() : reply.front()),
          static_cast<long>(event.cid));
    std::optional<std::pair<std::string, VpnClient>> gone;
    {
      std::lock_guard lock(mutex_);
      gone = ports_.Release(event.cid);
      RememberLocked();
    }
    if (gone) HangUp(gone->first, gone->second, 0, 0, static_cast<long>(plat::Now() - start));
  }
}

void Adapter::HandleDisconnect(const ClientEvent& event) {
  std::optional<std::pair<std::string, VpnClient>> gone;
  {
    std::lock_guard lock(mutex_);
    gone = ports_.Release(event.cid);
    if (gone) RememberLocked();
  }
  if (!gone) return;  // refused, or never ours
  const VpnClient& c = gone->second;
  const auto received =
      Number<std::uint64_t>(event.Env("bytes_received")).value_or(c.bytesReceived);
  const auto sent = Number<std::uint64_t>(event.Env("bytes_sent")).value_or(c.bytesSent);
  const std::time_t now = plat::Now();
  const long duration = Number<long>(event.Env("time_duration"))
                            .value_or(now > c.start ? static_cast<long>(now - c.start) : 0);
  HangUp(gone->first, c, received, sent, duration);
}

void Adapter::HangUp(const std::string& port, const VpnClient& c, std::uint64_t received,
                     std::uint64_t sent, long duration) {
  if (duration < 0) duration = 0;
  const std::time_t end = plat::Now();
  const std::time_t from = end - duration;
  const plat::LCID lcid = plat::GetSystemDefaultLCID();
  const std::tm a = plat::LocalTime(from);
  const std::tm b = plat::LocalTime(end);
  // The router's record: the account, the port, start and end, the length in
  // minutes and seconds, then bytes sent and received (plsvc reads the last two).
  if (systemLog_.valid()) {
    systemLog_.ReportAt(
        end, plat::EVENTLOG_INFORMATION_TYPE, 0, plat::ras::kEventRouterSessionStatistics,
        {c.account, port, plat::GetDateFormat(lcid, a), plat::GetTimeFormat(lcid, a),
         plat::GetDateFormat(lcid, b), plat::GetTimeFormat(lcid, b), std::to_string(duration / 60),
         std::to_string(duration % 60), std::to_string(sent), std::to_string(received)});
  }
  Trace("PLOVPN::HangUp", port + " " + c.account, duration);
  const std::optional<std::string> message = common::HangUpMessage(
      port, c.account, "*", std::to_string(static_cast<long long>(c.start)), duration);
  if (!message) {
    Trace("PLOVPN::HangUp", "Hang-up cannot be put to Portulon, not recorded: " + c.account);
    portulonLog_.Report(plat::EVENTLOG_ERROR_TYPE, 0, common::kEventTransactionFailed,
                        {"Transaction failed on HangUp", "Hang-up cannot be put to Portulon: " + port});
    return;
  }
  common::AskService(voice_, common::Question::HangUp, "PLOVPN::HangUp", message);
}

void Adapter::Reconcile() {
  std::vector<std::string> pidReply, status;
  if (Command("pid", false, &pidReply) != plat::ERROR_SUCCESS ||
      Command("status 3", true, &status) != plat::ERROR_SUCCESS) {
    return;  // the connection went again; the next one reconciles
  }
  long pid = 0;
  if (IsSuccess(pidReply)) {
    const std::size_t eq = pidReply.front().find("pid=");
    if (eq != std::string::npos) pid = std::strtol(pidReply.front().c_str() + eq + 4, nullptr, 10);
  }
  const std::vector<StatusClient> listed = ParseStatusClients(status);
  std::vector<std::pair<std::string, VpnClient>> gone;
  {
    std::lock_guard lock(mutex_);
    // Another OpenVPN process numbers its clients anew: none of ours is left.
    const bool restarted = pid != 0 && openVpnPid_ != 0 && pid != openVpnPid_;
    if (pid != 0) openVpnPid_ = pid;
    for (const auto& [port, client] : ports_.All()) {
      bool present = false;
      for (const StatusClient& s : listed) present = present || (!restarted && s.cid == client.cid);
      if (!present) gone.push_back(*ports_.Release(client.cid));
    }
    // A restarted adapter: each client an earlier one admitted gets its port
    // back; one that left meanwhile (or whose OpenVPN is another) its hang-up.
    if (remembered_) {
      const bool sameOpenVpn = pid != 0 && pid == remembered_->openVpnPid;
      for (auto& [port, client] : remembered_->ports) {
        const StatusClient* now = nullptr;
        for (const StatusClient& s : listed) {
          if (sameOpenVpn && s.cid == client.cid) now = &s;
        }
        if (now && ports_.TakeAt(port, client)) {
          Trace("PLOVPN::Reconcile", "Kept " + port + " " + client.account, static_cast<long>(client.cid));
        } else if (!now) {
          gone.emplace_back(port, client);
        }
      }
      remembered_.reset();
    }
    unclaimed_.clear();
    for (const StatusClient& s : listed) {
      if (const auto port = ports_.PortOf(s.cid)) {
        VpnClient* held = ports_.Find(*port);
        held->bytesReceived = s.bytesReceived;
        held->bytesSent = s.bytesSent;
        continue;
      }
      unclaimed_[s.cid] = std::chrono::steady_clock::now();
    }
    RememberLocked();
  }
  const std::time_t now = plat::Now();
  for (const auto& [port, c] : gone) {
    Trace("PLOVPN::Reconcile", "Left while we were away: " + port + " " + c.account,
          static_cast<long>(c.cid));
    HangUp(port, c, c.bytesReceived, c.bytesSent,
           now > c.start ? static_cast<long>(now - c.start) : 0);
  }
}

void Adapter::AdoptUnclaimed() {
  {
    std::lock_guard lock(mutex_);
    if (unclaimed_.empty()) return;
    const auto now = std::chrono::steady_clock::now();
    bool due = false;
    for (const auto& [cid, since] : unclaimed_) due = due || now - since >= kUnclaimedGrace;
    if (!due) return;
  }
  std::vector<std::string> status;
  if (Command("status 3", true, &status) != plat::ERROR_SUCCESS) return;
  const std::vector<StatusClient> listed = ParseStatusClients(status);
  std::lock_guard lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  for (auto it = unclaimed_.begin(); it != unclaimed_.end();) {
    if (now - it->second < kUnclaimedGrace) {
      ++it;
      continue;
    }
    bool pending = false;
    for (const ClientEvent& e : events_) pending = pending || e.cid == it->first;
    if (pending) {
      it = unclaimed_.erase(it);
      continue;
    }
    for (const StatusClient& s : listed) {
      if (s.cid != it->first || ports_.PortOf(s.cid)) continue;
      // Admitted by an adapter before us: a port for supervision, never a
      // second new-connection message.
      // An earlier adapter decided it under the same rule; failing that, the certificate's name.
      const std::string name = NameToCheck(settings_, s.username, s.commonName).value_or(s.commonName);
      const std::optional<std::string> account = AccountFor(settings_, name);
      if (!account) {
        // A cut name would be supervised and charged as somebody else's.
        Trace("PLOVPN::Reconcile", "Not adopted, a name Portulon refuses", static_cast<long>(s.cid));
        continue;
      }
      VpnClient c;
      c.cid = s.cid;
      c.account = *account;
      c.commonName = s.commonName;
      c.start = static_cast<std::time_t>(s.connectedSince);
      c.bytesReceived = s.bytesReceived;
      c.bytesSent = s.bytesSent;
      c.decided = true;
      if (const auto port = ports_.Take(c)) {
        Trace("PLOVPN::Reconcile", "Adopted " + *port + " " + c.account, static_cast<long>(s.cid));
      }
    }
    it = unclaimed_.erase(it);
  }
  RememberLocked();
}

DWORD Adapter::StatusOf(std::uint32_t cid, StatusClient* out) {
  std::lock_guard lock(statusMutex_);
  const auto now = std::chrono::steady_clock::now();
  if (statusTaken_.time_since_epoch().count() == 0 || now - statusTaken_ > kStatusFresh) {
    std::vector<std::string> status;
    if (const DWORD err = Command("status 3", true, &status); err != plat::ERROR_SUCCESS) return err;
    lastStatus_ = ParseStatusClients(status);
    statusTaken_ = now;
  }
  for (const StatusClient& s : lastStatus_) {
    if (s.cid != cid) continue;
    *out = s;
    return plat::ERROR_SUCCESS;
  }
  return plat::ERROR_FILE_NOT_FOUND;
}

DWORD Adapter::Traffic(const std::string& port, std::uint64_t* sent, std::uint64_t* received) {
  std::uint32_t cid = 0;
  {
    std::lock_guard lock(mutex_);
    const VpnClient* c = ports_.Find(port);
    if (!c) return plat::ERROR_FILE_NOT_FOUND;
    cid = c->cid;
  }
  StatusClient s;
  if (const DWORD err = StatusOf(cid, &s); err != plat::ERROR_SUCCESS) return err;
  *sent = s.bytesSent;
  *received = s.bytesReceived;
  std::lock_guard lock(mutex_);
  if (VpnClient* c = ports_.Find(port); c && c->cid == cid) {
    c->bytesSent = s.bytesSent;
    c->bytesReceived = s.bytesReceived;
  }
  return plat::ERROR_SUCCESS;
}

DWORD Adapter::Client(const std::string& port, common::PortOpsReply* reply) {
  std::uint32_t cid = 0;
  {
    std::lock_guard lock(mutex_);
    const VpnClient* c = ports_.Find(port);
    if (!c || !c->decided) return plat::ERROR_FILE_NOT_FOUND;
    cid = c->cid;
    reply->commonName = c->commonName;
  }
  StatusClient s;
  if (const DWORD err = StatusOf(cid, &s); err != plat::ERROR_SUCCESS) return err;
  reply->sent = s.bytesSent;
  reply->received = s.bytesReceived;
  reply->address = s.virtualAddress.empty() ? "-" : s.virtualAddress;
  return plat::ERROR_SUCCESS;
}

void Adapter::RememberLocked() {
  RememberedPorts memory;
  memory.openVpnPid = openVpnPid_;
  memory.ports = ports_.All();
  if (const DWORD err = SavePortMemory(memoryFile_, memory); err != plat::ERROR_SUCCESS)
    Trace("Adapter", "Cannot keep the port assignments in " + memoryFile_, static_cast<long>(err));
}

DWORD Adapter::Session(unsigned index, common::PortOpsReply* reply) {
  std::lock_guard lock(mutex_);
  for (const auto& [port, client] : ports_.All()) {
    if (!client.decided) continue;
    if (index-- != 0) continue;
    reply->port = port;
    reply->start = static_cast<std::int64_t>(client.start);
    reply->account = client.account;
    return plat::ERROR_SUCCESS;
  }
  return common::kNoMoreSessions;
}

DWORD Adapter::Disconnect(const std::string& port, int reason) {
  std::uint32_t cid = 0;
  {
    std::lock_guard lock(mutex_);
    const VpnClient* c = ports_.Find(port);
    if (!c) return plat::ERROR_FILE_NOT_FOUND;
    cid = c->cid;
  }
  // HALT: the client ends for good instead of dialling straight back in;
  // OpenVPN's client shows the words after the comma.
  std::vector<std::string> reply;
  if (const DWORD err = Command("client-kill " + std::to_string(cid) + " " +
                                    QuoteArgument("HALT," + common::CutReasonMessage(reason)),
                                false, &reply);
      err != plat::ERROR_SUCCESS) {
    return err;
  }
  Trace("PLOVPN::Disconnect", port + (IsSuccess(reply) ? " killed" : " not killed"),
        static_cast<long>(cid));
  return IsSuccess(reply) ? plat::ERROR_SUCCESS : plat::ERROR_GEN_FAILURE;
}

}  // namespace ovpn
