// The master's database export: the profiles of portulon.usr and the records
// of the daily logs, copied through ODBC into three tables that the export
// creates when they are missing (see the README for their columns):
//
//   pl_profiles     one row per profile section; replaced as a whole
//   pl_sessions     one row per log record, key (log_day, server, port, event_time, seq)
//   pl_export_days  one row per exported day: when, how many records, and
//                   whether the day was over (and so needs no further export)
//
// Every run writes each table in its own transaction and replaces what it
// exports, so exporting the same data again changes nothing and adds no row.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace common {
struct LogRecord;
}

namespace svc {

struct ServiceContext;
struct DataPaths;
class OdbcConnection;

// 0 when the data folder can be listed, else the error. A share out of reach
// reads as missing files, which exported or reported would look like no data.
// (Read-only: the folder test of the settings writes a file whose name the
// pipe thread's own test uses at the same time.)
plat::DWORD CheckDataFolder(const ServiceContext& context);

// Creates the tables that do not exist yet.
bool CreateExportTables(OdbcConnection& db);

// Replaces pl_profiles with the profiles of portulon.usr. Counts the rows.
bool ExportProfiles(const ServiceContext& context, OdbcConnection& db, std::time_t now,
                    long* rows);

// The log of a day ("2024-Mar-12") as the export reads it: in LogData, or in
// OldData once archived (LogData's when both hold one).
std::string ExportedLogFile(const DataPaths& paths, const std::string& dayName);

// Replaces the rows of one day with the records of its log (ExportedLogFile) and notes the day in pl_export_days; complete once the export runs
// two or more days after the day (a session's call-back rewrite may still
// touch a log the day after). Counts the rows.
bool ExportSessionDay(const ServiceContext& context, OdbcConnection& db,
                      const std::string& dayName, std::time_t now, long* rows);

// Writes `records` of the day `dayName` over the rows of their keys, in the
// open transaction (the caller commits): a record exported again, by this or
// by the full export, stays one row.
bool ReplaceSessionRows(OdbcConnection& db, const std::string& dayName,
                        const std::vector<common::LogRecord>& records);

// The days of LogData and OldData whose export is not complete yet, oldest
// first. An archived day that never reached the database is taken too.
bool DaysToExport(const ServiceContext& context, OdbcConnection& db, std::vector<std::string>* days);

struct ExportOutcome {
  bool ok = false;
  std::string error;  // what failed, with the driver's diagnostics
  long profiles = 0;  // rows written
  int days = 0;
  long records = 0;
};

// One export as the settings ask for it: connects with ODBC_DSN, ODBC_Account
// and ODBC_Password, creates the tables, exports the profiles when
// ExportUsers is set and every incomplete day when ExportHistory is set. A
// failure leaves the database as the last finished transaction left it.
ExportOutcome RunDatabaseExport(const ServiceContext& context, std::time_t now);

}  // namespace svc
