#include "platform/ras/rassvc_server.h"

#include <chrono>
#include <iterator>
#include <utility>
#include <vector>

#include "platform/errors.h"
#include "platform/text.h"

namespace plat::ras {

namespace {

constexpr size_t kRequestLimit = 4096;
constexpr DWORD kRequestWaitMs = 10000;
constexpr DWORD kAcceptPollMs = 200;

std::string Ok(const std::vector<std::string>& fields) {
  std::vector<std::string> all = {"OK"};
  all.insert(all.end(), fields.begin(), fields.end());
  return JoinFields(all);
}

}  // namespace

RasPipeServer::RasPipeServer(RasService& service) : service_(service) {}

RasPipeServer::~RasPipeServer() { Stop(); }

DWORD RasPipeServer::Start() {
  if (const DWORD err = NamedPipeServer::Create(kPipeName, 255, &pipe_); err != ERROR_SUCCESS) {
    return err;
  }
  acceptor_ = std::jthread([this](std::stop_token stop) { AcceptLoop(stop); });
  return ERROR_SUCCESS;
}

void RasPipeServer::WaitWhileStalled() const {
  while (!stopping_.load() && std::chrono::steady_clock::now() < stallUntil_.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void RasPipeServer::Stop() {
  stopping_.store(true);
  if (acceptor_.joinable()) {
    acceptor_.request_stop();
    acceptor_.join();
  }
  std::list<Worker> remaining;
  {
    std::lock_guard lock(workersMutex_);
    remaining.swap(workers_);
  }
  for (Worker& w : remaining) {
    if (w.thread.joinable()) w.thread.join();
  }
  pipe_.Close();
}

void RasPipeServer::Reap() {
  std::list<Worker> finished;
  {
    std::lock_guard lock(workersMutex_);
    for (auto it = workers_.begin(); it != workers_.end();) {
      auto next = std::next(it);
      if (it->done.load()) finished.splice(finished.end(), workers_, it);
      it = next;
    }
  }
  for (Worker& w : finished) w.thread.join();
}

void RasPipeServer::AcceptLoop(std::stop_token stop) {
  while (!stop.stop_requested()) {
    Reap();
    PipeConnection connection;
    const DWORD err = pipe_.WaitForClient(&connection, kAcceptPollMs);
    if (err == ERROR_SEM_TIMEOUT) continue;
    if (err != ERROR_SUCCESS) {
      RasTrace("Waiting for a client failed: " + ErrorText(err));
      std::this_thread::sleep_for(std::chrono::milliseconds(kAcceptPollMs));
      continue;
    }
    std::lock_guard lock(workersMutex_);
    Worker& w = workers_.emplace_back();
    w.thread = std::thread([this, &w, c = std::move(connection)]() mutable {
      Serve(std::move(c));
      w.done.store(true);
    });
  }
}

void RasPipeServer::Serve(PipeConnection connection) {
  std::string request;
  const DWORD err = connection.Read(&request, kRequestLimit, kRequestWaitMs);
  std::function<void()> afterReply;
  std::string reply;
  if (err == ERROR_MORE_DATA) {
    reply = ErrorReply(ERROR_INVALID_PARAMETER, "the request is too long");
  } else if (err != ERROR_SUCCESS) {
    return;
  } else {
    reply = Handle(request, &afterReply);
  }
  connection.Write(reply);
  connection.Disconnect();
  if (afterReply) afterReply();
}

std::string RasPipeServer::Handle(std::string_view request, std::function<void()>* afterReply) {
  const std::vector<std::string> f = SplitFields(request);
  const std::string& verb = f[0];
  std::string why;

  if (verb == "DIAL") {
    DialRequest dial;
    if (!DecodeDial(f, &dial)) return ErrorReply(ERROR_INVALID_PARAMETER, "malformed DIAL request");
    std::vector<LinkResult> links;
    if (const DWORD err = service_.DialConnection(dial, &links, &why); err != ERROR_SUCCESS) {
      return ErrorReply(err, why);
    }
    // The first line as for a single port: admitted when any link is; then
    // one line per link.
    const LinkResult* up = nullptr;
    for (const LinkResult& l : links) {
      if (l.admitted && !up) up = &l;
    }
    const LinkResult& head = up ? *up : links.front();
    std::string reply = Ok({up ? "ADMITTED" : "REFUSED", head.port.name,
                            up ? FormatIpAddress(head.port.address) : std::string(), head.note});
    for (const LinkResult& l : links) {
      reply += "\n" + JoinFields({l.port.name, l.admitted ? "ADMITTED" : "REFUSED", l.note});
    }
    return reply;
  }
  if (verb == "STALL") {
    std::uint64_t seconds = 0;
    if (f.size() != 2 || !ParseWhole(f[1], &seconds) || seconds > 3600) {
      return ErrorReply(ERROR_INVALID_PARAMETER, "malformed STALL request");
    }
    stallUntil_.store(std::chrono::steady_clock::now() + std::chrono::seconds(seconds));
    return Ok({std::to_string(seconds)});
  }
  if (verb == "TRAFFIC") {
    std::uint64_t sent = 0, received = 0;
    if (f.size() != 4 || !ParseWhole(f[2], &sent) || !ParseWhole(f[3], &received)) {
      return ErrorReply(ERROR_INVALID_PARAMETER, "malformed TRAFFIC request");
    }
    PortInfo port;
    if (const DWORD err = service_.AddTraffic(f[1], sent, received, &port, &why);
        err != ERROR_SUCCESS) {
      return ErrorReply(err, why);
    }
    return Ok({port.name, std::to_string(port.bytesSent), std::to_string(port.bytesReceived)});
  }
  if (verb == "HANGUP" || verb == "DISCONNECT") {
    if (f.size() != 2) return ErrorReply(ERROR_INVALID_PARAMETER, "malformed " + verb + " request");
    PortInfo session;
    if (const DWORD err = service_.BeginHangUp(f[1], &session, &why); err != ERROR_SUCCESS) {
      return ErrorReply(err, why);
    }
    if (verb == "DISCONNECT") {
      // The administrator's request is granted at once; the hang-up follows,
      // as it does when the line drops.
      *afterReply = [this, session] { service_.CompleteHangUp(session); };
      return Ok({session.name});
    }
    service_.CompleteHangUp(session);
    return Ok({session.name, std::to_string(session.bytesSent),
               std::to_string(session.bytesReceived)});
  }
  if (verb == "PORTS" || verb == "PORT") WaitWhileStalled();
  if (verb == "PORTS") {
    std::string reply = "OK";
    for (const PortInfo& p : service_.Ports()) reply += "\n" + EncodePort(p);
    return reply;
  }
  if (verb == "PORT") {
    if (f.size() != 2) return ErrorReply(ERROR_INVALID_PARAMETER, "malformed PORT request");
    PortInfo port;
    if (const DWORD err = service_.GetPort(f[1], &port, &why); err != ERROR_SUCCESS) {
      return ErrorReply(err, why);
    }
    return "OK\n" + EncodePort(port);
  }
  return ErrorReply(ERROR_INVALID_FUNCTION, "unknown request " + verb);
}

}  // namespace plat::ras
