// Whether the service's writes of the shared files succeed, file by file. A
// write that fails is never silent: it is traced with its error; the first
// failure of a file's outage is reported by an event, and so is its end,
// with the number of its writes lost and of those written late meanwhile.
//
// What a failed write means for a caller: a dial-in is still decided as
// usual, its session is kept in the port table so that its limits are still
// enforced on this server, and its records and charges are kept in the
// service's spool (record_spool.h) to be written, in order, once the file
// can be written again. Only writes that nothing keeps count as lost.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "common/event_ids.h"
#include "platform/win_types.h"

namespace svc {

// A fault that comes and goes: its beginning and its end are each reported
// once, never each time it is met meanwhile. Safe from any thread.
class Outage {
 public:
  // A failure; true when it begins the outage. Counts it.
  bool Fail();
  // A success; true when it ends an outage, with the failures counted
  // during it in *count.
  bool Succeed(long* count);
  bool on() const;

 private:
  mutable std::mutex mutex_;  // guards on_ and count_
  bool on_ = false;
  long count_ = 0;
};

class WriteHealth {
 public:
  // Notes the outcome of one write of `what` (a file's name); `error` 0 is a
  // success. A failure counts as lost. Returns `error`. Safe from any thread.
  plat::DWORD Note(const char* what, plat::DWORD error);
  // A write of `what` kept in the spool: it failed with `error`, or (error 0)
  // it waits behind writes kept before it. `where` names the spool for the
  // event that begins the outage.
  void NoteKept(const char* what, plat::DWORD error, const std::string& where);
  // A kept write of `what` written now; `pending` writes stay kept. When
  // none stays, every outage that kept writes ends, with its report.
  void NoteWrittenLate(const char* what, long pending);
  // Any file failing now; writes lost in outages that go on.
  bool failing() const;
  long lostWrites() const;

 private:
  struct FileOutage {
    bool announced = false;  // its beginning was reported (or by an earlier run)
    long lost = 0;
    long kept = 0;         // kept in the spool, not yet written
    long writtenLate = 0;  // kept, then written
  };
  void ReportEnd(const std::string& what, const FileOutage& o);

  mutable std::mutex mutex_;  // guards outages_
  // Files in an outage and what became of their writes so far.
  std::map<std::string, FileOutage, std::less<>> outages_;
};

}  // namespace svc
