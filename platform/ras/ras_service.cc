#include "platform/ras/ras_service.h"

#include <unistd.h>

#include <limits>
#include <utility>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/ras/router_extension.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/text.h"

namespace plat::ras {

namespace {

constexpr const char* kTraceFolder = "C:\\WINNT\\tracing";
constexpr const char* kTraceFile = "C:\\WINNT\\tracing\\rassvc.log";

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  return a > std::numeric_limits<std::uint64_t>::max() - b ? std::numeric_limits<std::uint64_t>::max()
                                                           : a + b;
}

std::string Account(const PortInfo& p) { return p.domain + "\\" + p.user; }

// A free port taken by a call: who calls, from where, since when.
void TakeCall(const DialRequest& request, std::time_t now, PortInfo* port) {
  port->state = PortState::Connecting;
  port->domain = request.domain;
  port->user = request.user;
  port->computer = request.computer;
  port->wksta = request.wksta;
  port->callback = request.callback;
  port->start = now;
}

}  // namespace

void RasTrace(std::string_view text) {
  const std::tm t = LocalTime(Now());
  std::string line =
      plat::FormatText("%04d-%02d-%02d %02d:%02d:%02d [%d] ", t.tm_year + 1900, t.tm_mon + 1,
                       t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(::gettid()));
  line.append(text).append("\n");
  if (AppendToFile(kTraceFile, line) == ERROR_PATH_NOT_FOUND) {
    CreateDirectory(kTraceFolder);
    AppendToFile(kTraceFile, line);
  }
}

RasServiceOptions MachineRasOptions() {
  RasServiceOptions options;
  MachineConfig config;
  if (ReadMachineConfig(CurrentMachineRoot(), &config) == ERROR_SUCCESS) {
    options.serviceName = RasServiceName(config);
    options.flavour = config.ras;
    options.ports = config.rasPorts;
  }
  return options;
}

std::unique_ptr<AdminExtension> LoadConfiguredExtension(const RasServiceOptions& options) {
  std::string path;
  if (RegReadString(kAdminDllKey, kAdminDllValue, &path) != ERROR_SUCCESS || path.empty()) {
    RasTrace("No administration extension configured: every caller is admitted");
    return std::make_unique<NoAdminExtension>();
  }
  std::string why;
  DWORD err = ERROR_SUCCESS;
  if (options.flavour == RasFlavour::Rras) {
    std::unique_ptr<RouterAdminModule> module;
    err = RouterAdminModule::Load(path, &module, &why);
    if (err == ERROR_SUCCESS) {
      RasTrace("Router administration extension " + path + " loaded");
      return module;
    }
  } else {
    std::unique_ptr<RasAdminModule> module;
    err = RasAdminModule::Load(path, &module, &why);
    if (err == ERROR_SUCCESS) {
      RasTrace("Administration extension " + path + " loaded");
      return module;
    }
  }
  RasTrace(why + " Running without an administration extension: every caller is admitted");
  EventSource source;
  if (EventSource::Register("", options.serviceName, &source) == ERROR_SUCCESS) {
    source.Report(EVENTLOG_ERROR_TYPE, 0, kEventAdminDllNotLoaded,
                  {path, why + " The remote-access service runs without an administration "
                              "extension and admits every caller."});
  }
  return std::make_unique<NoAdminExtension>();
}

RasService::RasService(RasServiceOptions options, std::unique_ptr<AdminExtension> extension)
    : options_(std::move(options)),
      extension_(extension ? std::move(extension) : std::make_unique<NoAdminExtension>()) {
  EventSource::Register("", options_.serviceName, &source_);
  const int count = options_.ports < 0 ? 0 : options_.ports;
  ports_.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    ports_[static_cast<size_t>(i)].info.name = "COM" + std::to_string(i + 1);
    ports_[static_cast<size_t>(i)].info.handle = static_cast<DWORD>(i + 1);
    ClearLocked(&ports_[static_cast<size_t>(i)]);
  }
}

std::time_t RasService::Now() const { return options_.clock ? options_.clock() : plat::Now(); }

const RasService::Port* RasService::FindLocked(std::string_view name, std::string* why) const {
  for (const Port& p : ports_) {
    if (EqualsIgnoringCase(p.info.name, name)) return &p;
  }
  if (!why) return nullptr;
  *why = "there is no port " + std::string(name) + " on this machine";
  if (ports_.empty()) {
    *why += " (it has no ports)";
  } else if (ports_.size() == 1) {
    *why += " (its port is " + ports_.front().info.name + ")";
  } else {
    *why += " (its ports are " + ports_.front().info.name + " to " + ports_.back().info.name + ")";
  }
  return nullptr;
}

RasService::Port* RasService::ListeningLocked(std::string_view name, DWORD* err, std::string* why) {
  Port* p = FindLocked(name, why);
  if (!p) {
    *err = ERROR_DEV_NOT_EXIST;
  } else if (p->info.state != PortState::Listening) {
    *why = "port " + p->info.name + " is in use";
    if (!p->info.user.empty()) *why += " by " + Account(p->info);
    *err = ERROR_BUSY;
    p = nullptr;
  }
  return p;
}

void RasService::ClearLocked(Port* port) {
  PortInfo fresh;
  fresh.name = port->info.name;
  fresh.handle = port->info.handle;
  fresh.lineSpeed = kDefaultLineSpeed;
  port->info = std::move(fresh);
  port->releaseAddress = false;
}

rassapi::IPADDR RasService::PoolAddress(size_t index) const {
  // 10.0.x.y, counting from 10.0.0.10 for the first port.
  const size_t n = index + 10;
  return 10u | (static_cast<rassapi::IPADDR>((n >> 8) & 0xFF) << 16) |
         (static_cast<rassapi::IPADDR>(n & 0xFF) << 24);
}

DWORD RasService::FreeConnectionHandleLocked() const {
  // Handles are used again once free, as the router does.
  for (DWORD handle = kFirstConnectionHandle;; ++handle) {
    bool used = false;
    for (const Port& p : ports_) used = used || p.info.connection == handle;
    if (!used) return handle;
  }
}

DWORD RasService::DialConnection(const DialRequest& request, std::vector<LinkResult>* links,
                                 std::string* why) {
  links->clear();
  if (router()) return DialRouter(request, links, why);
  if (request.links != 1) {
    *why = "only a router connects several links";
    return ERROR_INVALID_PARAMETER;
  }
  LinkResult one;
  const DWORD err = Dial(request, &one.admitted, &one.port, why, &one.note);
  if (err == ERROR_SUCCESS) links->push_back(std::move(one));
  return err;
}

DWORD RasService::DialRouter(const DialRequest& request, std::vector<LinkResult>* results,
                             std::string* why) {
  if (!ValidateDialRequest(request, why)) return ERROR_INVALID_PARAMETER;
  std::vector<PortInfo> links;
  {
    std::lock_guard lock(mutex_);
    DWORD err = ERROR_SUCCESS;
    Port* first = ListeningLocked(request.port, &err, why);
    if (!first) return err;
    // The port asked for, then the free ports after it.
    const size_t start = static_cast<size_t>(first - ports_.data());
    std::vector<Port*> chosen;
    for (size_t k = 0; k < ports_.size() && chosen.size() < static_cast<size_t>(request.links); ++k) {
      Port* p = &ports_[(start + k) % ports_.size()];
      if (p->info.state == PortState::Listening) chosen.push_back(p);
    }
    if (chosen.size() < static_cast<size_t>(request.links)) {
      *why = "only " + std::to_string(chosen.size()) + " ports are free for a connection of " +
             std::to_string(request.links) + " links";
      return ERROR_BUSY;
    }
    const DWORD handle = FreeConnectionHandleLocked();
    const std::time_t now = Now();
    rassapi::IPADDR address = 0;
    if (request.address.empty() || !ParseIpAddress(request.address, &address)) {
      address = PoolAddress(start);
    }
    for (Port* p : chosen) {
      PortInfo& i = p->info;
      TakeCall(request, now, &i);
      i.connected = now;
      i.connection = handle;
      i.address = address;
      links.push_back(i);
    }
  }
  PortInfo& lead = links.front();
  RasTrace("Connection " + std::to_string(lead.connection) + " from " + Account(lead) + " on " +
           std::to_string(links.size()) + " link(s), proposing " + FormatIpAddress(lead.address));

  rassapi::IPADDR address = lead.address;
  bool notifyRelease = false;
  const DWORD addressResult = extension_->RequestAddress(lead, &address, &notifyRelease);
  for (PortInfo& l : links) {
    l.address = address;
    l.state = PortState::Connected;
  }
  const bool connectionAccepted =
      addressResult == ERROR_SUCCESS && extension_->AcceptConnection(lead);
  std::vector<bool> admitted(links.size(), false);
  if (connectionAccepted) {
    for (size_t k = 0; k < links.size(); ++k) admitted[k] = extension_->AcceptLink(links[k]);
  }
  bool any = false;
  {
    std::lock_guard lock(mutex_);
    for (size_t k = 0; k < links.size(); ++k) {
      Port* p = FindLocked(links[k].name);
      if (admitted[k]) {
        p->info.state = PortState::Connected;
        p->info.address = address;
        p->releaseAddress = notifyRelease;
        any = true;
      } else {
        ClearLocked(p);
      }
      results->push_back(LinkResult{p->info, admitted[k], {}});
    }
  }
  if (connectionAccepted && !any) extension_->ConnectionEnded(lead);
  if (!any && addressResult == ERROR_SUCCESS && notifyRelease) {
    extension_->ReleaseAddress(lead, address);
  }
  for (size_t k = 0; k < links.size(); ++k) {
    RasTrace(links[k].name + ": " + Account(lead) +
             (admitted[k] ? " link up with address " + FormatIpAddress(address) : " link refused"));
    (*results)[k].note =
        extension_->DescribeDecision(links[k], admitted[k]);
  }
  return ERROR_SUCCESS;
}

DWORD RasService::Dial(const DialRequest& request, bool* admitted, PortInfo* out,
                       std::string* why, std::string* note) {
  *admitted = false;
  if (!ValidateDialRequest(request, why)) return ERROR_INVALID_PARAMETER;
  PortInfo session;
  {
    std::lock_guard lock(mutex_);
    DWORD err = ERROR_SUCCESS;
    Port* p = ListeningLocked(request.port, &err, why);
    if (!p) return err;
    PortInfo& i = p->info;
    TakeCall(request, Now(), &i);
    if (request.address.empty() || !ParseIpAddress(request.address, &i.address)) {
      i.address = PoolAddress(static_cast<size_t>(p - ports_.data()));
    }
    session = i;
  }
  RasTrace(session.name + ": call from " + Account(session) + ", proposing " +
           FormatIpAddress(session.address));

  rassapi::IPADDR address = session.address;
  bool notifyRelease = false;
  const DWORD addressResult = extension_->RequestAddress(session, &address, &notifyRelease);
  bool accepted = false;
  if (addressResult != ERROR_SUCCESS) {
    RasTrace(session.name + ": no address for the caller (" + std::to_string(addressResult) +
             "), call refused");
  } else {
    session.address = address;
    // The connection stands: the extension sees an authenticated caller.
    session.state = PortState::Connected;
    accepted = extension_->AcceptConnection(session);
  }
  {
    std::lock_guard lock(mutex_);
    Port* p = FindLocked(session.name);
    if (accepted) {
      p->info.state = PortState::Connected;
      p->info.address = address;
      p->releaseAddress = notifyRelease;
    } else {
      ClearLocked(p);
    }
    *out = p->info;
  }
  if (!accepted && addressResult == ERROR_SUCCESS && notifyRelease) {
    extension_->ReleaseAddress(session, address);
  }
  RasTrace(session.name + ": " + Account(session) +
           (accepted ? " connected with address " + FormatIpAddress(address) : " refused"));
  if (note) *note = extension_->DescribeDecision(session, accepted);
  *admitted = accepted;
  return ERROR_SUCCESS;
}

DWORD RasService::AddTraffic(std::string_view port, std::uint64_t sent, std::uint64_t received,
                             PortInfo* after, std::string* why) {
  std::lock_guard lock(mutex_);
  Port* p = FindLocked(port, why);
  if (!p) return ERROR_DEV_NOT_EXIST;
  if (p->info.state != PortState::Connected) {
    *why = "nobody is connected on port " + p->info.name;
    return ERROR_NOT_CONNECTED;
  }
  p->info.bytesSent = SaturatingAdd(p->info.bytesSent, sent);
  p->info.bytesReceived = SaturatingAdd(p->info.bytesReceived, received);
  *after = p->info;
  return ERROR_SUCCESS;
}

DWORD RasService::BeginHangUp(std::string_view port, PortInfo* session, std::string* why) {
  std::lock_guard lock(mutex_);
  Port* p = FindLocked(port, why);
  if (!p) return ERROR_DEV_NOT_EXIST;
  switch (p->info.state) {
    case PortState::Connected: break;
    case PortState::Listening:
      *why = "nobody is connected on port " + p->info.name;
      return ERROR_NOT_CONNECTED;
    case PortState::Connecting:
      *why = "a call is being set up on port " + p->info.name;
      return ERROR_BUSY;
    case PortState::Disconnecting:
      *why = "port " + p->info.name + " is already being disconnected";
      return ERROR_BUSY;
  }
  p->info.state = PortState::Disconnecting;
  *session = p->info;
  return ERROR_SUCCESS;
}

void RasService::CompleteHangUp(const PortInfo& session) {
  const std::time_t end = Now();
  WriteSessionRecords(session, end);
  if (router()) {
    extension_->LinkEnded(session);
  } else {
    extension_->ConnectionEnded(session);
  }
  bool release = false;
  bool lastLink = true;
  {
    std::lock_guard lock(mutex_);
    if (Port* p = FindLocked(session.name)) {
      release = p->releaseAddress;
      ClearLocked(p);
    }
    if (router() && session.connection != 0) {
      for (const Port& p : ports_) lastLink = lastLink && p.info.connection != session.connection;
    }
  }
  if (router() && lastLink) extension_->ConnectionEnded(session);
  if (release && lastLink) extension_->ReleaseAddress(session, session.address);
  RasTrace(session.name + ": " + Account(session) + " disconnected after " +
           std::to_string(end - session.start) + " s, " + std::to_string(session.bytesSent) +
           " bytes sent, " + std::to_string(session.bytesReceived) + " received");
}

DWORD RasService::HangUp(std::string_view port, PortInfo* session, std::string* why) {
  const DWORD err = BeginHangUp(port, session, why);
  if (err == ERROR_SUCCESS) CompleteHangUp(*session);
  return err;
}

void RasService::HangUpAll() {
  std::vector<std::string> connected;
  {
    std::lock_guard lock(mutex_);
    for (const Port& p : ports_) {
      if (p.info.state == PortState::Connected) connected.push_back(p.info.name);
    }
  }
  for (const std::string& name : connected) {
    PortInfo session;
    std::string why;
    HangUp(name, &session, &why);
  }
}

std::vector<PortInfo> RasService::Ports() const {
  std::lock_guard lock(mutex_);
  std::vector<PortInfo> out;
  out.reserve(ports_.size());
  for (const Port& p : ports_) out.push_back(p.info);
  return out;
}

DWORD RasService::GetPort(std::string_view port, PortInfo* info, std::string* why) const {
  std::lock_guard lock(mutex_);
  const Port* p = FindLocked(port, why);
  if (!p) return ERROR_DEV_NOT_EXIST;
  *info = p->info;
  return ERROR_SUCCESS;
}

void RasService::WriteSessionRecords(const PortInfo& s, std::time_t end) const {
  if (!source_.valid()) return;
  const LCID lcid = GetSystemDefaultLCID();
  const std::tm from = LocalTime(s.start);
  const std::tm to = LocalTime(end);
  const std::time_t seconds = end > s.start ? end - s.start : 0;
  const std::vector<std::string> times = {
      GetDateFormat(lcid, from), GetTimeFormat(lcid, from), GetDateFormat(lcid, to),
      GetTimeFormat(lcid, to),   std::to_string(seconds / 60), std::to_string(seconds % 60),
      std::to_string(s.bytesSent), std::to_string(s.bytesReceived)};
  // NT 4 names the caller in two strings, domain then user; the router in
  // one, DOMAIN\user.
  std::vector<std::string> who;
  if (options_.flavour == RasFlavour::Ras) {
    who = {s.domain, s.user, s.name};
  } else {
    who = {Account(s), s.name};
  }
  const bool router = options_.flavour == RasFlavour::Rras;
  if (!s.callback.empty()) {
    std::vector<std::string> callback = who;
    callback.push_back(s.callback);
    source_.ReportAt(end, EVENTLOG_INFORMATION_TYPE, 0, router ? kEventRouterCallback : kEventCallback,
                     callback);
  }
  std::vector<std::string> statistics = who;
  statistics.insert(statistics.end(), times.begin(), times.end());
  source_.ReportAt(end, EVENTLOG_INFORMATION_TYPE, 0,
                   router ? kEventRouterSessionStatistics : kEventSessionStatistics, statistics);
}

}  // namespace plat::ras
