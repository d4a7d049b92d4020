#include "service/reporting/db_export.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <string_view>
#include <set>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

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

// The keys of the rows a day's export has written: (server and port, time,
// sequence), 16 bytes each, so that a million fit in a few dozen megabytes.
class SessionKeys {
 public:
  // False when the record's key has been written already.
  bool Add(const common::LogRecord& r) {
    if (r.server != server_ || r.port != port_) {
      server_ = r.server;
      port_ = r.port;
      const auto [it, added] = ports_.try_emplace(server_ + '\\' + port_,
                                                  static_cast<std::uint32_t>(ports_.size()));
      id_ = it->second;
    }
    return keys_.insert(Key{r.time, id_, r.sequence}).second;
  }

 private:
  struct Key {
    std::int64_t time;
    std::uint32_t port;
    std::int32_t sequence;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& k) const {
      return std::hash<std::int64_t>()(k.time * 1000003 + k.port * 7919 + k.sequence);
    }
  };
  std::string server_, port_;  // of the last record: a section's records come together
  std::uint32_t id_ = 0;
  std::unordered_map<std::string, std::uint32_t> ports_;  // by "server\port" (a port name holds no backslash)
  std::unordered_set<Key, KeyHash> keys_;
};

// Inserts session rows many to a statement, in the open transaction.
class SessionInserter {
 public:
  SessionInserter(OdbcConnection& db, const std::string& day) : db_(db), day_(day) {}

  void Add(const common::LogRecord& r) {
    for (SqlValue& v : SessionRow(day_, r)) pending_.push_back(std::move(v));
    if (++pendingRows_ == kRowsPerStatement) Flush();
  }
  // Writes what is pending; false when any insert failed.
  bool Finish() {
    if (pendingRows_ && !failed_) Flush();
    return !failed_;
  }
  bool failed() const { return failed_; }
  long rows() const { return rows_; }

 private:
  // A chunk of 50 rows binds 750 parameters, below every driver's limit.
  static constexpr int kRowsPerStatement = 50;

  void Flush() {
    std::unique_ptr<OdbcConnection::Prepared> last;
    std::unique_ptr<OdbcConnection::Prepared>& statement = pendingRows_ == kRowsPerStatement ? full_ : last;
    if (!statement) statement = Prepare(pendingRows_);
    failed_ = !statement || !db_.Run(*statement, pending_);
    if (!failed_) rows_ += pendingRows_;
    pending_.clear();
    pendingRows_ = 0;
  }
  std::unique_ptr<OdbcConnection::Prepared> Prepare(int rows) {
    std::string sql(kInsertSession, std::string_view(kInsertSession).find("VALUES") + 7);
    for (int i = 0; i < rows; ++i) sql += i ? ", (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)" : "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
    return db_.Prepare(sql);
  }

  OdbcConnection& db_;
  const std::string& day_;
  std::unique_ptr<OdbcConnection::Prepared> full_;
  std::vector<SqlValue> pending_;
  int pendingRows_ = 0;
  long rows_ = 0;
  bool failed_ = false;
};

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
  if (!db.Execute("DELETE FROM pl_sessions WHERE log_day = ?", {dayName})) return Fail(db);
  // The day's records go to the database as they are read, many rows per
  // statement: a day of a million records is never held, nor a round trip
  // to the database made per row.
  SessionInserter insert(db, dayName);
  // A key read twice in one section reads its first value; so does the
  // export, and a second section that names the same server and port (as
  // "COM1" and "\COM1" do) adds no second row for a key.
  SessionKeys keys;
  const plat::DWORD err = common::ForEachLogRecord(file, false, [&](const common::LogRecord& r) {
    if (insert.failed() || !keys.Add(r)) return;
    insert.Add(r);
  });
  if (!insert.Finish()) return Fail(db);
  if (err != plat::ERROR_SUCCESS && err != plat::ERROR_FILE_NOT_FOUND) {
    db.SetError("cannot read the log " + file + " (error " + std::to_string(err) + ")");
    return Fail(db);
  }
  *rows = insert.rows();
  if (*rows == 0) {
    // Nothing read: make sure that is what the log holds before the day's rows go.
    std::string text;
    if (plat::ReadWholeFile(file, &text) != plat::ERROR_SUCCESS ||
        text.find('=') != std::string::npos) {
      db.SetError("cannot read the log " + file);
      return Fail(db);
    }
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
