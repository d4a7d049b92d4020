#include "service/session_log.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

#include "common/data_folder.h"
#include "common/log_record.h"
#include "common/profile_helpers.h"
#include "common/profile_keys.h"
#include "common/record_spool.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "platform/text.h"
#include "service/port_table.h"
#include "service/profile_store.h"
#include "service/service_context.h"
#include "service/session_files.h"
#include "service/system_data.h"
#include "service/write_health.h"

namespace svc {

namespace {

// A value must stay on its line: a line break would fail the write.
std::string OneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\n' || c == '\r') c = '_';
  }
  return out;
}


bool CountingEnabled(const ServiceContext& context) {
  return context.systemData.dailyStatusEmailType != 0;
}

// ---- What the data folder would not take: kept in the spool, in order ----

constexpr const char* kDayLogName = "the day log";

// Keeps `entry`, which failed with `error` or (0) waits behind kept writes.
// Lost only when the spool itself cannot be written.
void KeepEntry(ServiceContext& context, const common::SpoolEntry& entry, DWORD error) {
  if (context.spool.Keep(entry) != plat::ERROR_SUCCESS) {
    context.writeHealth.Note(entry.what.c_str(), error != plat::ERROR_SUCCESS ? error : plat::ERROR_WRITE_FAULT);
    common::Trace("WriteLogRecord", "Write lost: " + (entry.isRecord ? entry.record : entry.what),
                  static_cast<long>(error));
    return;
  }
  context.writeHealth.NoteKept(entry.what.c_str(), error, context.spool.path());
}

// Usage counters of a profile: kept as what they add, so that charges kept
// in an outage add up with the ones made since.
std::optional<DWORD> CounterBefore(std::string_view key, const UserProfile& p) {
  if (key == common::kTotalTime) return p.totalTime;
  if (key == common::kPeriodUsage) return p.periodUsage;
  if (key == common::kTotalConnects) return p.totalConnects;
  if (key == common::kTotalDenieds) return p.totalDenieds;
  return std::nullopt;
}

// The profile's changes as they are kept: counters as differences to `p`,
// the latest connection's keys as values, and every other key (the first
// connection, a default profile's limits) only where the profile lacks it,
// since the profile could not be read when they were made.
std::vector<common::SpoolChange> KeptUserChanges(const std::vector<plat::ProfileChange>& changes,
                                                 const UserProfile& p) {
  std::vector<common::SpoolChange> kept;
  for (const auto& c : changes) {
    common::SpoolChange k{'=', c.section, c.key, c.value.value_or("")};
    if (!c.value) {
      k.op = '-';
    } else if (const auto before = CounterBefore(c.key, p)) {
      k.op = '+';
      k.value = std::to_string(std::strtoll(c.value->c_str(), nullptr, 10) - static_cast<long long>(*before));
    } else if (c.key != common::kLastConnection && c.key != common::kLasted && c.key != common::kPeriodStamp) {
      k.op = '?';
    }
    kept.push_back(std::move(k));
  }
  return kept;
}

std::vector<common::SpoolChange> KeptAsValues(const std::vector<plat::ProfileChange>& changes) {
  std::vector<common::SpoolChange> kept;
  for (const auto& c : changes) kept.push_back({c.value ? '=' : '-', c.section, c.key, c.value.value_or("")});
  return kept;
}

// Kept changes as they apply now, worked out under the file's write lock:
// differences added to the numbers there, '?' keys set only where the file
// lacks them. Another server adding to the same counter meanwhile loses
// nothing.
DWORD ApplyKept(const ServiceContext& context, const std::string& file,
                const std::vector<common::SpoolChange>& kept) {
  auto decide = [&kept](const plat::ProfileValueOf& valueOf) {
    std::vector<plat::ProfileChange> changes;
    for (const common::SpoolChange& c : kept) {
      switch (c.op) {
        case '-': changes.push_back({c.section, c.key, std::nullopt}); break;
        case common::kAddWherePeriodKept:
          if (common::DecimalValue(valueOf(c.section, common::kPeriodType).value_or("0")) == 0 &&
              common::DecimalValue(valueOf(c.section, common::kPeriodStamp).value_or("0")) == 0) {
            break;
          }
          [[fallthrough]];
        case '+': {
          const long long there = std::strtoll(valueOf(c.section, c.key).value_or("0").c_str(), nullptr, 10);
          const long long sum = std::clamp(there + std::strtoll(c.value.c_str(), nullptr, 10), 0LL, 0xFFFFFFFFLL);
          changes.push_back({c.section, c.key, UsageText(static_cast<DWORD>(sum))});
          break;
        }
        case '?': {
          const std::string there = valueOf(c.section, c.key).value_or("");
          if (there.empty() || there == "0") changes.push_back({c.section, c.key, c.value});
          break;
        }
        default: changes.push_back({c.section, c.key, c.value}); break;
      }
    }
    return changes;
  };
  return file == context.paths.users ? ApplyUserChanges(context, decide) : plat::ProfileApplyDecided(file, decide);
}

// Writes `now` to `file` (portulon.usr through the profile store), or keeps
// `kept` when that fails or kept writes wait.
void WriteOrKeep(ServiceContext& context, const char* what, const std::string& file,
                 const std::vector<common::SpoolChange>& now, std::vector<common::SpoolChange> kept) {
  if (now.empty()) return;
  DWORD err = plat::ERROR_SUCCESS;
  if (!context.spool.MustWait()) {
    err = ApplyKept(context, file, now);
    if (err == plat::ERROR_SUCCESS) {
      context.writeHealth.Note(what, err);
      return;
    }
  }
  common::SpoolEntry entry;
  entry.what = what;
  entry.file = file;
  entry.changes = std::move(kept);
  KeepEntry(context, entry, err);
}

// A profile's changes as they are written now: counters as what they add,
// every other key as it is.
std::vector<common::SpoolChange> LiveUserChanges(const std::vector<plat::ProfileChange>& changes,
                                                 const UserProfile& p) {
  std::vector<common::SpoolChange> now = KeptAsValues(changes);
  for (common::SpoolChange& c : now) {
    if (c.op != '=') continue;
    if (const auto before = CounterBefore(c.key, p)) {
      c.op = '+';
      c.value = std::to_string(std::strtoll(c.value.c_str(), nullptr, 10) - static_cast<long long>(*before));
    }
  }
  return now;
}

// With `periodUnknown` (the profile could not be read), PeriodUsage is added
// to only where the profile keeps a period when the change is written.
void WriteUsage(ServiceContext& context, const std::vector<plat::ProfileChange>& changes,
                const UserProfile& p, bool periodUnknown = false) {
  auto now = LiveUserChanges(changes, p);
  auto kept = KeptUserChanges(changes, p);
  if (periodUnknown) {
    for (auto* list : {&now, &kept}) {
      for (common::SpoolChange& c : *list) {
        if (c.op == '+' && c.key == common::kPeriodUsage) c.op = common::kAddWherePeriodKept;
      }
    }
  }
  WriteOrKeep(context, common::kUsersFile, context.paths.users, now, std::move(kept));
}

void WritePortActive(ServiceContext& context, std::string_view port, bool active) {
  const auto changes = KeptAsValues({PortActiveChange(port, active)});
  WriteOrKeep(context, common::kSystemDataFile, context.paths.systemData, changes, changes);
}

// The session on `port` ends: the account keeps its other sessions here.
void LeaveRoster(ServiceContext& context, const std::string& user, std::string_view port) {
  const int remaining = context.portTable.CountUser(user, port);
  const auto changes = KeptAsValues({LeaveLoggedInUsersChange(context.serverName, user, remaining)});
  WriteOrKeep(context, common::kLoggedInFile, context.paths.loggedIn, changes, changes);
}

// svc_status.dat: each key + 1, in one locked write. The counts are written
// in the usage values' fixed width: one per account makes the file as large
// as the users file, and a count that grew by a digit would have to rewrite it.
void IncrementCounters(ServiceContext& context,
                       const std::vector<std::pair<std::string, std::string>>& keys) {
  std::vector<common::SpoolChange> changes;
  for (const auto& [section, key] : keys) changes.push_back({'+', section, key, "1"});
  WriteOrKeep(context, common::kStatusCountersFile, context.paths.statusCounters, changes, changes);
}

// The key of the n-th record of one second in a port's section: the second
// itself, then "<second>.1", "<second>.2", ... Readers take the number before
// the dot as the time, so every record keeps the second it happened in.
std::string RecordKey(std::int64_t second, int n) {
  return n == 0 ? std::to_string(second) : std::to_string(second) + "." + std::to_string(n);
}

// Keys of one second tried in one locked write of a day log.
constexpr int kKeysPerWrite = 8;

// Appends the record under the first free key of `second` from sequence
// `first` on (*key gets it), trying a few in one locked write; creates the
// log folder when it is missing.
DWORD AppendCreatingFolder(const std::string& file, const std::string& section, std::int64_t second,
                           int first, int tries, std::string_view value, std::string* key) {
  auto keyFor = [second](int n) { return RecordKey(second, n); };
  DWORD err = plat::ProfileAppendRecordAtFreeKey(file, section, keyFor, first, tries, value, key);
  if (err == plat::ERROR_PATH_NOT_FOUND || err == plat::ERROR_FILE_NOT_FOUND) {
    const size_t slash = file.find_last_of('\\');
    if (slash != std::string::npos) plat::CreateDirectory(file.substr(0, slash));
    err = plat::ProfileAppendRecordAtFreeKey(file, section, keyFor, first, tries, value, key);
  }
  return err;
}

// portulon.log keeps every record of every day: past kCombinedLogMaxBytes it
// becomes portulon.log.old (replacing the one before) and starts afresh. The
// day logs keep the whole history.
void RotateCombinedLog(const ServiceContext& context) {
  std::uint64_t size = 0;
  const std::string& log = context.paths.combinedLog;
  if (plat::GetFileSize(log, &size) != plat::ERROR_SUCCESS || size <= kCombinedLogMaxBytes) return;
  bool rotated = false;
  if (DWORD err = plat::ProfileRotate(log, log + ".old", kCombinedLogMaxBytes, &rotated);
      err != plat::ERROR_SUCCESS) {
    common::Trace("WriteLogRecord", "Failed to rotate portulon.log", static_cast<long>(err));
  } else if (rotated) {
    common::Trace("WriteLogRecord", "portulon.log rotated to portulon.log.old", static_cast<long>(size));
  }
}

// Appends the record under the first key of its second that is free in
// `dayFile` and, when copies are kept, in portulon.log (*key gets it). The
// port's latest second is remembered, so that a busy second does not try
// every key again. A failure is returned, for the caller to keep.
DWORD WriteRecordNow(ServiceContext& context, const std::string& dayFile, const std::string& section,
                     std::int64_t second, const std::string& text, std::string* keyOut) {
  const bool copy = context.settings.logToLargeFile != 0;
  ServiceContext::LogKeyHint& hint = context.logKeyHints[section];
  const auto known = hint.next.find(second);
  // Several keys go in one write; with the copy in portulon.log each key must
  // be free there too, so they are tried one by one.
  const int tries = copy ? 1 : kKeysPerWrite;
  for (int n = known != hint.next.end() ? known->second : 0;; n += tries) {
    if (copy && plat::ProfileRecordExists(context.paths.combinedLog, section, RecordKey(second, n))) {
      continue;
    }
    std::string key;
    const DWORD err = AppendCreatingFolder(dayFile, section, second, n, tries, text, &key);
    if (err == plat::ERROR_ALREADY_EXISTS) continue;
    if (err != plat::ERROR_SUCCESS) key = RecordKey(second, n);
    *keyOut = key;
    if (err != plat::ERROR_SUCCESS) {
      common::Trace("WriteLogRecord", "Record not written: " + text, static_cast<long>(err));
      return err;
    }
    hint.next[second] = common::LogKeySequence(key) + 1;
    if (hint.next.size() > ServiceContext::LogKeyHint::kSeconds) hint.next.erase(hint.next.begin());
    context.writeHealth.Note(kDayLogName, err);
    if (copy) {
      RotateCombinedLog(context);
      context.writeHealth.Note(common::kCombinedLogFile,
                plat::ProfileAppendRecord(context.paths.combinedLog, section, key, text));
    }
    return plat::ERROR_SUCCESS;
  }
}

// The record written now, or kept for later when that fails or kept writes
// wait; the key it has or will most likely have.
std::string WriteRecordIn(ServiceContext& context, const std::string& dayFile,
                          std::string_view port, std::int64_t second, std::string_view value) {
  const std::string section = SafeProfileName(port);
  const std::string text = OneLine(value);
  std::string key = RecordKey(second, 0);
  DWORD err = plat::ERROR_SUCCESS;
  if (!context.spool.MustWait()) {
    err = WriteRecordNow(context, dayFile, section, second, text, &key);
    if (err == plat::ERROR_SUCCESS) return key;
  }
  common::SpoolEntry entry;
  entry.what = kDayLogName;
  entry.file = dayFile;
  entry.isRecord = true;
  entry.section = section;
  entry.second = second;
  entry.record = text;
  KeepEntry(context, entry, err);
  return key;
}

// Replaces the session's connection record by "C_%s*%s": the first record at
// or after the session start that is this account's connection record, in the
// file of the start's day (or of the next day, when the admission was handled
// after midnight). Without one, the call-back record is written as a new record.
void RewriteConnectionRecord(ServiceContext& context, std::string_view port,
                             std::int64_t sessionStart, std::string_view account,
                             const std::string& number) {
  const std::string section = SafeProfileName(port);
  const std::string record = common::FormatConnectionRecord(account);
  const std::string value = common::FormatCallbackConnectionRecord(account, number);
  const auto start = static_cast<std::time_t>(sessionStart);
  auto isOurs = [&](std::string_view found) {
    const std::string_view head = found.substr(0, record.size());
    return plat::EqualsIgnoringCase(head, record) &&
           (found.size() == record.size() || found[record.size()] == '*');
  };
  for (const std::string& dayFile :
       {GetLogFileName(context, start), GetLogFileName(context, start + 86400)}) {
    const auto records = plat::ProfileReadRecords(dayFile, section);
    if (!records) continue;
    for (const auto& [key, found] : *records) {
      if (common::LogKeyTime(key) < sessionStart || !isOurs(found)) continue;
      plat::ProfileReplaceRecord(dayFile, section, key, value);
      if (context.settings.logToLargeFile != 0) {
        plat::ProfileReplaceRecord(context.paths.combinedLog, section, key, value);
      }
      return;
    }
  }
  WriteRecordIn(context, GetLogFileName(context, start), port, sessionStart, value);
}

std::int64_t ParseCount(const std::vector<std::string>& strings, size_t index) {
  if (index >= strings.size()) return -1;
  const std::string& s = strings[index];
  char* end = nullptr;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  return end == s.c_str() ? -1 : static_cast<std::int64_t>(v);
}

std::string StringAt(const std::vector<std::string>& strings, size_t index) {
  return index < strings.size() ? strings[index] : std::string();
}

}  // namespace

std::string GetLogFileName(const ServiceContext& context, std::time_t when) {
  return common::DayLogPath(context.paths.folder, common::DayLogName(when));
}

std::string WriteLogRecord(ServiceContext& context, std::string_view port,
                           std::int64_t key, std::string_view value) {
  return WriteRecordIn(context, GetLogFileName(context, context.Now()), port, key, value);
}

// The order of every function below: the record first, then the counters.
// A crash between two writes can so leave a record without its counter
// change, never a counter change without its record.

void Log_Connection(ServiceContext& context, const AccountName& account, std::time_t start,
                    std::string_view port, std::vector<plat::ProfileChange> pendingUserChanges,
                    const UserProfile* profile) {
  common::Trace("Log_Connection", account, static_cast<long>(start));
  if (!account.safe()) {
    common::Trace("Log_Connection", "Invalid account name", 0);
    return;
  }
  const std::string user(account);
  WriteLogRecord(context, port, start, common::FormatConnectionRecord(user));

  const UserProfile p = profile ? *profile : ReadUserProfile(context, account);
  std::vector<plat::ProfileChange>& changes = pendingUserChanges;
  const auto usage = ConnectionUsageChanges(account, p, start);
  changes.insert(changes.end(), usage.begin(), usage.end());
  WriteUsage(context, changes, p);
  WritePortActive(context, port, true);
  if (CountingEnabled(context)) IncrementCounters(context, {{"General", "Sessions"}, {"Users", user}});
}

void Log_HangUp(ServiceContext& context, const AccountName& account, std::string_view port,
                std::int64_t duration, std::time_t start) {
  constexpr const char* kLabel = "Log_HangUp";
  common::Trace(kLabel, account, static_cast<long>(duration));
  const PortSessionInfo info = PortTableGetSessionInfo(context.portTable, port);
  const bool heldHere = info.start != 0 && plat::EqualsIgnoringCase(info.user, account);
  bool read = false;
  UserProfile p;
  if (account.safe()) p = ReadUserProfile(context, account, &read);
  // A session held here ran, whether or not its profile can be read now: a
  // users file out of reach must not lose its record.
  bool profileUnknown = false;
  if (account.safe() && !read && heldHere) {
    profileUnknown = UsersFileUnreadable(context);
    if (!profileUnknown) p = ReadUserProfile(context, account, &read);  // back meanwhile
  }
  if (!account.safe() || (!read && !profileUnknown)) {
    common::Trace(kLabel, "Log_HandUp - user has no profile", 0);
    // The session is over whatever the profile says; a stale entry would
    // answer for the next session on this port, and a stale logged-in key
    // would count against the account's next sessions.
    if (account.safe() && plat::EqualsIgnoringCase(PortTableGetUserOnPort(context.portTable, port), account)) {
      LeaveRoster(context, std::string(account), port);
    }
    PortTableClear(context.portTable, port);
    return;
  }
  const std::string user(account);
  // A session taken back at start-up (admitted unchecked while the service
  // was away) may be the account's first: it ran, so it is charged.
  if (p.lastConnection == 0 && !heldHere) {
    common::Trace(kLabel, "This user was never logged.", 0);
    LeaveRoster(context, user, port);
    WritePortActive(context, port, false);
    PortTableClear(context.portTable, port);
    return;
  }

  const std::time_t now = context.Now();
  const std::int64_t knownStart = info.start ? info.start : static_cast<std::int64_t>(start);
  if (duration == 0 && knownStart == 0) {
    // No session on this port and no length given (a refused caller's
    // hang-up): nothing ran that could be charged. The account's other
    // sessions keep their place in the logged-in users file.
    common::Trace(kLabel, "No session on this port and no duration: nothing charged", 0);
    SetPortActive(context.paths.systemData, context.writeHealth, port, false);
    return;
  }
  // The session's start: the port table's, else the message's, else (only to
  // bound a duration the message gives) the profile's latest connection.
  const std::int64_t sessionStart = knownStart ? knownStart : p.lastConnection;
  if (duration == 0) {
    common::Trace(kLabel, "Calculated duration, port time", static_cast<long>(sessionStart));
    common::Trace(kLabel, "Calculated duration, time now", static_cast<long>(now));
    duration = now - sessionStart;
    common::Trace(kLabel, "Calculated duration", static_cast<long>(duration));
  }
  // A session lasts at most as long as it has been since it began; a longer
  // duration in a message is cut to that (and traced).
  const std::int64_t possible = now >= sessionStart ? now - sessionStart : 0;
  if (duration > possible + kClockSkewSeconds) {
    common::Trace(kLabel, "Duration longer than the session, cut to", static_cast<long>(possible));
    duration = possible;
  }
  if (duration < 0) duration = 0;
  const auto d = static_cast<DWORD>(duration);

  const SessionEventData ev = FindSessionEventData(account, std::string(plat::AfterBackslash(port)), now - duration - 5);
  if (!ev.callbackNumber.empty()) {
    RewriteConnectionRecord(context, port, sessionStart, account, ev.callbackNumber);
  }
  const std::string record =
      common::FormatHangUpRecord(duration, user, info.address, info.reason, info.ipx, info.netbios,
                                 ev.bytesIn, ev.bytesOut);
  WriteLogRecord(context, port, now, record);

  if (profileUnknown) {
    // Whether the period is kept is the profile's to say once it can be read.
    UserProfile withPeriod = p;
    withPeriod.periodStamp = 1;
    WriteUsage(context, HangUpUsageChanges(account, withPeriod, d), p, /*periodUnknown=*/true);
  } else {
    WriteUsage(context, HangUpUsageChanges(account, p, d), p);
  }
  WritePortActive(context, port, false);
  LeaveRoster(context, user, port);
  PortTableClear(context.portTable, port);
  if (CountingEnabled(context) && info.reason != 0) {
    IncrementCounters(context, {{"General", "Disconnect"}});
  }
}

void Log_DeniedConnection(ServiceContext& context, const AccountName& account, std::time_t when,
                          std::string_view port, int code,
                          std::vector<plat::ProfileChange> pendingUserChanges,
                          const UserProfile* profile) {
  constexpr const char* kLabel = "Log_DeniedConnection";
  common::Trace(kLabel, account, code);
  WriteLogRecord(context, port, when, common::FormatRefusalRecord(SafeProfileName(account), code));
  std::vector<plat::ProfileChange>& changes = pendingUserChanges;
  const bool safe = account.safe();
  UserProfile p;
  if (safe && (profile || HasProfile(context, account))) {
    p = profile ? *profile : ReadUserProfile(context, account);
    const auto denied = DeniedUsageChanges(account, p);
    changes.insert(changes.end(), denied.begin(), denied.end());
  } else {
    common::Trace(kLabel, "Log_DeniedConnection - user has no profile", 0);
  }
  if (safe) WriteUsage(context, changes, p);
  if (CountingEnabled(context)) IncrementCounters(context, {{"General", "Denied"}});
}

long Log_WriteKept(ServiceContext& context) {
  if (context.spool.pending() == 0) return 0;
  const RecordSpool::Writing writing(context.spool);
  long written = 0;
  for (const auto& [name, e] : context.spool.Load()) {
    DWORD err = plat::ERROR_SUCCESS;
    if (e.isRecord) {
      std::string key;
      err = WriteRecordNow(context, e.file, e.section, e.second, e.record, &key);
    } else {
      err = ApplyKept(context, e.file, e.changes);
    }
    if (err != plat::ERROR_SUCCESS) {
      common::Trace("Log_WriteKept", "Kept writes still wait: cannot write " + e.what, static_cast<long>(err));
      break;
    }
    if (DWORD dropped = context.spool.Drop(name); dropped != plat::ERROR_SUCCESS) {
      // Written but still kept: writing it again would count it twice.
      common::Trace("Log_WriteKept", "Cannot remove a written entry from " + context.spool.path(),
                    static_cast<long>(dropped));
      break;
    }
    ++written;
    context.writeHealth.NoteWrittenLate(e.what.c_str(), context.spool.pending());
  }
  if (written > 0) common::Trace("Log_WriteKept", "Kept writes written late", written);
  return written;
}

SessionEventData FindSessionEventData(std::string_view account, std::string_view portName,
                                      std::time_t since) {
  SessionEventData out;
  plat::EventLogReader reader;
  if (plat::EventLogReader::Open("", "System", &reader) != plat::ERROR_SUCCESS) return out;
  const std::string user(plat::AfterBackslash(account));
  bool haveStats = false;
  bool haveCallback = false;
  std::vector<plat::EventRecord> batch;
  while (!(haveStats && haveCallback)) {
    batch.clear();
    if (reader.ReadBackward(&batch, 16) != plat::ERROR_SUCCESS || batch.empty()) break;
    for (const plat::EventRecord& r : batch) {
      if (static_cast<std::time_t>(r.timeGenerated) < since) return out;
      const auto& s = r.strings;
      const bool nt4 = r.eventId == 20050 || r.eventId == 20068;
      const bool rras = r.eventId == 20048 || r.eventId == 20064;
      if (!nt4 && !rras) continue;
      const std::string recordUser = nt4 ? StringAt(s, 1) : std::string(plat::AfterBackslash(StringAt(s, 0)));
      const std::string recordPort = StringAt(s, nt4 ? 2 : 1);
      if (!plat::EqualsIgnoringCase(recordUser, user) ||
          !plat::EqualsIgnoringCase(recordPort, portName)) {
        continue;
      }
      if ((r.eventId == 20050 || r.eventId == 20048) && !haveStats) {
        haveStats = true;
        out.bytesIn = ParseCount(s, nt4 ? 10 : 9);
        out.bytesOut = ParseCount(s, nt4 ? 9 : 8);
      } else if ((r.eventId == 20068 || r.eventId == 20064) && !haveCallback) {
        haveCallback = true;
        out.callbackNumber = StringAt(s, nt4 ? 3 : 2);
      }
    }
  }
  return out;
}

StatusCounters ReadStatusCounters(const ServiceContext& context) {
  const std::string& file = context.paths.statusCounters;
  StatusCounters c;
  c.sessions = common::ProfileReadInt(file, "General", "Sessions");
  c.denied = common::ProfileReadInt(file, "General", "Denied");
  c.disconnect = common::ProfileReadInt(file, "General", "Disconnect");
  if (const auto users = plat::ProfileReadSection(file, "Users")) {
    for (const auto& [account, value] : *users) {
      c.users.emplace_back(account, common::DecimalValue(value));
    }
  }
  return c;
}

DWORD SubtractStatusCounters(const ServiceContext& context, const StatusCounters& reported) {
  // Under the file's write lock: a server counting meanwhile keeps its counts.
  return plat::ProfileApplyDecided(context.paths.statusCounters, [&reported](const plat::ProfileValueOf& valueOf) {
    std::vector<plat::ProfileChange> changes;
    auto take = [&](const char* section, const std::string& key, long sent, bool dropAtZero) {
      const long left = common::DecimalValue(valueOf(section, key).value_or("0")) - sent;
      if (dropAtZero && left <= 0) {
        changes.push_back({section, key, std::nullopt});
      } else {
        changes.push_back({section, key, std::to_string(left)});
      }
    };
    take("General", "Sessions", reported.sessions, false);
    take("General", "Denied", reported.denied, false);
    take("General", "Disconnect", reported.disconnect, false);
    for (const auto& [account, count] : reported.users) take("Users", account, count, true);
    return changes;
  });
}

}  // namespace svc
