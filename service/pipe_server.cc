#include "service/pipe_server.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <semaphore>
#include <thread>

#include "common/log_record.h"
#include "common/pipe_protocol.h"
#include "common/profile_helpers.h"
#include "common/session_admin.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/netapi.h"
#include "platform/profile.h"
#include "platform/request_scope.h"
#include "service/admission.h"
#include "service/event_report.h"
#include "service/outage_recovery.h"
#include "service/port_table.h"
#include "service/profile_store.h"
#include "service/service_context.h"
#include "service/session_admin.h"
#include "service/session_files.h"
#include "service/session_log.h"
#include "service/system_data.h"

namespace svc {

namespace {

using plat::DWORD;

std::string ServerPort(const ServiceContext& context, std::string_view port) {
  return context.serverName + "\\" + std::string(port);
}

// The account's length and spelling against what the records hold, checked
// once per message: a name that a record would cut could be charged as
// somebody else. False (refuse, write nothing) with the reason traced and,
// for a NEW, reported.
bool AccountFits(int kind, const AccountName& account, const std::string& port) {
  const std::string& problem = account.problem();
  if (problem.empty()) return true;
  common::Trace("ProcessIncoming", "Account refused, nothing written: " + problem, kind);
  if (kind == common::kKindNewConnection) {
    ReportToEventLog(0, common::kEventConnectionRefused, port.c_str(),
                     (account.text() + ": " + problem).c_str(), 2);
  }
  return false;
}

void NewConnection(ServiceContext& context, ReplyFields& reply, const common::ProtocolMessage& m,
                   const AccountName& user, const std::string& port) {
  const std::time_t now = context.Now();
  std::time_t start = m.time != 0 ? static_cast<std::time_t>(m.time) : now;
  if (start < now - kMaxStartAgeSeconds || start > now + kClockSkewSeconds) {
    common::Trace("ProcessIncomingProtocol NEW", "Start time out of range, taken as now",
                  static_cast<long>(start));
    start = now;
  }
  common::Trace("ProcessIncomingProtocol NEW", port, static_cast<long>(start));
  const int code = IsThisUserOK(context, m.machine, user, port, start);
  common::Trace("Accept New Connection?", code == kAdmitted ? "YES" : "NO", code);
  reply.code = code == kAdmitted ? common::kReplyAccepted : common::kReplyRefused;
}

void HangUp(ServiceContext& context, ReplyFields& reply, const common::ProtocolMessage& m,
            const AccountName& user, const std::string& port) {
  common::Trace("ProcessIncomingProtocol HANGUP", port, m.duration);
  Log_HangUp(context, user, port, m.duration, static_cast<std::time_t>(m.time));
  common::Trace("Hangup Done", port, 0);
  reply.code = common::kReplyAccepted;
}

// A static address that a live session on another port holds is handed to
// no second session: the caller keeps the remote-access server's proposal,
// and the trace and the event log say why.
bool AddressHeldElsewhere(ServiceContext& context, std::int32_t address, const std::string& port,
                          const std::string& account) {
  // The port table keeps addresses as the admission read them from the session file.
  const std::int32_t kept = context.settings.ipConvert ? common::RevertDWORD(address) : address;
  std::string holderPort, holder;
  if (!PortTableFindAddress(context.portTable, kept, port, &holderPort, &holder)) return false;
  const std::string why = common::MakeIPString(static_cast<std::uint32_t>(address)) +
                          " (static address of " + account + ") is held by " + holder + " on " +
                          holderPort + "; the proposed address is kept";
  common::Trace("ProcessIncomingProtocol GETIP", "Static address in use: " + why, 0);
  ReportToEventLog(1, common::kEventAddressInUse, port.c_str(), why.c_str(), 2);
  return true;
}

void AddressRequest(ServiceContext& context, ReplyFields& reply, const common::ProtocolMessage& m,
                    const std::string& port) {
  const auto proposed = static_cast<std::int32_t>(m.address);
  if (context.settings.staticIP == 1) {
    const AccountName account = BuildUserAccount(context, m.user);
    if (!AccountFits(m.kind, account, port)) {
      reply.code = common::kReplyNotActedOn;
      return;
    }
    const int portAddress = ReadPortNumber(context.paths.systemData, port, kStaticIP);
    const int userAddress = ReadUserStaticIP(context, account);
    if (portAddress != 0 || userAddress != 0) {
      const std::int32_t chosen = userAddress != 0 ? userAddress : portAddress;
      if (AddressHeldElsewhere(context, chosen, port, account.text())) {
        reply.code = common::kReplyKeepAddress;
        WriteSessionAddress(context.sessionFile, port, proposed);
        return;
      }
      reply.code = common::kReplyUseAddress;
      reply.address = common::RevertDWORD(chosen);
      WriteSessionAddress(context.sessionFile, port, chosen);
      return;
    }
    reply.code = common::kReplyKeepAddress;
    WriteSessionAddress(context.sessionFile, port, proposed);
    return;
  }
  common::Trace("ProcessIncomingProtocol GETIP Not Enabled", port, 0);
  WriteSessionAddress(context.sessionFile, port, proposed);
  reply.code = common::kReplyKeepAddress;
}

}  // namespace

std::string BuildUserAccount(const ServiceContext& context, std::string_view name) {
  if (!context.settings.assumeDomain.empty()) {
    return context.settings.assumeDomain + "\\" + std::string(name);
  }
  plat::AccountSid sid;
  std::string domain;
  plat::SID_NAME_USE use;
  const DWORD err = plat::LookupAccountName("", name, &sid, &domain, &use);
  if (err != plat::ERROR_SUCCESS) {
    common::Trace("Failed on LookupAccountName()", std::string(name), static_cast<long>(err));
    return std::string(name);
  }
  // The domain buffer holds 50 characters.
  if (domain.size() > 49) domain.resize(49);
  return domain + "\\" + std::string(name);
}

ReplyFields ProcessIncomingProtocol(ServiceContext& context, std::string_view message) {
  common::Trace("ProcessIncoming - Complete", message, 0);
  const ReplyFields notActedOn{common::kReplyNotActedOn, 0};
  common::ProtocolMessage m;
  const int tokens = common::TokenizeMessage(message, &m);
  if (tokens <= 5) {
    common::Trace("ProcessIncoming", "Invalid message received. Tokens-->", tokens);
    return notActedOn;
  }
  common::Trace("ProcessIncomingProtocol - User", m.user, 0);
  common::Trace("ProcessIncomingProtocol - Mach", m.machine, 0);
  ReplyFields reply;
  if (m.longestField > common::kFieldLimit) {
    // No account, port or computer name is this long; cutting one could make
    // it name somebody else, so the request is refused as a whole.
    common::Trace("ProcessIncoming", "Field too long, request refused. Length-->",
                  static_cast<long>(m.longestField));
    return notActedOn;
  }
  if (!common::IsPlausiblePortName(m.port)) {
    // Every port name becomes a section of the shared files: a made-up one
    // is turned away before anything is written.
    common::Trace("ProcessIncoming", "Implausible port name, nothing written: " + m.port, m.kind);
    reply.code = m.kind == common::kKindNewConnection ? common::kReplyRefused
                 : m.kind == common::kKindAddressRequest ? common::kReplyKeepAddress
                                                         : common::kReplyAccepted;
    return reply;
  }
  const std::string port = ServerPort(context, m.port);
  const AccountName user(m.user);
  if ((m.kind == common::kKindNewConnection || m.kind == common::kKindHangUp) &&
      !AccountFits(m.kind, user, port)) {
    return notActedOn;
  }
  switch (m.kind) {
    case common::kKindNewConnection: NewConnection(context, reply, m, user, port); break;
    case common::kKindHangUp: HangUp(context, reply, m, user, port); break;
    case common::kKindAddressRequest: AddressRequest(context, reply, m, port); break;
    default: break;  // parsed and answered "00"
  }
  return reply;
}

std::string HandleClientMessage(ServiceContext& context, std::string_view message) {
  // Each file this message looks at is looked at once; the next message sees
  // every change made meanwhile.
  const plat::RequestScope scope;
  // The administrator's requests read the port table and ask the
  // remote-access service; they write no record.
  unsigned index = 0;
  std::string port;
  if (common::IsSessionListRequest(message, &index)) return AnswerSessionList(context, index);
  if (common::IsDisconnectPortRequest(message, &port)) return DisconnectByAdministrator(context, port);
  const std::lock_guard records(context.recordMutex);
  RecoverFromOutages(context);
  ReplyFields reply;
  if (common::IsUpdateMessage(message)) {
    ReadSettings(context);
    // The shared sections of portulon.hw too (warnings, default profile,
    // greetings), so that what the console saved there applies without a restart.
    ReadSystemDataFromCentralDB(context);
  } else {
    reply = ProcessIncomingProtocol(context, message);
  }
  return common::FormatReply(reply.code, reply.address);
}

namespace {

// A complete message and the client waiting for its answer.
struct PendingMessage {
  plat::PipeConnection client;
  std::string text;
};

// Hands complete messages from the reader threads to the one thread that
// decides, in the order they were read.
class MessageQueue {
 public:
  void Push(PendingMessage message) {
    {
      std::lock_guard lock(mutex_);
      messages_.push_back(std::move(message));
    }
    ready_.notify_one();
  }
  PendingMessage Pop() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return !messages_.empty(); });
    PendingMessage m = std::move(messages_.front());
    messages_.pop_front();
    return m;
  }

 private:
  std::mutex mutex_;  // guards messages_
  std::condition_variable ready_;
  std::deque<PendingMessage> messages_;
};

// Clients being read at once. A client that connects and sends nothing holds
// one reader for kClientMessageTimeoutMs, not the service: the others are
// read meanwhile, and decisions never wait for a slow client.
constexpr std::ptrdiff_t kMaxReaders = 64;

}  // namespace

void NP_PipeMessageLoop(ServiceContext& context, plat::NamedPipeServer& pipe) {
  // Both live as long as the process: the loop never returns.
  static MessageQueue queue;
  static std::counting_semaphore<kMaxReaders> readers(kMaxReaders);
  std::thread([&context] {
    for (;;) {
      PendingMessage m = queue.Pop();
      common::Trace("NP_PipeMessageLoop", "Got Message", static_cast<long>(m.text.size()));
      const std::string text = HandleClientMessage(context, m.text);
      if (DWORD err = m.client.Write(text); err != plat::ERROR_SUCCESS) {
        common::Trace("NP_PipeMessageLoop", "Failed to send message to client", static_cast<long>(err));
      }
      m.client.Disconnect();
    }
  }).detach();

  for (;;) {
    readers.acquire();
    common::Trace("NP_PipeMessageLoop", "Waiting for client to connect on pipe", 0);
    plat::PipeConnection client;
    if (DWORD err = pipe.WaitForClient(&client); err != plat::ERROR_SUCCESS) {
      readers.release();
      common::Trace("NP_PipeMessageLoop", "Failed to wait for connecting client", static_cast<long>(err));
      std::this_thread::sleep_for(std::chrono::milliseconds(2000));
      continue;
    }
    // A client usually has its message there by the time it is accepted:
    // taken at once, it costs no thread of its own.
    std::string message;
    const DWORD quick = client.Read(&message, common::kMessageBufferSize, 0);
    if (quick == plat::ERROR_SUCCESS) {
      queue.Push(PendingMessage{std::move(client), std::move(message)});
      readers.release();
      continue;
    }
    if (quick != plat::ERROR_SEM_TIMEOUT) {
      common::Trace("NP_PipeMessageLoop", "Failed to read message from client", static_cast<long>(quick));
      client.Disconnect();
      readers.release();
      continue;
    }
    std::thread([client = std::move(client)]() mutable {
      std::string message;
      if (DWORD err = client.Read(&message, common::kMessageBufferSize, kClientMessageTimeoutMs);
          err != plat::ERROR_SUCCESS) {
        common::Trace("NP_PipeMessageLoop", "Failed to read message from client", static_cast<long>(err));
        client.Disconnect();
      } else {
        queue.Push(PendingMessage{std::move(client), std::move(message)});
      }
      readers.release();
    }).detach();
  }
}

DWORD NP_InitPipe(ServiceContext& context) {
  if (DWORD err = TestMasterShare(context); err != plat::ERROR_SUCCESS) {
    common::Trace("NP_PipeMessageLoop - TestMasterShare", "Failed to access folder", static_cast<long>(err));
    return err;
  }
  plat::NamedPipeServer pipe;
  if (DWORD err = plat::NamedPipeServer::Create(common::kPipeName, 1, &pipe); err != plat::ERROR_SUCCESS) {
    common::Trace("NP_InitPipe", "CreateFile() Failed", static_cast<long>(err));
    return err;
  }
  common::Trace("NP_InitPipe", "Success Create Named Pipe", 0);
  std::thread loop([&context, pipe = std::move(pipe)]() mutable { NP_PipeMessageLoop(context, pipe); });
  common::Trace("NP_InitPipe", "Go Thread ID#", static_cast<long>(loop.native_handle() & 0x7fffffff));
  loop.detach();
  return plat::ERROR_SUCCESS;
}

}  // namespace svc
