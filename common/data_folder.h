// The data folder (the service's MasterShare): the names of its files and
// folders, and the name of a day's session log, made and read back here only.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace common {

inline constexpr const char* kUsersFile = "portulon.usr";           // the profiles and their usage
inline constexpr const char* kSystemDataFile = "portulon.hw";       // shared settings, ports
inline constexpr const char* kLoggedInFile = "portulon.tmp";        // who is logged in where
inline constexpr const char* kCombinedLogFile = "portulon.log";     // every record (LogToLargeFile)
inline constexpr const char* kCombinedLogOldFile = "portulon.log.old";  // its rotated predecessor
inline constexpr const char* kPortStatFile = "portstat.log";
inline constexpr const char* kStatusCountersFile = "svc_status.dat";  // the status mail's counters
inline constexpr const char* kDayLogFolder = "LogData";             // the days' session logs
inline constexpr const char* kArchiveFolder = "OldData";            // the archived ones

// The router's port data, in the Windows directory of each router: plcollect
// writes it, the service judges idle sessions from it.
inline constexpr const char* kPortSnapshotFile = "rrasdata.dat";

// The sessions in progress, in the service's current directory (the system
// directory), so that a restart takes them back.
inline constexpr const char* kSessionFile = "~plsess.tmp";

// The date picture of a day log's name. The service writes it with the
// US-English month abbreviations whatever the locale.
inline constexpr const char* kDayLogPicture = "yyyy-MMM-dd";

// "<folder>\<name>".
std::string DataFile(std::string_view folder, std::string_view name);

// The name of the day log of the local date of `day` ("2000-Nov-21").
std::string DayLogName(const std::tm& day);
std::string DayLogName(std::time_t when);
// "<folder>\LogData\<dayName>.log", or in `logFolder` (OldData) instead.
std::string DayLogPath(std::string_view folder, std::string_view dayName,
                       std::string_view logFolder = kDayLogFolder);
// "<folder>\<logFolder>\*.log": every day log of a log folder, and more.
std::string DayLogSearch(std::string_view folder, std::string_view logFolder);
// Reads a day log's name (month in English, any case) into year, month and
// day of `date`. False for any other name.
bool ParseDayLogName(std::string_view name, std::tm* date);
// The same for a day log's file name ("2000-Nov-21.log"), giving its day name.
bool ParseDayLogFile(std::string_view fileName, std::string* dayName, std::tm* date);

}  // namespace common
