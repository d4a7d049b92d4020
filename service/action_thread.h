// Session supervision: once a minute the sessions in the port table are
// checked for warnings before their deadline, for idle time and for the
// deadline itself; once an hour the number of sessions is recorded.
#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "platform/win_types.h"

namespace svc {

struct ServiceContext;
using plat::DWORD;

// What supervision asks of the remote-access server, by port name (the part
// after "SERVER\"). The service's own come from the RAS or RRAS port
// operations; tests give theirs.
struct PortOperations {
  // Bytes sent and received so far; false when the port cannot be asked.
  std::function<bool(const std::string& port, DWORD* sent, DWORD* received)> traffic;
  // True once the server took the request (the hang-up follows).
  std::function<bool(const std::string& port)> disconnect;
  // Runs a command line hidden without waiting ("NET SEND ...", the collector).
  std::function<void(const std::string& commandLine)> run;
};

// The port operations of the server the context runs on.
PortOperations ServerPortOperations(ServiceContext& context);

struct ActionState {
  int passCounter = 0;  // 0..59: every 60th pass counts the sessions
};

// One pass at time `now`: the hourly count; then, planned over one snapshot
// of the table and one reading of the ports' traffic, the first and second
// warnings, the idle check and the deadline check, applied in that order to
// the sessions the table still holds.
void ActionPass(ServiceContext& context, ActionState& state, const PortOperations& ops,
                std::time_t now);

// Marks the session forced, disconnects its port and reports event 5. A
// disconnect the server refused is traced ("DisconnectPort failed"), reports
// nothing, leaves the session unforced and returns false; the next pass
// tries again.
bool DisconnectPort(ServiceContext& context, int index, const PortOperations& ops);

// Starts the thread that runs a pass every ActionInterval() (settings.h), for ever.
void StartActionThread(ServiceContext& context);

// 1 unless static address assignment has been turned off under
// Software\Microsoft\RAS\AdminDLL (DisableStaticIP), which is reported once to
// the event log under "Portulon Server"; then 0.
int IsIPUsed();

}  // namespace svc
