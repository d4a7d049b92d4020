// CPladminDoc: the console's document. It owns the monitored-server list, the
// current selection, the console's own settings (the Client key of the
// console's machine) and the operations on a monitored server (its services,
// a port's disconnection). Everything here runs on the user-interface thread,
// except ControlService, which the start/stop dialog runs on a worker thread.
#pragma once

#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "console/core/commands.h"
#include "console/core/message_sink.h"
#include "console/core/server_fetch.h"
#include "console/core/server_list.h"
#include "console/core/time_format.h"
#include "platform/win_types.h"

#include "console/core/wait_progress.h"

namespace pladmin {

inline constexpr const char* kAppTitle = "Portulon Administrator";
inline constexpr int kDefaultRefreshMs = 5000;

// The settings read from the Client key at start.
struct ClientSettings {
  std::string installPath;
  int historyViewColumns = -1;  // -1: all columns
  bool timeFormatSeconds = false;
  plat::DWORD autoSizeColumns = 0;
  bool newestFirst = false;  // the history opens sorted by time, newest first
};

struct Selection {
  int nodeKind = kNodeServersRoot;
  int navItem = kNavStatus;
  std::string server, port, domain, group, user;
  bool accountsRoot = false;

  static Selection Of(int kind, std::string server = {}, std::string port = {}) {
    Selection s;
    s.nodeKind = kind;
    s.server = std::move(server);
    s.port = std::move(port);
    return s;
  }
};

// What a change of selection or navigation item asks of the container.
struct SwitchRequest {
  bool refused = false;               // needs the master, which is not known yet
  std::optional<ViewChoice> view;     // the content view to show; none: keep the current one
};

class CPladminDoc {
 public:
  explicit CPladminDoc(MessageSink& sink);
  ~CPladminDoc();

  // Start: reads the Client key and the local time bias, loads the server
  // list and polls every server; fetches report to `notifier`.
  void OnNewDocument(std::shared_ptr<FetchNotifier> notifier);
  // "View Refresh" of the Client key, kDefaultRefreshMs when it cannot be read.
  int ReadRefreshSetting() const;
  // Stores the interval in the document and in "View Refresh"; the frame
  // sets its timer. 0 means no automatic refresh.
  void SetRefreshInterval(int milliseconds);
  int refreshInterval() const { return refreshInterval_; }

  // Starts a fetch of every server; servers in a failure state only when
  // the force-poll flag is set (which the poll then clears).
  void PollAllServers();
  // A notification posted by a fetch; returns the server's index or -1.
  int OnServerNotification(int message, std::uint64_t id, int state);

  // Refresh (F5): reload-users and force-poll flags set, then a poll.
  void Refresh();

  // The tree selected an item. Kinds that need the master are refused with
  // the wait message while no master is known.
  SwitchRequest SelectNode(const Selection& selection);
  // A navigation command (ID_VIEW_STATUS ... ID_VIEW_STATISTICS).
  SwitchRequest Navigate(int commandId);
  // The switch the current selection asks for (none when it is shown).
  SwitchRequest Reselect();
  // Runs the needs-the-master rule for a command: false (and the wait
  // message shown) when the master is not known.
  bool CheckMaster(int commandId);
  // Marks the content view as shown for the current selection, so that the
  // same selection again changes nothing.
  ContentView content() const { return content_; }

  // 0 unknown, 1 running, 2 not running. which: 1 Portulon, 0 the
  // remote-access service.
  // Safe on any thread.
  static int IsServiceRunning(const std::string& machine, int which);
  // Starts or stops a service of a monitored server and waits (up to
  // `waitMs`) until it reached the new state. Win32 code. Safe on any thread.
  static plat::DWORD ControlService(const std::string& machine, int which, bool start,
                                    int waitMs = 35000);
  // Ends the session on a port of a monitored server.
  plat::DWORD DisconnectPort(const std::string& server, const std::string& port);
  // The same for a server of a known kind. Safe on any thread.
  static plat::DWORD DisconnectPortOn(RasAdmin& admin, const std::string& server, int kind,
                                      const std::string& port);
  // The server's record; "Server %s not found in server list" when unknown.
  const CServer* FindServer(const std::string& name);

  // Asks, then removes the server; true when removed. When it was the
  // selected one, the selection goes to the servers' root: Reselect then
  // tells the view to show.
  bool RemoveServer(const std::string& name);
  CServerList::AddResult AddServer(const std::string& name);

  void SetDay(int year, int month, int day);  // 0, 0, 0 = today
  void StepDay(int days);
  const std::tm& dayShown() const { return day_; }
  // The main window's title for the current navigation item and day.
  std::string Title() const;
  // Status pane 1: empty on the status item, else "%d Events".
  std::string EventPaneText() const;
  void SetEventCount(int count) { eventCount_ = count; }
  // "WaitProgressDraw", created with the document, non-signalled.
  WaitProgress& waitProgress() { return waitProgress_; }

  // "Locale" of HKU\.default\Control Panel\International on `machine`
  // (hexadecimal), 0x409 when missing, 0x400 when unreachable; cached.
  plat::LCID GetLanguageLocale(const std::string& machine = {});

  CServerList& servers() { return servers_; }
  const CServerList& servers() const { return servers_; }
  const Selection& selection() const { return selection_; }
  const ClientSettings& clientSettings() const { return client_; }
  // The log view's settings after its Customize View applied them.
  void SetLogViewSettings(int columns, bool timeFormatSeconds, plat::DWORD autoSizeColumns) {
    client_.historyViewColumns = columns;
    client_.timeFormatSeconds = timeFormatSeconds;
    client_.autoSizeColumns = autoSizeColumns;
  }
  // Newest First of the View menu, kept in the Client key; false when it
  // could not be kept (it still holds for this run).
  bool SetNewestFirst(bool newestFirst);
  RasAdmin& rasAdmin() { return admin_; }
  bool reloadUsers() const { return reloadUsers_; }
  void ClearReloadUsers() { reloadUsers_ = false; }
  bool forcePoll() const { return forcePoll_; }
  int timeBias() const { return timeBias_; }
  // The machine's clock (12 or 24 hours), read with the document.
  const TimeFormat& timeFormat() const { return timeFormat_; }
  MessageSink& sink() { return sink_; }

  // Stops every fetch and waits for them (the window is closing).
  void Shutdown();

 private:
  SwitchRequest Switch();

  MessageSink& sink_;
  WaitProgress waitProgress_;
  RasAdmin admin_;  // declared before the list: the fetchers use it until they are joined
  CServerList servers_;
  std::shared_ptr<FetchNotifier> notifier_;
  Selection selection_;
  ClientSettings client_;
  bool reloadUsers_ = true;
  bool forcePoll_ = false;
  int refreshInterval_ = kDefaultRefreshMs;
  std::tm day_{};
  int eventCount_ = 0;
  int timeBias_ = 0;
  TimeFormat timeFormat_;
  std::optional<plat::LCID> locale_;
  // The node kind and item of the last switch; nothing happens when both repeat.
  int switchedKind_ = -1, switchedItem_ = -1;
  ContentView content_ = ContentView::Servers;
};

}  // namespace pladmin
