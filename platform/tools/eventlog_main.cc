// eventlog: lists the records of a machine's event log, and follows it.
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <string_view>
#include <vector>

#include "platform/errors.h"
#include "platform/event_messages.h"
#include "platform/eventlog.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/text.h"
#include "platform/tools/tool_args.h"
#include "platform/tools/tool_format.h"

namespace {

constexpr const char* kUsage = R"(eventlog - read and follow the event logs of a machine

Usage:
  eventlog list [LOG] [--follow] [--format table|csv|json] [--machine ROOT]
  eventlog --help | --version

Prints the records of an event log (Application when LOG is not given, or
System), oldest first, as an event viewer shows them: a heading, then one
record a line with its number, time (ISO 8601, local), type, source, event
id and message (the meaning of the ids we know, then the record's strings
as written, apart by "; ").

Options:
  --follow          keep printing records as they arrive, until interrupted
  --format FORMAT   table (default); csv: a heading line, then per record
                    Record,Time,Type,Source,Id,Text and one field per
                    string; json: one object a line, with the strings as
                    an array
  --machine ROOT    the machine folder to read; default: $PORTULON_MACHINE
  --help            show this text
  --version         show the program's version

Exit status:
  0  success
  1  the log cannot be read or the machine folder holds no machine
  2  the command line is wrong

Files:
  ROOT/eventlog/Application.log   the Application log
  ROOT/eventlog/System.log        the System log

Examples:
  eventlog list
  eventlog list System --format csv
  eventlog list --follow

See also:
  plreport(1), plmachine(1)
)";

constexpr long kPollMilliseconds = 200;

// What the identifiers of the remote-access stand-in's own events mean; every
// other source's texts come from its message file (EventMessageFile).
struct OwnEvent {
  const char* source;
  plat::DWORD id;
  const char* text;
};
constexpr OwnEvent kOwnEvents[] = {
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

// What a record's identifier means, on the machine `root`, in the log `log`.
class Meanings {
 public:
  Meanings(std::string root, std::string log) : root_(std::move(root)), log_(std::move(log)) {}
  std::string Of(const plat::EventRecord& r) {
    for (const auto& own : kOwnEvents) {
      if (own.id == DisplayedId(r.eventId) && plat::EqualsIgnoringCase(own.source, r.source)) {
        return own.text;
      }
    }
    return files_.Text(root_, log_, r.source, r.eventId);
  }

 private:
  std::string root_, log_;
  plat::EventMessageFiles files_;
};

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

// A record string as written, on one line: line ends and other control
// characters become blanks.
std::string OneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = ' ';
  }
  return out;
}

// What an event viewer shows as the description: the meaning of the id, then
// the insertion strings as written.
std::string MessageText(const plat::EventRecord& r, const std::string& meaning) {
  std::string text = meaning;
  std::string strings;
  for (const std::string& s : r.strings) {
    if (!strings.empty()) strings += "; ";
    strings += OneLine(s);
  }
  if (!strings.empty()) text += text.empty() ? strings : ": " + strings;
  return text;
}

// Text filled with blanks to `width` (left-aligned) or right-aligned; a
// longer text is kept whole, moving the rest of its line.
std::string Pad(std::string_view text, size_t width, bool right = false) {
  if (text.size() >= width) return std::string(text);
  const std::string fill(width - text.size(), ' ');
  return right ? fill + std::string(text) : std::string(text) + fill;
}

std::string TableLine(std::string_view number, std::string_view time, std::string_view type,
                      std::string_view source, std::string_view id, std::string_view message) {
  return Pad(number, 6, true) + "  " + Pad(time, 19) + "  " + Pad(type, 13) + "  " +
         Pad(source, 12) + "  " + Pad(id, 5, true) + "  " + std::string(message);
}

std::string TableHeading() { return TableLine("Record", "Time", "Type", "Source", "Id", "Message"); }

std::string FormatRecord(const plat::EventRecord& r, pltools::OutputFormat format,
                         Meanings& meanings) {
  const std::string meaning = meanings.Of(r);
  const std::string number = std::to_string(r.recordNumber);
  const std::string id = std::to_string(DisplayedId(r.eventId));
  if (format == pltools::OutputFormat::Csv) {
    std::vector<std::string> fields = {number, pltools::IsoLocalTimeStrict(r.timeGenerated),
                                       TypeText(r.eventType), r.source, id, meaning};
    fields.insert(fields.end(), r.strings.begin(), r.strings.end());
    return pltools::CsvLine(fields);
  }
  if (format == pltools::OutputFormat::Json) {
    std::string line = "{\"record\":" + number +
                       ",\"time\":" + pltools::JsonString(pltools::IsoLocalTimeStrict(r.timeGenerated)) +
                       ",\"type\":" + pltools::JsonString(TypeText(r.eventType)) +
                       ",\"source\":" + pltools::JsonString(r.source) + ",\"id\":" + id +
                       ",\"text\":" + pltools::JsonString(meaning) +
                       ",\"strings\":[";
    for (size_t i = 0; i < r.strings.size(); ++i) {
      line += (i ? "," : "") + pltools::JsonString(r.strings[i]);
    }
    return line + "]}";
  }
  return TableLine(number, pltools::IsoLocalTime(r.timeGenerated), TypeText(r.eventType), r.source,
                   id, MessageText(r, meaning));
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

int List(pltools::Tool& tool, std::string log, bool follow, pltools::OutputFormat format) {
  const std::string root = plat::CurrentMachineRoot();
  if (!CanonicalLogName(root, &log)) {
    return tool.ValueError("the machine has no log named '" + log + "'");
  }

  Meanings meanings(root, log);
  plat::EventLogReader reader;
  std::vector<plat::EventRecord> records;
  plat::DWORD err = plat::EventLogReader::Open("", log, &reader);
  if (err == plat::ERROR_SUCCESS) err = reader.ReadAll(&records);
  if (err != plat::ERROR_SUCCESS) return tool.Fail(err, "cannot read the " + log + " log");
  plat::DWORD lastShown = 0;
  if (format == pltools::OutputFormat::Table) std::printf("%s\n", TableHeading().c_str());
  if (format == pltools::OutputFormat::Csv) {
    std::printf("Record,Time,Type,Source,Id,Text,Strings...\n");
  }
  for (const auto& r : records) {
    std::printf("%s\n", FormatRecord(r, format, meanings).c_str());
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
      std::printf("%s\n", FormatRecord(r, format, meanings).c_str());
      lastShown = r.recordNumber;
    }
    std::fflush(stdout);
  }
  return pltools::kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("eventlog", kUsage);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  const bool follow = tool.TakeFlag("--follow") | tool.TakeFlag("-f");
  std::string formatText = "table";
  tool.TakeOption("--format", &formatText);
  if (tool.failed()) return tool.exitCode();
  pltools::OutputFormat format;
  if (!pltools::ParseOutputFormat(formatText, &format)) {
    return tool.ValueError("--format takes table, csv or json, not '" + formatText + "'");
  }
  if (!tool.RejectUnknownOptions()) return tool.exitCode();
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
  return List(tool, log, follow, format);
}
