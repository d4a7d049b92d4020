// One fetch of a server: its Service settings from its registry and its ports
// from its remote-access service, written into a record the fetch owns.
#pragma once

#include <functional>

#include "console/core/ras_func.h"
#include "console/core/server.h"

namespace pladmin {

// The administration wrappers, one instance shared by all fetches.
struct RasAdmin {
  CRASFunc ras;
  CRRASFunc rras;
  COpenVpnFunc openVpn;
};

// Notifications of the fetch (WM_USER+21 and WM_USER+22).
inline constexpr int kMsgServerChanged = 0x0400 + 21;
inline constexpr int kMsgServerRedraw = 0x0400 + 22;

// Callbacks of a running fetch: whether it should go on, and a progress
// report with the record's state (called on the fetching thread).
struct FetchControl {
  std::function<bool()> keepRunning = [] { return true; };
  std::function<void(int state)> progress = [](int) {};
};

// Refreshes `record` (the fetch's own copy of the server's record). Returns
// false when keepRunning turned false on the way (the record is then
// half-done and must be dropped); otherwise true, with record->state 0 or a
// failure state, record->changeMask telling what changed and fetchDone set.
bool FetchServer(CServer* record, RasAdmin& admin, const FetchControl& control);

// The registry part alone, as the fetch runs it: false with the state set
// on failure.
bool FetchRegistryData(CServer* record);
// The port part alone.
bool FetchPortData(CServer* record, RasAdmin& admin);

}  // namespace pladmin
