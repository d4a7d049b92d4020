#include "service/action_thread.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <thread>

#include "common/profile_helpers.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "service/event_report.h"
#include "service/greeting.h"
#include "service/outage_recovery.h"
#include "service/port_table.h"
#include "service/ras_ports.h"
#include "service/ras_server.h"
#include "service/service_context.h"

namespace svc {

namespace {

// A copy of what a pass looks at in one entry, taken under the table's lock;
// the port operations and commands run without it, so that a hang-up the
// remote-access server reports meanwhile is never kept waiting.
struct SessionView {
  std::string port;
  std::string user;
  std::string netbios;
  std::int64_t start = 0;
  std::int64_t deadline = 0;
  int notifyLevel = 0;
  int portIdleTimer = 0;
  int idleSoFar = 0;
  std::int64_t cutNotBefore = 0;
};

SessionView View(PortTable& table, int index) {
  auto lock = table.Lock();
  const PortEntry& e = table.Entry(index);
  return SessionView{e.port,          e.user,        e.netbios,   e.start,      e.deadline,
                     e.notifyLevel,   e.portIdleTimer, e.idleSoFar, e.cutNotBefore};
}

// Runs `change` on the entry if it still holds the session `view` was taken of.
template <typename Change>
void Update(PortTable& table, int index, const SessionView& view, Change change) {
  auto lock = table.Lock();
  PortEntry& e = table.Entry(index);
  if (e.port == view.port && e.start == view.start) change(e);
}

std::string PortName(const std::string& serverPort) {
  const size_t slash = serverPort.find('\\');
  return slash == std::string::npos ? serverPort : serverPort.substr(slash + 1);
}

// To the computer when one is known, else to the user part of the account;
// never to a recipient that could not be passed as one argument.
void SendNotify(const PortOperations& ops, const SessionView& s, const std::string& text) {
  const std::optional<std::string> recipient = MessageRecipient(s.netbios, s.user);
  if (!recipient) {
    common::Trace("Notify refused, no plausible recipient. Computer-->", s.netbios, 0);
    return;
  }
  const std::string command = "NET SEND " + *recipient + " " + text;
  common::Trace("Notify Command", command, 0);
  ops.run(command);
}

// A warning goes out on the last pass before its interval begins, so that it
// precedes the cut by at least that interval; the cut then waits for the
// interval to run out, should the passes have run late. A session admitted
// with less time than the interval is warned at once and cut on time.
void Warn(PortTable& table, int index, const SessionView& s, const PortOperations& ops,
          const std::string& text, DWORD interval, int level, std::time_t now) {
  SendNotify(ops, s, text);
  const bool heldFor = s.deadline - s.start >= static_cast<std::int64_t>(interval);
  Update(table, index, s, [&](PortEntry& e) {
    e.notifyLevel = level;
    if (heldFor) e.cutNotBefore = now + static_cast<std::int64_t>(interval);
  });
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

std::chrono::milliseconds ActionInterval() {
  if (const char* text = std::getenv("PORTULON_ACTION_INTERVAL_MS")) {
    const long ms = std::strtol(text, nullptr, 10);
    if (ms > 0) return std::chrono::milliseconds(ms);
  }
  return std::chrono::milliseconds(60000);
}

int ComputeBytesForSession(ServiceContext& context, int index, const PortOperations& ops) {
  const SessionView s = View(context.portTable, index);
  const ServiceSettings settings = context.SettingsSnapshot();
  const DWORD timeout = s.portIdleTimer != 0 ? static_cast<DWORD>(s.portIdleTimer)
                                             : settings.idleTimerSeconds;
  if (timeout == 0) return 0;
  DWORD sent = 0, received = 0;
  if (!ops.traffic(PortName(s.port), &sent, &received)) return 2;

  const DWORD limit = settings.idleBytesLimit;
  int result = 0;
  Update(context.portTable, index, s, [&](PortEntry& e) {
    bool idleReceiving = false;
    if (received > e.receivedBase + limit) {
      e.receivedBase = received;
      e.idleSoFar = 0;
    } else {
      idleReceiving = true;
    }
    if (sent > e.sentBase + limit) {
      e.sentBase = sent;
      e.idleSoFar = 0;
    } else if (idleReceiving) {
      e.idleSoFar += 61;
    }
    char line[120];
    std::snprintf(line, sizeof line, "IDLE: State in entry %d --> RECD=%d SENT=%d IDLESOFAR=%d", index,
                  static_cast<int>(received), static_cast<int>(sent), e.idleSoFar);
    common::Trace("ComputeBytesForSession", line, 0);
    result = idleReceiving && static_cast<DWORD>(e.idleSoFar) > timeout ? 1 : 0;
  });
  return result;
}

bool DisconnectPort(ServiceContext& context, int index, const PortOperations& ops) {
  const SessionView s = View(context.portTable, index);
  Update(context.portTable, index, s, [](PortEntry& e) { e.forced = 1; });
  if (!ops.disconnect(PortName(s.port))) {
    // Nothing was cut: the session goes on and its hang-up must not read as forced.
    common::Trace("ActionThread", "DisconnectPort failed", index);
    Update(context.portTable, index, s, [](PortEntry& e) { e.forced = 0; });
    return false;
  }
  ReportToEventLog(0, common::kEventForcedDisconnect, s.port.c_str(), s.user.c_str(), 2);
  return true;
}

void ActionPass(ServiceContext& context, ActionState& state, const PortOperations& ops,
                std::time_t now) {
  common::Trace("ActionThread", "Action Thread GO...", 0);
  if (++state.passCounter >= 60) {
    state.passCounter = 0;
    CountSessions(context, now);
  }
  PortTable& table = context.portTable;
  // Taken once per pass: UPDATE_UPDATE may replace the shared settings meanwhile.
  const SystemData sd = context.SystemDataSnapshot();
  // A re-read of the settings takes effect from the next pass.
  const DWORD serverIdleTimer = context.SettingsSnapshot().idleTimerSeconds;
  // A warning is due when its window opens before the next pass.
  const std::time_t ahead = now + static_cast<std::time_t>((ActionInterval().count() + 999) / 1000);

  if (sd.notify1 != 0) {
    for (int i = 0; i < PortTable::kSessionEntries; ++i) {
      const SessionView s = View(table, i);
      if (s.deadline == 0 || s.notifyLevel != 0 || !(s.deadline - sd.notify1 < ahead)) continue;
      // Inside the second warning's window the first is skipped.
      if (sd.notify2 != 0 && s.deadline - sd.notify2 < ahead) continue;
      common::Trace("ActionThread", "Send First Notify!!", i);
      Warn(table, i, s, ops, sd.notify1Text, sd.notify1, 1, now);
    }
  }
  if (sd.notify2 != 0) {
    for (int i = 0; i < PortTable::kSessionEntries; ++i) {
      const SessionView s = View(table, i);
      // Never again once sent, nor after the disconnect.
      if (s.deadline == 0 || s.notifyLevel >= 2 || !(s.deadline - sd.notify2 < ahead)) continue;
      common::Trace("ActionThread", "Send Second Notify!!", i);
      Warn(table, i, s, ops, sd.notify2Text, sd.notify2, 2, now);
    }
  }
  for (int i = 0; i < PortTable::kSessionEntries; ++i) {
    const SessionView s = View(table, i);
    if (s.start == 0) continue;
    const bool portTimer = s.portIdleTimer != 0;
    if (portTimer) {
      common::Trace("ActionThread", "Check Idle Time (PORT) on Session", i);
    } else if (serverIdleTimer != 0) {
      common::Trace("ActionThread", "Check Idle Time on Session", i);
    } else {
      continue;
    }
    int idle = ComputeBytesForSession(context, i, ops);
    // Passes run a minute apart and count 61 s of idleness each, so a session
    // that began just before a pass would otherwise be cut seconds old.
    const DWORD timeout = portTimer ? static_cast<DWORD>(s.portIdleTimer) : serverIdleTimer;
    // (Passes that run faster than the clock, as in tests, count as minutes.)
    if (idle == 1 && now - s.start < static_cast<std::time_t>(timeout) &&
        static_cast<DWORD>(View(table, i).idleSoFar) <= timeout + 61) {
      common::Trace("ActionThread", "Idle, but not yet up for a full idle period", i);
      idle = 0;
    }
    if (idle == 2) {
      common::Trace("ActionThread", portTimer ? "Fail Compute Idle Bytes (PORT)" : "Fail Compute Idle Bytes", i);
    } else if (idle == 1) {
      common::Trace("ActionThread", portTimer ? "Idle (PORT). Time to Disconnect" : "Idle. Time to Disconnect", i);
      // The reason is in place before the hang-up can come back.
      int previousReason = 0;
      Update(table, i, s, [&](PortEntry& e) {
        previousReason = e.reason;
        e.reason = kReasonIdle;
      });
      if (DisconnectPort(context, i, ops)) {
        Update(table, i, s, [](PortEntry& e) { e.notifyLevel = 3; });
      } else {
        Update(table, i, s, [&](PortEntry& e) { e.reason = previousReason; });
      }
    }
  }
  for (int i = 0; i < PortTable::kSessionEntries; ++i) {
    const SessionView s = View(table, i);
    if (s.deadline == 0 || !(s.deadline < now) || s.notifyLevel == 3) continue;
    if (now < s.cutNotBefore) {
      common::Trace("ActionThread", "Deadline passed, the warning's interval still runs", i);
      continue;
    }
    char line[200];
    std::snprintf(line, sizeof line, "Action: Disconnect User on port '%s' MemTableRow=%d", s.port.c_str(), i);
    common::Trace("ActionThread", line, i);
    if (DisconnectPort(context, i, ops)) Update(table, i, s, [](PortEntry& e) { e.notifyLevel = 3; });
  }
  common::Trace("ActionThread", "Action Thread DONE, now sleep for a minute...", 0);
}

PortOperations ServerPortOperations(ServiceContext& context) {
  PortOperations ops;
  ServiceContext* ctx = &context;
  ops.traffic = [ctx](const std::string& port, DWORD* sent, DWORD* received) {
    return RAS_GetTrafficBytesForPort(*ctx, ctx->serverName, port, sent, received) == plat::ERROR_SUCCESS;
  };
  ops.disconnect = [ctx](const std::string& port) {
    // The entry is marked forced with its reason before the request, so the
    // client can be told why.
    const int reason = PortTableGetDisconnectReason(ctx->portTable, ctx->serverName + "\\" + port);
    return DisconnectPort(*ctx, ctx->serverName, port, reason) == plat::ERROR_SUCCESS;
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
      if (context.rasType == PLK::kRasTypeRras) ops.run("plcollect.exe");
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
