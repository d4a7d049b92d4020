#include "service/reporting/db_export.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <string_view>
#include <set>
#include <tuple>

#include "common/data_folder.h"
#include "common/expiry_date.h"
#include "common/log_record.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/sysinfo.h"
#include "service/event_report.h"
#include "service/local_date.h"
#include "service/profile_store.h"
#include "service/reporting/odbc_connection.h"
#include "service/reporting/text_encoding.h"
#include "service/service_context.h"

namespace svc {

namespace {

constexpr const char* kLabel = "DatabaseExport";

// Plain types that SQLite, PostgreSQL and most other databases accept alike.
constexpr const char* kCreateProfiles =
    "CREATE TABLE IF NOT EXISTS pl_profiles ("
    "account VARCHAR(255) NOT NULL PRIMARY KEY, is_group INTEGER NOT NULL, "
    "max_session_time BIGINT, max_total_time BIGINT, expiry_time BIGINT, period_type BIGINT, "
    "period_max BIGINT, period_usage BIGINT, period_stamp BIGINT, no_duplicate BIGINT, "
    "static_ip BIGINT, total_connects BIGINT, total_denieds BIGINT, total_time BIGINT, "
    "first_connection BIGINT, last_connection BIGINT, lasted BIGINT, exported_at BIGINT NOT NULL, "
    "max_sessions BIGINT, expiry_date VARCHAR(255))";
constexpr const char* kCreateSessions =
    "CREATE TABLE IF NOT EXISTS pl_sessions ("
    "log_day VARCHAR(11) NOT NULL, server VARCHAR(255) NOT NULL, port VARCHAR(255) NOT NULL, "
    "event_time BIGINT NOT NULL, seq INTEGER NOT NULL, kind CHAR(1) NOT NULL, "
    "account VARCHAR(255) NOT NULL, "
    "duration BIGINT, ip_address VARCHAR(15), reason INTEGER, ipx VARCHAR(255), "
    "computer VARCHAR(255), bytes_in BIGINT, bytes_out BIGINT, callback VARCHAR(255), "
    "PRIMARY KEY (log_day, server, port, event_time, seq))";
constexpr const char* kCreateDays =
    "CREATE TABLE IF NOT EXISTS pl_export_days ("
    "log_day VARCHAR(11) NOT NULL PRIMARY KEY, exported_at BIGINT NOT NULL, "
    "records BIGINT NOT NULL, complete INTEGER NOT NULL)";

constexpr const char* kInsertProfile =
    "INSERT INTO pl_profiles (account, is_group, max_session_time, max_total_time, expiry_time, "
    "period_type, period_max, period_usage, period_stamp, no_duplicate, static_ip, "
    "total_connects, total_denieds, total_time, first_connection, last_connection, lasted, "
    "exported_at, max_sessions, expiry_date) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr const char* kInsertSession =
    "INSERT INTO pl_sessions (log_day, server, port, event_time, seq, kind, account, duration, "
    "ip_address, reason, ipx, computer, bytes_in, bytes_out, callback) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// Profile numbers as the files write them ("%d" of the 32-bit pattern).
SqlValue Signed(std::uint32_t value) {
  return static_cast<std::int64_t>(static_cast<std::int32_t>(value));
}

SqlValue Number(std::int64_t value) { return value; }
// Databases hold text in an encoding of their own (UTF-8 as a rule): a text
// that is not UTF-8 already is taken as the Windows code page and converted.
SqlValue Text(std::string_view text) { return AsUtf8(text); }
SqlValue CountOrNull(std::int64_t value) { return value < 0 ? SqlValue{} : SqlValue{value}; }
// The last day as an ISO date, NULL for none; a text that is no date as it
// stands (the service counts such an account as expired).
SqlValue ExpiryDateValue(const std::string& text) {
  const common::ExpiryDateValue date = common::ReadExpiryDate(text);
  if (date.kind == common::ExpiryDateValue::kNone) return {};
  return date.kind == common::ExpiryDateValue::kDate ? SqlValue{common::FormatIsoDate(date.date)} : Text(text);
}

std::vector<SqlValue> SessionRow(const std::string& day, const common::LogRecord& r) {
  const bool hangUp = r.kind == common::kRecordHangUp;
  const char* kind = hangUp ? "H" : r.kind == common::kRecordRefusal ? "N" : "C";
  return {day,
          Text(r.server),
          Text(r.port),
          Number(r.time),
          Number(r.sequence),
          std::string(kind),
          Text(r.user),
          hangUp ? Number(r.duration) : SqlValue{},
          hangUp ? SqlValue{common::MakeIPString(r.address)} : SqlValue{std::string()},
          r.kind == common::kRecordConnection || r.reason == common::kNoReason ? SqlValue{}
                                                                                : Number(r.reason),
          Text(r.ipx),
          Text(r.netbios),
          hangUp ? CountOrNull(r.bytesIn) : SqlValue{},
          hangUp ? CountOrNull(r.bytesOut) : SqlValue{},
          Text(r.info)};
}

// Undoes the open transaction of a failed step; the step's error stays.
bool Fail(OdbcConnection& db) {
  db.Rollback();
  return false;
}

// A table made before `column` existed gets it (empty in every row so far).
// Names and type are the export's own constants, never data.
bool AddMissingColumn(OdbcConnection& db, const std::string& table, const std::string& column,
                      const std::string& type) {
  std::vector<SqlRow> rows;
  if (db.Query("SELECT " + column + " FROM " + table + " WHERE 1 = 0", {}, &rows)) return db.Commit() || Fail(db);
  // The failed query ends the transaction on some databases: start afresh.
  db.Rollback();
  common::Trace(kLabel, "Adding column " + column + " to " + table, 0);
  if (!db.Execute("ALTER TABLE " + table + " ADD COLUMN " + column + " " + type)) return Fail(db);
  return db.Commit() || Fail(db);
}

// The folders a day's log may lie in: LogData, and OldData once archived.
// The archiving does not wait for the export, so the export reads both.
constexpr const char* kLogFolders[] = {common::kDayLogFolder, common::kArchiveFolder};

}  // namespace

std::string ExportedLogFile(const DataPaths& paths, const std::string& dayName) {
  for (const char* folder : kLogFolders) {
    const std::string file = common::DayLogPath(paths.folder, dayName, folder);
    if (plat::FileExists(file)) return file;
  }
  return common::DayLogPath(paths.folder, dayName);
}

plat::DWORD CheckDataFolder(const ServiceContext& context) {
  std::vector<plat::FindData> entries;
  return plat::FindFiles(context.PathsSnapshot().folder + "\\*", &entries);
}

bool CreateExportTables(OdbcConnection& db) {
  for (const char* sql : {kCreateProfiles, kCreateSessions, kCreateDays}) {
    if (!db.Execute(sql)) return Fail(db);
  }
  if (!db.Commit()) return Fail(db);
  // Tables made by an older export get the columns added since.
  return AddMissingColumn(db, "pl_profiles", "max_sessions", "BIGINT") &&
         AddMissingColumn(db, "pl_profiles", "expiry_date", "VARCHAR(255)");
}

bool ExportProfiles(const ServiceContext& context, OdbcConnection& db, std::time_t now,
                    long* rows) {
  *rows = 0;
  if (!db.Execute("DELETE FROM pl_profiles")) return Fail(db);
  const auto insert = db.Prepare(kInsertProfile);
  if (!insert) return Fail(db);
  std::set<std::string> seen;  // a section repeated in the file counts once, as it reads
  for (const std::string& section : ListProfiles(context)) {
    std::string folded = section;
    std::transform(folded.begin(), folded.end(), folded.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!seen.insert(folded).second) continue;
    const UserProfile p = ReadUserProfile(context, section);
    const std::vector<SqlValue> row = {
        Text(section),
        Number(!section.empty() && section[0] == '+' ? 1 : 0),
        Signed(p.maxSessionTime), Signed(p.maxTotalTime), Signed(p.expiryTime),
        Signed(p.periodType), Signed(p.periodMax), Signed(p.periodUsage), Signed(p.periodStamp),
        Signed(p.noDuplicate), Signed(p.staticIP), Signed(p.totalConnects),
        Signed(p.totalDenieds), Signed(p.totalTime), Signed(p.firstConnection),
        Signed(p.lastConnection), Signed(p.lasted), Number(now), Signed(p.maxSessions),
        ExpiryDateValue(p.expiryDate)};
    if (!db.Run(*insert, row)) return Fail(db);
    ++*rows;
  }
  return db.Commit() || Fail(db);
}

bool ExportSessionDay(const ServiceContext& context, OdbcConnection& db,
                      const std::string& dayName, std::time_t now, long* rows) {
  *rows = 0;
  std::tm date;
  if (!common::ParseDayLogName(dayName, &date)) return false;
  const std::string file = ExportedLogFile(context.PathsSnapshot(), dayName);
  const std::vector<common::LogRecord> records = common::LoadLogRecords(file);
  if (records.empty()) {
    // Nothing read: make sure that is what the log holds before the day's rows go.
    std::string text;
    if (plat::ReadWholeFile(file, &text) != plat::ERROR_SUCCESS ||
        text.find('=') != std::string::npos) {
      db.SetError("cannot read the log " + file);
      return false;
    }
  }
  if (!db.Execute("DELETE FROM pl_sessions WHERE log_day = ?", {dayName})) return Fail(db);
  const auto insert = db.Prepare(kInsertSession);
  if (!insert) return Fail(db);
  // A key read twice in one section reads its first value; so does the export.
  std::set<std::tuple<std::string, std::string, std::int64_t, int>> keys;
  for (const common::LogRecord& r : records) {
    if (!keys.emplace(r.server, r.port, r.time, r.sequence).second) continue;
    if (!db.Run(*insert, SessionRow(dayName, r))) return Fail(db);
    ++*rows;
  }
  const bool complete = DayNumber(plat::LocalTime(now)) - DayNumber(date) >= 2;
  if (!db.Execute("DELETE FROM pl_export_days WHERE log_day = ?", {dayName}) ||
      !db.Execute("INSERT INTO pl_export_days (log_day, exported_at, records, complete) "
                  "VALUES (?, ?, ?, ?)",
                  {dayName, Number(now), Number(*rows), Number(complete ? 1 : 0)})) {
    return Fail(db);
  }
  return db.Commit() || Fail(db);
}

bool ReplaceSessionRows(OdbcConnection& db, const std::string& dayName,
                        const std::vector<common::LogRecord>& records) {
  // Many rows per statement: a round trip to the database costs far more
  // than a row. Plain SQL (a list of keys, a multi-row VALUES) that any
  // database takes; a chunk of 50 rows binds 750 parameters, below every
  // driver's limit.
  constexpr size_t kRowsPerStatement = 50;
  const std::string_view insertHead(kInsertSession, std::string_view(kInsertSession).find("VALUES") + 7);
  const std::string oneRow = "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
  struct Statements {
    std::unique_ptr<OdbcConnection::Prepared> remove, insert;
  };
  auto prepare = [&](size_t rows) {
    // Each alternative names a whole key, so that every database finds each
    // row through the key's index rather than by reading the day's rows.
    std::string remove = "DELETE FROM pl_sessions WHERE ";
    std::string insert(insertHead);
    for (size_t i = 0; i < rows; ++i) {
      remove += i ? " OR " : "";
      remove += "(log_day = ? AND server = ? AND port = ? AND event_time = ? AND seq = ?)";
      insert += (i ? ", " : "") + oneRow;
    }
    Statements s;
    s.remove = db.Prepare(remove);
    if (s.remove) s.insert = db.Prepare(insert);
    return s;
  };
  Statements full;
  for (size_t first = 0; first < records.size(); first += kRowsPerStatement) {
    const size_t rows = std::min(kRowsPerStatement, records.size() - first);
    Statements last;
    if (rows == kRowsPerStatement && !full.insert) full = prepare(rows);
    Statements& st = rows == kRowsPerStatement ? full : (last = prepare(rows));
    if (!st.insert) return false;
    std::vector<SqlValue> keys;
    std::vector<SqlValue> values;
    for (size_t i = first; i < first + rows; ++i) {
      const common::LogRecord& r = records[i];
      for (SqlValue& v :
           std::vector<SqlValue>{dayName, Text(r.server), Text(r.port), Number(r.time), Number(r.sequence)}) {
        keys.push_back(std::move(v));
      }
      for (SqlValue& v : SessionRow(dayName, r)) values.push_back(std::move(v));
    }
    if (!db.Run(*st.remove, keys) || !db.Run(*st.insert, values)) return false;
  }
  return true;
}

bool DaysToExport(const ServiceContext& context, OdbcConnection& db,
                  std::vector<std::string>* days) {
  days->clear();
  std::vector<SqlRow> done;
  if (!db.Query("SELECT log_day FROM pl_export_days WHERE complete = 1", {}, &done)) {
    return Fail(db);
  }
  db.Rollback();  // ends the reading transaction
  std::set<std::string> complete;
  for (const SqlRow& row : done) {
    if (!row.empty() && row[0]) complete.insert(*row[0]);
  }
  const DataPaths paths = context.PathsSnapshot();
  std::vector<std::pair<std::int64_t, std::string>> found;
  for (const char* folder : kLogFolders) {
    std::vector<plat::FindData> entries;
    // A folder not there yet holds nothing to export.
    if (plat::FindFiles(common::DayLogSearch(paths.folder, folder), &entries) != plat::ERROR_SUCCESS) continue;
    for (const plat::FindData& e : entries) {
      std::tm date;
      std::string day;
      if (e.isDirectory || !common::ParseDayLogFile(e.name, &day, &date) || complete.count(day)) continue;
      found.emplace_back(DayNumber(date), day);
    }
  }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  for (auto& [number, day] : found) days->push_back(std::move(day));
  return true;
}

ExportOutcome RunDatabaseExport(const ServiceContext& context, std::time_t now) {
  ExportOutcome out;
  const ServiceSettings settings = context.SettingsSnapshot();
  OdbcConnection db;
  auto fail = [&](std::string error) {
    out.error = std::move(error);
    common::Trace(kLabel, "Export failed: " + out.error, 0);
    ReportToEventLog(1, common::kEventExportFailed, "Database export failed", out.error.c_str(), 2);
    return out;
  };
  auto failed = [&](const std::string& what) { return fail(what + ": " + db.error()); };
  if (settings.odbcDsn.empty()) return fail("no data source: ODBC_DSN is not set");
  // An unreachable share reads as empty files; exported, that would wipe the tables.
  if (const plat::DWORD err = CheckDataFolder(context); err != plat::ERROR_SUCCESS) {
    return fail("cannot reach the data folder " + context.PathsSnapshot().folder + " (error " +
                std::to_string(err) + ")");
  }
  if (!db.Connect(settings.odbcDsn, settings.odbcAccount, settings.odbcPassword)) {
    return fail(db.error());
  }
  if (!CreateExportTables(db)) return failed("creating the tables");
  if (settings.exportUsers) {
    if (!ExportProfiles(context, db, now, &out.profiles)) return failed("exporting the profiles");
    common::Trace(kLabel, "Profiles exported", out.profiles);
  }
  if (settings.exportHistory) {
    std::vector<std::string> days;
    if (!DaysToExport(context, db, &days)) return failed("reading the exported days");
    for (const std::string& day : days) {
      long rows = 0;
      if (!ExportSessionDay(context, db, day, now, &rows)) return failed("exporting " + day);
      common::Trace(kLabel, "Exported the log of " + day, rows);
      ++out.days;
      out.records += rows;
    }
  }
  out.ok = true;
  return out;
}

}  // namespace svc
