// The near-live export: while the export of the history is enabled and
// ExportLive is on (export_schedule.h), the export thread runs a pass every
// kLiveExportSeconds that reads what today's and yesterday's logs gained
// since the last pass (log_follower.h) and writes it into pl_sessions, over
// the rows of the same keys, so that it and the full export may take a record
// any number of times and it stays one row.
//
// The pipe thread never waits for the database: a pass reads the day logs as
// the data folder holds them, without their lock, and only whole lines.
// The positions move only once a pass is committed, so a pass that fails
// (database away, log unreadable) is repeated whole by the next, and every
// record arrives once. A fresh run starts from the logs' beginnings.
//
// Not thread-safe: one object belongs to the export thread.
#pragma once

#include <ctime>
#include <map>
#include <memory>
#include <string>

#include "service/reporting/log_follower.h"
#include "service/write_health.h"

namespace svc {

struct ServiceContext;
class OdbcConnection;

inline constexpr int kLiveExportSeconds = 15;

struct LiveExportOutcome {
  bool ran = false;  // enabled, and the logs were read
  bool ok = true;
  long records = 0;  // written by this pass
  std::string error;
};

class LiveExport {
 public:
  LiveExport();
  ~LiveExport();
  LiveExport(const LiveExport&) = delete;
  LiveExport& operator=(const LiveExport&) = delete;

  // One pass at `now`. The first failure of an outage is traced and reported
  // (event 20); the first pass that succeeds after it too (event 23, with the
  // number of passes that failed). The connection is kept between passes and
  // made again after a failure or when the data source's settings change.
  LiveExportOutcome Pass(const ServiceContext& context, std::time_t now);

 private:
  bool Connect(const std::string& dsn, const std::string& account, const std::string& password);

  std::map<std::string, LogPosition> positions_;  // by day name ("2024-Mar-12")
  std::unique_ptr<OdbcConnection> db_;
  std::string connectedTo_;  // DSN, account and password db_ was made with
  Outage outage_;
};

}  // namespace svc
