#include "service/action_thread.h"

#include <cstdio>
#include <string_view>
#include <thread>
#include <vector>

#include "common/profile_helpers.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "service/event_report.h"
#include "service/greeting.h"
#include "service/outage_recovery.h"
#include "service/port_table.h"
#include "service/ras_ports.h"
#include "service/service_context.h"

namespace svc {

namespace {

// A copy of one entry, taken with all the others under one lock: the pass
// plans over these copies, and the port operations and commands run without
// the lock, so that a hang-up the remote-access server reports meanwhile is
// never kept waiting. With the port's traffic, read once per pass.
struct SessionView {
  int index = 0;
  PortEntry e;
  bool trafficRead = false;
  DWORD sent = 0;
  DWORD received = 0;
};

std::vector<SessionView> Snapshot(PortTable& table) {
  std::vector<SessionView> sessions;
  auto lock = table.Lock();
  for (int i = 0; i < PortTable::kSessionEntries; ++i) {
    const PortEntry& e = table.Entry(i);
    if (e.start != 0 || e.deadline != 0) sessions.push_back(SessionView{i, e});
  }
  return sessions;
}

// Runs `change` on the entry if it still holds the session `view` was taken of.
template <typename Change>
void Update(PortTable& table, const SessionView& view, Change change) {
  auto lock = table.Lock();
  PortEntry& e = table.Entry(view.index);
  if (e.port == view.e.port && e.start == view.e.start) change(e);
}

// Asks the traffic of every session that has an idle time-out.
void ReadTraffic(std::vector<SessionView>& sessions, DWORD serverIdleTimer, const PortOperations& ops) {
  for (SessionView& s : sessions) {
    if (s.e.start == 0) continue;
    if (s.e.portIdleTimer != 0) {
      common::Trace("ActionThread", "Check Idle Time (PORT) on Session", s.index);
    } else if (serverIdleTimer != 0) {
      common::Trace("ActionThread", "Check Idle Time on Session", s.index);
    } else {
      continue;
    }
    s.trafficRead = ops.traffic(std::string(plat::AfterBackslash(s.e.port)), &s.sent, &s.received);
  }
}

// What one pass does to one session, planned over the snapshot in the order
// applied: first warnings, second warnings, idle counts and cuts, deadline
// cuts. `session` is the entry as the step leaves it.
struct Action {
  enum Kind { kWarn, kIdleCount, kCut } kind = kWarn;
  SessionView session;
  std::string text;           // kWarn
  int reason = kReasonNone;   // kCut: set before the disconnect; kReasonNone keeps the entry's
};

struct PassInputs {
  SystemData systemData;
  DWORD serverIdleTimer = 0;
  DWORD idleBytesLimit = 0;
  std::time_t now = 0;
  std::time_t ahead = 0;  // a warning is due when its window opens before this
};

// Idle state of a session (ComputeBytesForSession): 0 active (or no idle
// time-out), 1 idle beyond its time-out, 2 its traffic could not be read.
// Moves the session's bases and idle count as its traffic says.
int ComputeBytesForSession(SessionView& s, DWORD timeout, DWORD limit) {
  if (timeout == 0) return 0;
  if (!s.trafficRead) return 2;
  PortEntry& e = s.e;
  bool idleReceiving = false;
  if (s.received > e.receivedBase + limit) {
    e.receivedBase = s.received;
    e.idleSoFar = 0;
  } else {
    idleReceiving = true;
  }
  if (s.sent > e.sentBase + limit) {
    e.sentBase = s.sent;
    e.idleSoFar = 0;
  } else if (idleReceiving) {
    e.idleSoFar += 61;
  }
  const std::string line =
      plat::FormatText("IDLE: State in entry %d --> RECD=%d SENT=%d IDLESOFAR=%d", s.index,
                       static_cast<int>(s.received), static_cast<int>(s.sent), e.idleSoFar);
  common::Trace("ComputeBytesForSession", line, 0);
  return idleReceiving && static_cast<DWORD>(e.idleSoFar) > timeout ? 1 : 0;
}

// A warning goes out on the last pass before its interval begins, so that it
// precedes the cut by at least that interval; the cut then waits for the
// interval to run out, should the passes have run late. A session admitted
// with less time than the interval is warned at once and cut on time.
void PlanWarning(std::vector<Action>& plan, SessionView& s, int level, const std::string& text,
                 DWORD interval, std::time_t now) {
  if (s.e.deadline - s.e.start >= static_cast<std::int64_t>(interval)) {
    s.e.cutNotBefore = now + static_cast<std::int64_t>(interval);
  }
  s.e.notifyLevel = level;
  plan.push_back(Action{Action::kWarn, s, text});
}

// The warning before a cut at the account's expiry says so: the configured
// text with the reason after it, or the reason alone when no text is set.
std::string WarningText(const std::string& configured, int reason) {
  if (reason != kReasonAccountExpired) return configured;
  constexpr const char* kExpires = "account expires at midnight";
  if (configured.empty() || configured == "0") return std::string("Portulon: ") + kExpires;
  return configured + " (" + kExpires + ")";
}

std::vector<Action> PlanPass(std::vector<SessionView> sessions, const PassInputs& in) {
  const SystemData& sd = in.systemData;
  std::vector<Action> plan;
  for (SessionView& s : sessions) {
    const PortEntry& e = s.e;
    if (sd.notify1 == 0 || e.deadline == 0 || e.notifyLevel != 0 || !(e.deadline - sd.notify1 < in.ahead)) continue;
    // Inside the second warning's window the first is skipped.
    if (sd.notify2 != 0 && e.deadline - sd.notify2 < in.ahead) continue;
    common::Trace("ActionThread", "Send First Notify!!", s.index);
    PlanWarning(plan, s, 1, WarningText(sd.notify1Text, e.reason), sd.notify1, in.now);
  }
  for (SessionView& s : sessions) {
    const PortEntry& e = s.e;
    // Never again once sent, nor after the disconnect.
    if (sd.notify2 == 0 || e.deadline == 0 || e.notifyLevel >= 2 || !(e.deadline - sd.notify2 < in.ahead)) continue;
    common::Trace("ActionThread", "Send Second Notify!!", s.index);
    PlanWarning(plan, s, 2, WarningText(sd.notify2Text, e.reason), sd.notify2, in.now);
  }
  for (SessionView& s : sessions) {
    if (s.e.start == 0) continue;
    const bool portTimer = s.e.portIdleTimer != 0;
    const DWORD timeout = portTimer ? static_cast<DWORD>(s.e.portIdleTimer) : in.serverIdleTimer;
    int idle = ComputeBytesForSession(s, timeout, in.idleBytesLimit);
    if (timeout != 0 && idle != 2) plan.push_back(Action{Action::kIdleCount, s, {}, kReasonNone});
    // Passes run a minute apart and count 61 s of idleness each, so a session
    // that began just before a pass would otherwise be cut seconds old.
    // (Passes that run faster than the clock, as in tests, count as minutes.)
    if (idle == 1 && in.now - s.e.start < static_cast<std::time_t>(timeout) &&
        static_cast<DWORD>(s.e.idleSoFar) <= timeout + 61) {
      common::Trace("ActionThread", "Idle, but not yet up for a full idle period", s.index);
      idle = 0;
    }
    if (idle == 2) {
      common::Trace("ActionThread", portTimer ? "Fail Compute Idle Bytes (PORT)" : "Fail Compute Idle Bytes", s.index);
    } else if (idle == 1) {
      common::Trace("ActionThread", portTimer ? "Idle (PORT). Time to Disconnect" : "Idle. Time to Disconnect", s.index);
      plan.push_back(Action{Action::kCut, s, {}, kReasonIdle});
      s.e.notifyLevel = 3;
    }
  }
  for (const SessionView& s : sessions) {
    const PortEntry& e = s.e;
    if (e.deadline == 0 || !(e.deadline < in.now) || e.notifyLevel == 3) continue;
    if (in.now < e.cutNotBefore) {
      common::Trace("ActionThread", "Deadline passed, the warning's interval still runs", s.index);
      continue;
    }
    char line[200];
    std::snprintf(line, sizeof line, "Action: Disconnect User on port '%s' MemTableRow=%d", e.port.c_str(), s.index);
    common::Trace("ActionThread", line, s.index);
    plan.push_back(Action{Action::kCut, s, {}, kReasonNone});
  }
  return plan;
}

// To the computer when one is known, else to the user part of the account;
// never to a recipient that could not be passed as one argument.
void SendNotify(const PortOperations& ops, const PortEntry& e, const std::string& text) {
  const std::optional<std::string> recipient = MessageRecipient(e.netbios, e.user);
  if (!recipient) {
    common::Trace("Notify refused, no plausible recipient. Computer-->", e.netbios, 0);
    return;
  }
  const std::string command = "NET SEND " + *recipient + " " + text;
  common::Trace("Notify Command", command, 0);
  ops.run(command);
}

// Marks the session forced, with `reason` unless kReasonNone (in place
// before the hang-up can come back), disconnects its port and reports event
// 5; false when the entry no longer holds the session (nothing is done) or
// the server refused (the entry is as it was).
bool CutSession(ServiceContext& context, const SessionView& s, int reason, const PortOperations& ops) {
  bool held = false;
  int previousReason = 0;
  Update(context.portTable, s, [&](PortEntry& e) {
    held = true;
    e.forced = 1;
    previousReason = e.reason;
    if (reason != kReasonNone) e.reason = reason;
  });
  if (!held) {
    common::Trace("ActionThread", "Session ended before its cut", s.index);
    return false;
  }
  if (!ops.disconnect(std::string(plat::AfterBackslash(s.e.port)))) {
    // Nothing was cut: the session goes on and its hang-up must not read as forced.
    common::Trace("ActionThread", "DisconnectPort failed", s.index);
    Update(context.portTable, s, [&](PortEntry& e) {
      e.forced = 0;
      e.reason = previousReason;
    });
    return false;
  }
  ReportToEventLog(0, common::kEventForcedDisconnect, s.e.port.c_str(), s.e.user.c_str(), 2);
  return true;
}

void Apply(ServiceContext& context, const Action& a, const PortOperations& ops) {
  PortTable& table = context.portTable;
  const SessionView& s = a.session;
  switch (a.kind) {
    case Action::kWarn:
      SendNotify(ops, s.e, a.text);
      Update(table, s, [&](PortEntry& e) {
        e.notifyLevel = s.e.notifyLevel;
        e.cutNotBefore = s.e.cutNotBefore;
      });
      return;
    case Action::kIdleCount:
      Update(table, s, [&](PortEntry& e) {
        e.sentBase = s.e.sentBase;
        e.receivedBase = s.e.receivedBase;
        e.idleSoFar = s.e.idleSoFar;
      });
      return;
    case Action::kCut:
      if (CutSession(context, s, a.reason, ops)) Update(table, s, [](PortEntry& e) { e.notifyLevel = 3; });
      return;
  }
}

void CountSessions(ServiceContext& context, std::time_t now) {
  int inUse = 0;
  {
    auto lock = context.portTable.Lock();
    for (int i = 0; i < PortTable::kSessionEntries; ++i) {
      if (context.portTable.Entry(i).start != 0) ++inUse;
    }
  }
  common::ProfileWriteInt(context.PathsSnapshot().portStat, context.serverName,
                          std::to_string(static_cast<long long>(now)), inUse);
}

}  // namespace

bool DisconnectPort(ServiceContext& context, int index, const PortOperations& ops) {
  SessionView s{index, {}};
  {
    auto lock = context.portTable.Lock();
    s.e = context.portTable.Entry(index);
  }
  return CutSession(context, s, kReasonNone, ops);
}

void ActionPass(ServiceContext& context, ActionState& state, const PortOperations& ops,
                std::time_t now) {
  common::Trace("ActionThread", "Action Thread GO...", 0);
  if (++state.passCounter >= 60) {
    state.passCounter = 0;
    CountSessions(context, now);
  }
  // Taken once per pass: UPDATE_UPDATE may replace the shared settings
  // meanwhile; a re-read of the settings takes effect from the next pass.
  PassInputs in;
  in.systemData = context.SystemDataSnapshot();
  const ServiceSettings settings = context.SettingsSnapshot();
  in.serverIdleTimer = settings.idleTimerSeconds;
  in.idleBytesLimit = settings.idleBytesLimit;
  in.now = now;
  in.ahead = now + static_cast<std::time_t>((ActionInterval().count() + 999) / 1000);

  std::vector<SessionView> sessions = Snapshot(context.portTable);
  ReadTraffic(sessions, in.serverIdleTimer, ops);
  for (const Action& a : PlanPass(std::move(sessions), in)) Apply(context, a, ops);
  common::Trace("ActionThread", "Action Thread DONE, now sleep for a minute...", 0);
}

PortOperations ServerPortOperations(ServiceContext& context) {
  PortOperations ops;
  ServiceContext* ctx = &context;
  ops.traffic = [ctx](const std::string& port, DWORD* sent, DWORD* received) {
    return RAS_GetTrafficBytesForPort(ctx->remoteAccess, ctx->serverName, port, sent, received) ==
           plat::ERROR_SUCCESS;
  };
  ops.disconnect = [ctx](const std::string& port) {
    // The entry is marked forced with its reason before the request, so the
    // client can be told why.
    const int reason = PortTableGetDisconnectReason(ctx->portTable, ctx->serverName + "\\" + port);
    return DisconnectPort(ctx->remoteAccess, ctx->serverName, port, reason) == plat::ERROR_SUCCESS;
  };
  ops.run = [](const std::string& commandLine) {
    plat::ProcessOptions options;
    const plat::DWORD err = plat::RunCommandLine(commandLine, options);
    // A program that cannot be started is traced, not hidden.
    if (err != plat::ERROR_SUCCESS) {
      common::Trace("RunCommand", "Failed to start " + commandLine, static_cast<long>(err));
    }
  };
  return ops;
}

void StartActionThread(ServiceContext& context) {
  std::thread t([&context] {
    const PortOperations ops = ServerPortOperations(context);
    ActionState state;
    for (;;) {
      // The collector refreshes the router's port data that the traffic query reads.
      if (context.remoteAccess.kind == common::kRasKindRras) ops.run("plcollect.exe");
      std::this_thread::sleep_for(ActionInterval());
      ActionPass(context, state, ops, context.Now());
      WriteKeptBetweenMessages(context);
    }
  });
  common::Trace("AutoActionThread", "Got Thread ID#", static_cast<long>(t.native_handle() & 0x7fffffff));
  t.detach();
}

int IsIPUsed() {
  std::string value;
  if (plat::RegReadString("Software\\Microsoft\\RAS\\AdminDLL", "DisableStaticIP", &value) ==
          plat::ERROR_SUCCESS &&
      common::DecimalValue(value) != 0) {
    plat::EventSource source;
    if (plat::EventSource::Register("", "Portulon Server", &source) == plat::ERROR_SUCCESS) {
      source.Report(plat::EVENTLOG_ERROR_TYPE, 0, 1, {"Static IP Assignment is turned off in Portulon."});
    }
    return 0;
  }
  return 1;
}

}  // namespace svc
