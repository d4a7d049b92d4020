// The event log: reporting events under a source, and reading a log backwards.
//
// Each log (Application, System, ...) is one append-only text file in the
// machine's eventlog/ folder, one record a line. A source writes to the log
// under whose key it is registered
// (HKLM\System\CurrentControlSet\Services\EventLog\<Log>\<Source>), to
// Application when it is registered nowhere. Appends from all processes are
// serialised by a lock; record numbers run from 1 without gaps.
//
// A log is bounded: DWORD MaxSize (bytes) under
// HKLM\System\CurrentControlSet\Services\EventLog\<Log>, kDefaultEventLogMaxSize
// when missing, never below kMinEventLogMaxSize. A trim drops the oldest
// records, down to three quarters of the bound (so that the log is rewritten
// once in a while, not on every record); record numbers go on from where they
// were. The record that takes the log past seven eighths of the bound hands
// its trim to the background (plat::RunInBackground), so that no report waits
// for the disk; only a record that would take the file over the bound before
// that trim is done trims on its own path. Either way the file is replaced
// whole (a synced copy and a rename), so a reader never sees it half trimmed
// and a crash leaves the old log or the new one.
//
// Thread safety: all calls; an EventSource or EventLogReader is one thread's
// at a time. Out parameters on failure: Register and Open leave `out` as it
// was; ReadBackward and ReadAll leave the list unspecified;
// ParseEventRecordLine leaves the record unspecified when it returns false.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace plat {

inline constexpr WORD EVENTLOG_SUCCESS = 0x0000;
inline constexpr WORD EVENTLOG_ERROR_TYPE = 0x0001;
inline constexpr WORD EVENTLOG_WARNING_TYPE = 0x0002;
inline constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x0004;
inline constexpr WORD EVENTLOG_AUDIT_SUCCESS = 0x0008;
inline constexpr WORD EVENTLOG_AUDIT_FAILURE = 0x0010;

inline constexpr const char* kEventLogServicesKey = "System\\CurrentControlSet\\Services\\EventLog";

inline constexpr DWORD kDefaultEventLogMaxSize = 512 * 1024;
inline constexpr DWORD kMinEventLogMaxSize = 64 * 1024;

struct EventRecord {
  DWORD recordNumber = 0;
  DWORD timeGenerated = 0;  // seconds since 1970
  DWORD timeWritten = 0;
  DWORD eventId = 0;
  WORD eventType = EVENTLOG_INFORMATION_TYPE;
  WORD category = 0;
  std::string source;
  std::string computer;
  std::vector<std::string> strings;
};

// RegisterEventSource / ReportEvent / DeregisterEventSource.
class EventSource {
 public:
  EventSource() = default;
  // `server` empty or "\\NAME": the machine whose log receives the reports.
  // ERROR_BAD_NETPATH for an unknown or down remote machine.
  static DWORD Register(std::string_view server, std::string_view sourceName, EventSource* out);

  DWORD Report(WORD eventType, WORD category, DWORD eventId,
               const std::vector<std::string>& strings) const;
  // As Report, with the time of generation given (tests and the remote-access
  // stand-in write records "from the past" this way).
  DWORD ReportAt(std::time_t timeGenerated, WORD eventType, WORD category, DWORD eventId,
                 const std::vector<std::string>& strings) const;

  bool valid() const { return !logFile_.empty(); }
  const std::string& logName() const { return logName_; }

 private:
  std::string logFile_;   // host path of the log file
  std::uint64_t maxSize_ = kDefaultEventLogMaxSize;  // read once, at Register
  std::string logName_;
  std::string source_;
  std::string computer_;
};

// OpenEventLog / ReadEventLog.
class EventLogReader {
 public:
  EventLogReader() = default;
  // ERROR_BAD_NETPATH for an unknown or down remote machine. A log that has no
  // file yet opens and reads as empty.
  static DWORD Open(std::string_view server, std::string_view logName, EventLogReader* out);

  // Sequential backwards reading: the newest records first, continuing where the
  // previous call stopped; at most `maxRecords` per call. ERROR_HANDLE_EOF when
  // nothing is left. Reads the file from its end in blocks, so a reader that
  // stops early never reads the whole log. A log trimmed between two calls is
  // followed: reading goes on below the oldest record returned so far.
  DWORD ReadBackward(std::vector<EventRecord>* records, size_t maxRecords);
  // Every record, oldest first.
  DWORD ReadAll(std::vector<EventRecord>* records) const;

 private:
  std::string logFile_;
  std::uint64_t position_ = 0;  // end of the part not yet read backwards
  bool started_ = false;
  std::uint64_t fileId_ = 0;      // inode of the file position_ belongs to
  DWORD oldestReturned_ = 0;      // number of the oldest record returned, 0 before any
};

// The bound of a log of a machine (see above).
std::uint64_t EventLogMaxSize(const std::string& machineRoot, std::string_view logName);

// Host path of a log file of a machine.
std::string EventLogFilePath(const std::string& machineRoot, std::string_view logName);

// Encodes and decodes one record line (exposed for the eventlog tool and tests).
std::string FormatEventRecordLine(const EventRecord& record);
bool ParseEventRecordLine(std::string_view line, EventRecord* record);

}  // namespace plat
