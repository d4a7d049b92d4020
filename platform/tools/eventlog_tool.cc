// eventlog: lists the records of a machine's event log, and follows it.
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/tools/tool_args.h"

namespace {

constexpr const char* kUsage =
    "Usage: eventlog list [LOG] [--follow] [--machine ROOT]\n"
    "       eventlog --help\n"
    "\n"
    "Prints the records of an event log (Application when LOG is not given, or\n"
    "System), oldest first, one a line: number, date and time, type, source,\n"
    "event id, the meaning of the ids we know, and the record's strings.\n"
    "\n"
    "  --follow        keep printing records as they arrive, until interrupted\n"
    "  --machine ROOT  the machine folder to read; default: $PORTULON_MACHINE\n";

constexpr long kPollMilliseconds = 200;

// What the event identifiers we report or read mean.
struct KnownEvent {
  const char* source;
  plat::DWORD id;
  const char* text;
};
constexpr KnownEvent kKnownEvents[] = {
    {"Portulon", 1, "Data folder access error or transaction failure"},
    {"Portulon", 3, "Connection accepted"},
    {"Portulon", 4, "Connection refused"},
    {"Portulon", 5, "Forced disconnect"},
    {"Portulon", 10, "Service started"},
    {"Portulon", 11, "Service failed to start"},
    {"Portulon", 12, "Service stopped"},
    {"RemoteAccess", 20050, "session statistics"},
    {"RemoteAccess", 20048, "session statistics"},
    {"RemoteAccess", 20068, "call-back"},
    {"RemoteAccess", 20064, "call-back"},
    {"Router", 20050, "session statistics"},
    {"Router", 20048, "session statistics"},
    {"Router", 20068, "call-back"},
    {"Router", 20064, "call-back"},
    {"RemoteAccess", 20170, "administration extension not loaded"},
    {"Router", 20170, "administration extension not loaded"},
};

// The viewer shows the code part of an identifier; the upper bits carry
// severity and facility.
plat::DWORD DisplayedId(plat::DWORD eventId) { return eventId & 0xFFFF; }

const char* KnownText(const plat::EventRecord& r) {
  for (const auto& known : kKnownEvents) {
    if (known.id == DisplayedId(r.eventId) && plat::EqualsIgnoringCase(known.source, r.source)) {
      return known.text;
    }
  }
  return nullptr;
}

const char* TypeText(plat::WORD type) {
  switch (type) {
    case plat::EVENTLOG_SUCCESS: return "Success";
    case plat::EVENTLOG_ERROR_TYPE: return "Error";
    case plat::EVENTLOG_WARNING_TYPE: return "Warning";
    case plat::EVENTLOG_INFORMATION_TYPE: return "Information";
    case plat::EVENTLOG_AUDIT_SUCCESS: return "Success Audit";
    case plat::EVENTLOG_AUDIT_FAILURE: return "Failure Audit";
    default: return "Unknown";
  }
}

// A record string in double quotes, its control characters made visible so
// that a record stays on one line.
std::string Quoted(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string FormatRecord(const plat::EventRecord& r, plat::LCID locale) {
  const std::tm when = plat::LocalTime(r.timeGenerated);
  char number[16];
  std::snprintf(number, sizeof number, "%6u", r.recordNumber);
  char type[16];
  std::snprintf(type, sizeof type, "%-13s", TypeText(r.eventType));
  std::string line = number;
  line += "  " + plat::GetDateFormat(locale, when) + " " + plat::GetTimeFormat(locale, when);
  line += std::string("  ") + type + " " + r.source + "  " + std::to_string(DisplayedId(r.eventId));
  if (const char* text = KnownText(r)) line += std::string("  ") + text;
  if (!r.strings.empty()) {
    line += " ";
    for (const std::string& s : r.strings) line += " " + Quoted(s);
  }
  return line;
}

// The log's name as the machine's registry spells it; false when the machine
// knows no such log. Application and System always exist.
bool CanonicalLogName(const std::string& root, std::string* log) {
  for (const char* standard : {"Application", "System"}) {
    if (plat::EqualsIgnoringCase(*log, standard)) {
      *log = standard;
      return true;
    }
  }
  plat::RegKey hklm, logs;
  std::vector<std::string> names;
  if (plat::RegKey::ConnectRoot(root, plat::Hive::LocalMachine, &hklm) != plat::ERROR_SUCCESS ||
      hklm.OpenSubKey(plat::kEventLogServicesKey, &logs) != plat::ERROR_SUCCESS ||
      logs.ListSubKeys(&names) != plat::ERROR_SUCCESS) {
    return false;
  }
  for (const std::string& name : names) {
    if (plat::EqualsIgnoringCase(name, *log)) {
      *log = name;
      return true;
    }
  }
  return false;
}

volatile sig_atomic_t interrupted = 0;

void OnInterrupt(int) { interrupted = 1; }

void InstallInterruptHandler() {
  struct sigaction action{};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: the poll's sleep ends at once
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void SleepPollInterval() {
  timespec delay{0, kPollMilliseconds * 1000 * 1000};
  nanosleep(&delay, nullptr);
}

// The records newer than `lastShown`, oldest first; reads backwards from the
// end of the log only as far as it must.
plat::DWORD ReadNewer(const std::string& log, plat::DWORD* lastShown,
                      std::vector<plat::EventRecord>* newer) {
  newer->clear();
  plat::EventLogReader reader;
  if (plat::DWORD err = plat::EventLogReader::Open("", log, &reader); err != plat::ERROR_SUCCESS) {
    return err;
  }
  std::vector<plat::EventRecord> batch;
  bool first = true;
  for (;;) {
    const plat::DWORD err = reader.ReadBackward(&batch, 64);
    if (err == plat::ERROR_HANDLE_EOF) break;
    if (err != plat::ERROR_SUCCESS) return err;
    if (first && batch.front().recordNumber < *lastShown) {
      *lastShown = 0;  // the log was started afresh
    }
    first = false;
    bool done = false;
    for (auto& r : batch) {
      if (r.recordNumber <= *lastShown) {
        done = true;
        break;
      }
      newer->push_back(std::move(r));
    }
    if (done) break;
  }
  std::reverse(newer->begin(), newer->end());
  return plat::ERROR_SUCCESS;
}

int List(pltools::Tool& tool, std::string log, bool follow) {
  const std::string root = plat::CurrentMachineRoot();
  if (!CanonicalLogName(root, &log)) {
    return tool.UsageError("the machine has no log named '" + log + "'");
  }
  const plat::LCID locale = plat::GetUserDefaultLCID();

  plat::EventLogReader reader;
  std::vector<plat::EventRecord> records;
  plat::DWORD err = plat::EventLogReader::Open("", log, &reader);
  if (err == plat::ERROR_SUCCESS) err = reader.ReadAll(&records);
  if (err != plat::ERROR_SUCCESS) return tool.Fail(err, "cannot read the " + log + " log");
  plat::DWORD lastShown = 0;
  for (const auto& r : records) {
    std::printf("%s\n", FormatRecord(r, locale).c_str());
    lastShown = std::max(lastShown, r.recordNumber);
  }
  std::fflush(stdout);
  if (!follow) return pltools::kExitSuccess;

  InstallInterruptHandler();
  while (!interrupted) {
    SleepPollInterval();
    if (interrupted) break;
    err = ReadNewer(log, &lastShown, &records);
    if (err != plat::ERROR_SUCCESS) return tool.Fail(err, "cannot read the " + log + " log");
    for (const auto& r : records) {
      std::printf("%s\n", FormatRecord(r, locale).c_str());
      lastShown = r.recordNumber;
    }
    std::fflush(stdout);
  }
  return pltools::kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("eventlog", kUsage);
  if (!tool.Parse(argc, argv)) return pltools::kExitUsage;
  if (tool.helpRequested()) return tool.PrintHelp();
  const bool follow = tool.TakeFlag("--follow") | tool.TakeFlag("-f");
  const std::vector<std::string>& args = tool.args();
  if (args.empty()) return tool.UsageError("no command given");
  if (args[0] == "help") return tool.PrintHelp();
  if (args[0] != "list") return tool.UsageError("unknown command '" + args[0] + "'");
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i].rfind('-', 0) == 0) return tool.UsageError("unknown option '" + args[i] + "'");
  }
  if (args.size() > 2) return tool.UsageError("more than one log named");
  const std::string log = args.size() == 2 ? args[1] : "Application";
  if (log.empty()) return tool.UsageError("empty log name");
  if (!tool.RequireMachine()) return tool.exitCode();
  return List(tool, log, follow);
}
