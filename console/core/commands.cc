#include "console/core/commands.h"

namespace pladmin {

bool IsCommandEnabled(int id, const CommandContext& c) {
  switch (id) {
    case ID_VIEW_STATUS: return c.navItem != kNavStatus;
    case ID_VIEW_LOG: return c.masterKnown && c.navItem != kNavHistory;
    case ID_VIEW_USAGE: return c.masterKnown && c.navItem != kNavUsage;
    case ID_VIEW_STATISTICS: return c.masterKnown && c.navItem != kNavStatistics;
    case ID_START_PORTULON: return c.serverSelected && c.portulonService == kServiceNotRunning;
    case ID_STOP_PORTULON: return c.serverSelected && c.portulonService == kServiceRunning;
    case ID_START_RAS: return c.serverSelected && c.rasService == kServiceNotRunning;
    case ID_STOP_RAS: return c.serverSelected && c.rasService == kServiceRunning;
    // Without a selected server there is nothing to remove.
    case ID_DELETE:
    case ID_REMOVE_SERVER: return c.serverSelected;
    case ID_SERVER_SETTINGS: return c.serverSelected;
    // A port's settings live in the master's portulon.hw.
    case ID_PORT_SETTINGS: return c.portSelected && c.masterKnown;
    case ID_DAY_BACK:
    case ID_DAY_FORWARD:
    case ID_CALENDAR_JUMP: return c.navItem != kNavStatus;
    case ID_FILE_SAVE_AS:
      return c.navItem == kNavHistory || c.navItem == kNavStatistics ||
             (c.navItem == kNavStatus && c.content == ContentView::Users);
    case ID_PORT_DISCONNECT: return c.portConnected;
    case ID_CUSTOMIZE_VIEW:
    case ID_NEWEST_FIRST: return c.content == ContentView::Log;
    case ID_FILE_PRINT:
    case ID_FILE_PRINT_DIRECT:
    case ID_FILE_PRINT_PREVIEW: return c.navItem == kNavHistory;
    default: return true;
  }
}

std::optional<std::string> NeedsMasterText(int id) {
  switch (id) {
    case ID_VIEW_LOG: return "Can't show history";
    case ID_VIEW_USAGE: return "Can't show usage";
    case ID_VIEW_STATISTICS: return "Can't show statistics";
    case ID_SYSTEM_SETTINGS: return "Can't access system settings";
    case ID_CALENDAR_JUMP: return "Can't go to calendar";
    case ID_EXPORT_SESSIONS: return "Can't export sessions";
    default: return std::nullopt;
  }
}

std::string MasterWaitMessage(const std::string& text) {
  return text + "\nPlease wait for connection to master server";
}

bool NodeNeedsMaster(int kind) {
  return kind == kNodeAccountsRoot || kind == kNodeAccountsRootAlt || kind == kNodeDomain ||
         kind == kNodeGroup;
}

std::optional<ViewChoice> ChooseContentView(int kind, int item) {
  if (item < kNavStatus || item > kNavStatistics) return std::nullopt;
  if (kind < 0 || kind == kNodeServerAlt || kind > kNodeDefaultProfile) return std::nullopt;
  // Usage and statistics look the same from every node.
  if (item == kNavUsage) return ViewChoice{ContentView::Usage, "Usage", kHintDay};
  if (item == kNavStatistics) return ViewChoice{ContentView::Statistics, "Statistics", kHintDay};
  if (item == kNavHistory) {
    return ViewChoice{ContentView::Log, "History",
                      kind == kNodeServersRoot ? kHintDay : kHintSelection};
  }
  switch (kind) {
    case kNodeServersRoot: return ViewChoice{ContentView::Servers, "Status", kHintServerList};
    case kNodeServer: return ViewChoice{ContentView::Ports, "Ports", kHintSelection};
    case kNodePort:
    case kNodePortInUse:
    case kNodePortAlt: return ViewChoice{ContentView::PortStatus, "Port Status", kHintNone};
    default: return ViewChoice{ContentView::Users, "Users", kHintAccounts};
  }
}

int NavItemCommand(int navItem) {
  switch (navItem) {
    case kNavHistory: return ID_VIEW_LOG;
    case kNavUsage: return ID_VIEW_USAGE;
    case kNavStatistics: return ID_VIEW_STATISTICS;
    default: return ID_VIEW_STATUS;
  }
}

}  // namespace pladmin
