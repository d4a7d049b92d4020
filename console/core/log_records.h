// The day of session records the document holds for the log, usage and
// statistics views: read with the one reader of the log-record grammar
// (common/log_record.h), times moved to each server's own clock, and read
// again only when the file has changed.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "common/log_record.h"
#include "common/log_record_store.h"

namespace pladmin {

// A monitored server's time-zone bias (minutes, as ActiveTimeBias).
struct ServerBias {
  std::string name;
  int bias = 0;
};

class CServerList;

// The biases of the monitored servers, as their fetches read them.
std::vector<ServerBias> ServerBiases(const CServerList& servers);

// What the views say about servers whose times are not moved by a bias
// their fetch read: not known (shown as recorded) or the last one seen.
// Empty when every server's zone is known.
std::string TimeZoneNote(const CServerList& servers);

// "%s\LogData\%s.log": the day formatted "yyyy-MMM-dd" with US-English months.
std::string DayLogPath(const std::string& dataFolder, const std::tm& day);

// Adds (consoleBias - server bias) minutes to the time of every record of a
// server whose bias differs from the console's, so that times read as that
// server's clock. Server names compare in any case.
void ShiftToServerTime(std::vector<common::LogRecord>* records, int consoleBias,
                       const std::vector<ServerBias>& servers);
void ShiftToServerTime(common::LogRecordStore* records, int consoleBias,
                       const std::vector<ServerBias>& servers);

class CLogRecords {
 public:
  // Status texts while loading ("Processing logs from %s, please wait...").
  using StatusFn = std::function<void(const std::string&)>;

  // Reads the day's file unless its path, modification stamp and size all
  // equal those of the last load: then nothing is read and false returned.
  // The file is streamed into a compact store (a day of a million records
  // takes tens of megabytes); a file that cannot be read gives the records
  // read before the failure, and error() says why.
  // A missing file gives no records. Values of no known kind are kept
  // (kind common::kRecordUnknown) with their server, port and time.
  // Not thread-safe: one load at a time, and nobody reads records() meanwhile.
  bool LoadLogRecords(const std::string& path, int consoleBias,
                      const std::vector<ServerBias>& servers, const StatusFn& status = {});

  const common::LogRecordStore& records() const { return records_; }
  const std::string& path() const { return path_; }
  // Why the last load could not read the whole file; 0 when it did (or the
  // file is missing, which is a day without records).
  std::uint32_t error() const { return error_; }
  // The size of the file at the last load (0 when missing).
  std::uint64_t size() const { return size_; }

 private:
  common::LogRecordStore records_;
  std::string path_;
  std::time_t stamp_ = -1;
  std::uint64_t size_ = 0;
  bool loaded_ = false;
  std::uint32_t error_ = 0;
};

}  // namespace pladmin
