#include "console/core/pladmin_doc.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "common/session_admin.h"
#include "console/core/console_keys.h"
#include "console/core/registry_helper.h"
#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/sysinfo.h"
#include "platform/text.h"

namespace pladmin {

CPladminDoc::CPladminDoc(MessageSink& sink) : sink_(sink) { SetDay(0, 0, 0); }

CPladminDoc::~CPladminDoc() = default;

bool CPladminDoc::SetNewestFirst(bool newestFirst) {
  client_.newestFirst = newestFirst;
  plat::RegKey key;
  return plat::RegKey::Create(plat::Hive::LocalMachine, kClientKey, &key) == plat::ERROR_SUCCESS &&
         key.SetDword(kNewestFirstValue, newestFirst ? 1 : 0) == plat::ERROR_SUCCESS;
}

void CPladminDoc::OnNewDocument(std::shared_ptr<FetchNotifier> notifier) {
  notifier_ = std::move(notifier);
  const CRegistry local;
  if (local.ReadString(kClientSubkey, "InstallPath", &client_.installPath) &&
      !client_.installPath.empty()) {
    plat::SetCurrentDirectory(client_.installPath);
  }
  selection_ = Selection{};
  reloadUsers_ = true;
  SetDay(0, 0, 0);
  plat::DWORD value = 0;
  client_.historyViewColumns =
      local.ReadDword(kClientSubkey, "HistoryViewColumns", &value) && value != 0
          ? static_cast<int>(value)
          : -1;
  client_.timeFormatSeconds = local.ReadDword(kClientSubkey, "TimeFormatSeconds", &value) && value;
  local.ReadDword(kClientSubkey, "AutoSizeColumns", &client_.autoSizeColumns);
  client_.newestFirst = local.ReadDword(kClientSubkey, kNewestFirstValue, &value) && value;
  plat::DWORD bias = 0;
  ReadTimeZoneBias({}, &bias);
  timeBias_ = static_cast<int>(bias);
  timeFormat_ = TimeFormat::OfMachine();
  servers_.Load(sink_);
  PollAllServers();
}

int CPladminDoc::ReadRefreshSetting() const {
  plat::DWORD value = 0;
  if (!CRegistry().ReadDword(kClientSubkey, "View Refresh", &value)) return kDefaultRefreshMs;
  // A value beyond a day is a slip of the hand, not an interval.
  return value > 86400000u ? kDefaultRefreshMs : static_cast<int>(value);
}

void CPladminDoc::SetRefreshInterval(int milliseconds) {
  refreshInterval_ = milliseconds < 0 ? 0 : milliseconds;
  // The console's own key is created when missing, so the choice is kept.
  plat::RegKey key;
  if (plat::RegKey::Create(plat::Hive::LocalMachine, kClientKey, &key) != plat::ERROR_SUCCESS ||
      key.SetDword("View Refresh", static_cast<plat::DWORD>(refreshInterval_)) !=
          plat::ERROR_SUCCESS) {
    sink_.Message("Failed to write the refresh rate in the local registry", MessageIcon::Warning);
  }
}

void CPladminDoc::PollAllServers() {
  if (!notifier_) return;
  for (int i = 0; i < servers_.size(); ++i) {
    if (!forcePoll_ && IsFailureState(servers_.At(i).state)) continue;
    servers_.StartFetch(i, admin_, notifier_);
  }
  forcePoll_ = false;
}

int CPladminDoc::OnServerNotification(int message, std::uint64_t id, int state) {
  return servers_.OnFetchNotification(message, id, state);
}

void CPladminDoc::Refresh() {
  reloadUsers_ = true;
  forcePoll_ = true;
  PollAllServers();
}

bool CPladminDoc::CheckMaster(int commandId) {
  const auto text = NeedsMasterText(commandId);
  if (!text || servers_.masterKnown()) return true;
  sink_.Message(MasterWaitMessage(*text), MessageIcon::Stop);
  return false;
}

SwitchRequest CPladminDoc::Switch() {
  SwitchRequest request;
  if (selection_.nodeKind == switchedKind_ && selection_.navItem == switchedItem_) return request;
  const auto choice = ChooseContentView(selection_.nodeKind, selection_.navItem);
  if (!choice) return request;
  if (choice->view == ContentView::Users && content_ != ContentView::Users) reloadUsers_ = true;
  switchedKind_ = selection_.nodeKind;
  switchedItem_ = selection_.navItem;
  content_ = choice->view;
  request.view = choice;
  return request;
}

SwitchRequest CPladminDoc::SelectNode(const Selection& selection) {
  if (NodeNeedsMaster(selection.nodeKind) && !servers_.masterKnown()) {
    sink_.Message(MasterWaitMessage(kAccountsNeedMasterText), MessageIcon::Stop);
    return SwitchRequest{true, std::nullopt};
  }
  const int item = selection_.navItem;
  selection_ = selection;
  selection_.navItem = item;
  selection_.accountsRoot =
      selection.nodeKind == kNodeAccountsRoot || selection.nodeKind == kNodeAccountsRootAlt;
  return Switch();
}

SwitchRequest CPladminDoc::Reselect() { return Switch(); }

SwitchRequest CPladminDoc::Navigate(int commandId) {
  if (!CheckMaster(commandId)) return SwitchRequest{true, std::nullopt};
  switch (commandId) {
    case ID_VIEW_STATUS: selection_.navItem = kNavStatus; break;
    case ID_VIEW_LOG: selection_.navItem = kNavHistory; break;
    case ID_VIEW_USAGE: selection_.navItem = kNavUsage; break;
    case ID_VIEW_STATISTICS: selection_.navItem = kNavStatistics; break;
    default: return SwitchRequest{};
  }
  return Switch();
}

namespace {

// The remote-access service's name on a machine: "RemoteAccess", except on
// Windows NT 4 with routing, where it is "Router".
plat::DWORD OpenRemoteAccessService(const plat::ServiceManager& scm, plat::ServiceHandle* service) {
  const plat::DWORD err = scm.OpenService("RemoteAccess", service);
  if (err != plat::ERROR_SERVICE_DOES_NOT_EXIST) return err;
  return scm.OpenService("Router", service);
}

plat::DWORD OpenServerService(const std::string& machine, int which, plat::ServiceHandle* service) {
  plat::ServiceManager scm;
  if (const plat::DWORD err = plat::ServiceManager::Open(UncServerName(machine), &scm);
      err != plat::ERROR_SUCCESS) {
    return err;
  }
  return which == 1 ? scm.OpenService(kPortulonServiceName, service)
                    : OpenRemoteAccessService(scm, service);
}

}  // namespace

int CPladminDoc::IsServiceRunning(const std::string& machine, int which) {
  if (machine.empty()) return kServiceUnknown;
  plat::ServiceHandle service;
  plat::SERVICE_STATUS status;
  if (OpenServerService(machine, which, &service) != plat::ERROR_SUCCESS ||
      service.QueryStatus(&status) != plat::ERROR_SUCCESS) {
    return kServiceUnknown;
  }
  return status.dwCurrentState == plat::SERVICE_RUNNING ? kServiceRunning : kServiceNotRunning;
}

plat::DWORD CPladminDoc::ControlService(const std::string& machine, int which, bool start,
                                        int waitMs) {
  plat::ServiceHandle service;
  if (const plat::DWORD err = OpenServerService(machine, which, &service);
      err != plat::ERROR_SUCCESS) {
    return err;
  }
  plat::DWORD err = plat::ERROR_SUCCESS;
  if (start) {
    err = service.Start();
  } else {
    plat::SERVICE_STATUS status;
    err = service.Control(plat::SERVICE_CONTROL_STOP, &status);
  }
  if (err != plat::ERROR_SUCCESS) return err;
  return plat::WaitForServiceState(service, start ? plat::SERVICE_RUNNING : plat::SERVICE_STOPPED,
                                   static_cast<plat::DWORD>(waitMs));
}

plat::DWORD CPladminDoc::DisconnectPort(const std::string& server, const std::string& port) {
  const CServer* record = FindServer(server);
  if (!record) return plat::ERROR_BAD_NETPATH;
  return DisconnectPortOn(admin_, record->name, record->rasKind, port);
}

plat::DWORD CPladminDoc::DisconnectPortOn(RasAdmin& admin, const std::string& server, int kind,
                                          const std::string& port) {
  // Through the server's Portulon first, so that the hang-up record says the
  // administrator cut it and an OpenVPN client is told so; straight to the
  // remote-access service when Portulon does not answer or holds no session
  // on that port (a caller admitted unchecked while it was down).
  if (common::DisconnectSession(server, port) == plat::ERROR_SUCCESS) return plat::ERROR_SUCCESS;
  if (kind == kKindRras) return admin.rras.DisconnectPort(server, port);
  if (kind == kKindOpenVpn) return admin.openVpn.DisconnectPort(server, port);
  return admin.ras.PortDisconnect(server, port);
}

const CServer* CPladminDoc::FindServer(const std::string& name) {
  const int index = servers_.Find(name);
  if (index >= 0) return &servers_.At(index);
  sink_.Message(plat::FormatText("Server %s not found in server list", name.c_str()),
                MessageIcon::Stop);
  return nullptr;
}

bool CPladminDoc::RemoveServer(const std::string& name) {
  const std::string question =
      plat::FormatText("Remove %s from the list of monitored servers?", name.c_str());
  if (!sink_.Ask(question, "Remove Server?")) return false;
  const bool removed = servers_.Remove(name, sink_);
  if (removed && plat::EqualsIgnoringCase(selection_.server, name)) {
    const int item = selection_.navItem;
    selection_ = Selection::Of(kNodeServersRoot);
    selection_.navItem = item;
  }
  return removed;
}

CServerList::AddResult CPladminDoc::AddServer(const std::string& name) {
  const auto result = servers_.Add(name, sink_);
  if (result == CServerList::kAdded && notifier_) {
    servers_.StartFetch(servers_.size() - 1, admin_, notifier_);
  }
  return result;
}

void CPladminDoc::SetDay(int year, int month, int day) {
  if (year == 0 && month == 0 && day == 0) {
    day_ = plat::LocalTime(plat::Now());
  } else {
    day_ = plat::LocalTime(plat::FromLocalTime(plat::CalendarTime(year, month, day, 12)));
  }
}

void CPladminDoc::StepDay(int days) {
  // Noon keeps a step of 24 hours on the right day.
  const std::time_t noon =
      plat::FromLocalTime(plat::CalendarTime(day_.tm_year + 1900, day_.tm_mon + 1, day_.tm_mday, 12));
  day_ = plat::LocalTime(noon + static_cast<std::time_t>(days) * 86400);
}

std::string CPladminDoc::Title() const {
  if (selection_.navItem == kNavStatus) return kAppTitle;
  return std::string(kAppTitle) + " - [" +
         plat::GetDateFormat(plat::GetUserDefaultLCID(), day_, "dddd, MMMM dd, yyyy") + "]";
}

std::string CPladminDoc::EventPaneText() const {
  if (selection_.navItem == kNavStatus) return {};
  return std::to_string(eventCount_) + " Events";
}

plat::LCID CPladminDoc::GetLanguageLocale(const std::string& machine) {
  if (locale_) return *locale_;
  plat::RegKey users, key;
  if (plat::RegKey::Connect(machine, plat::Hive::Users, &users) != plat::ERROR_SUCCESS ||
      users.OpenSubKey(std::string(".default\\") + plat::kInternationalKey, &key) !=
          plat::ERROR_SUCCESS) {
    locale_ = 0x400;
    return *locale_;
  }
  std::string text;
  if (key.QueryString("Locale", &text) != plat::ERROR_SUCCESS || text.empty()) {
    locale_ = 0x409;
  } else {
    locale_ = static_cast<plat::LCID>(std::strtoul(text.c_str(), nullptr, 16));
  }
  return *locale_;
}

void CPladminDoc::Shutdown() {
  notifier_.reset();
  servers_.StopAllFetches();
}

}  // namespace pladmin
