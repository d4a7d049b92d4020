// The console's commands, the rules that enable them, the commands that need
// the master server, and the table that picks the content view for a tree
// selection and a navigation item. Pure functions: the frame asks them on
// every menu and toolbar update.
#pragma once

#include <optional>
#include <string>

namespace pladmin {

// Command ids (menu, toolbar, navigation bar).
enum CommandId : int {
  ID_VIEW_STATUS = 32773,
  ID_VIEW_LOG = 32774,
  ID_SIMULATE_SESSIONS = 32775,
  ID_ADD_SERVER = 32776,
  ID_SYSTEM_SETTINGS = 32777,
  ID_DELETE = 32780,
  ID_WEB_HOME = 32781,
  ID_REFRESH = 32782,
  ID_VIEW_USAGE = 32783,
  ID_STOP_PORTULON = 32803,
  ID_START_PORTULON = 32804,
  ID_REMOVE_SERVER = 32805,
  ID_START_RAS = 32808,
  ID_STOP_RAS = 32809,
  ID_DAY_BACK = 32814,
  ID_DAY_FORWARD = 32815,
  ID_CALENDAR_JUMP = 32816,
  ID_CUSTOMIZE_VIEW = 32817,  // the log view's columns
  ID_NEWEST_FIRST = 32902,    // the history opens sorted newest first (a check mark)
  ID_HELP_CONTENTS = 32830,
  ID_WEB_SUPPORT = 32831,
  ID_EXPORT_SESSIONS = 32832,
  ID_VIEW_STATISTICS = 32833,
  ID_REFRESH_RATE = 32834,
  ID_FILE_SAVE_AS = 57603,
  ID_FILE_PRINT_DIRECT = 57606,
  ID_FILE_PRINT = 57607,
  ID_FILE_PRINT_PREVIEW = 57609,
  ID_PORT_DISCONNECT = 32900,  // Disconnect on a connected port
  ID_SERVER_SETTINGS = 32901,  // the selected server's settings pages
  ID_PORT_SETTINGS = 32903,    // the selected port's section of portulon.hw
};

// Navigation items of the navigation bar.
enum NavItem : int { kNavStatus = 0, kNavHistory = 1, kNavUsage = 2, kNavStatistics = 3 };

// Node kinds: the image index of the selected tree item.
enum NodeKind : int {
  kNodeServersRoot = 0,
  kNodeServer = 1,
  kNodeServerAlt = 2,
  kNodePort = 3,
  kNodePortInUse = 4,
  kNodePortAlt = 5,
  kNodeAccountsRoot = 6,
  kNodeAccountsRootAlt = 7,
  kNodeUser = 8,
  kNodeDomain = 9,
  kNodeGroup = 10,
  kNodeDefaultProfile = 12,
  kNodeUserAlt = 14,
};

// Update hints passed to the views.
enum UpdateHint : int {
  kHintNone = 0,
  kHintServerList = 20,
  kHintSelection = 21,
  kHintAccounts = 22,
  kHintDay = 24,
  kHintSaveData = 25,
  kHintColumns = 26,  // the log view's columns changed
  kHintServerData = 201,
};

// Service states as IsServiceRunning tells them.
enum ServiceRun : int { kServiceUnknown = 0, kServiceRunning = 1, kServiceNotRunning = 2 };

// Content views the container can show.
enum class ContentView { Servers, Ports, PortStatus, Users, Log, Usage, Statistics };

// What the frame knows when it updates a command.
struct CommandContext {
  int navItem = kNavStatus;
  bool masterKnown = false;
  bool serverSelected = false;
  bool portConnected = false;  // a port in use is selected
  bool portSelected = false;   // a port of the selected server, in use or not
  ContentView content = ContentView::Servers;
  int portulonService = kServiceUnknown;  // of the selected server
  int rasService = kServiceUnknown;
};

bool IsCommandEnabled(int id, const CommandContext& context);

// The first line of the wait message of a command that needs the master
// ("Can't show history", ...), nullopt for other commands.
std::optional<std::string> NeedsMasterText(int id);
// "<text>\nPlease wait for connection to master server".
std::string MasterWaitMessage(const std::string& text);
// Tree items that show the master's data (accounts, domains, groups).
bool NodeNeedsMaster(int nodeKind);
inline constexpr const char* kAccountsNeedMasterText = "Can't show accounts";

// The content view for a node kind and a navigation item.
struct ViewChoice {
  ContentView view = ContentView::Servers;
  const char* caption = "";
  int hint = kHintNone;

  bool operator==(const ViewChoice&) const = default;
};
// nullopt for kinds that change nothing (2 and kinds above 12).
std::optional<ViewChoice> ChooseContentView(int nodeKind, int navItem);

// The navigation command of an item of the navigation bar, and back.
int NavItemCommand(int navItem);

}  // namespace pladmin
