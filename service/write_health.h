// Whether the service's writes of the shared files succeed, file by file. A
// write that fails is never silent: it is traced with its error; the first
// failure of a file's outage is reported by an event, and so is the first
// success after it, with the number of its writes lost meanwhile.
//
// What a failed write means for a caller: a dial-in is still admitted (as
// when Portulon cannot be reached at all), its session is kept in the port
// table so that its limits are still enforced on this server, and it counts
// among the writes lost in the event that ends the outage.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/win_types.h"

namespace svc {

struct ServiceContext;

// "Cannot record" (warning) and "Recording again" (information).
inline constexpr plat::DWORD kEventCannotRecord = 13;
inline constexpr plat::DWORD kEventRecordingAgain = 14;

class WriteHealth {
 public:
  // Notes the outcome of one write of `what` (a file's name); `error` 0 is a
  // success. Safe from any thread.
  void Note(const char* what, plat::DWORD error);
  // Any file failing now; writes lost in outages that go on.
  bool failing() const;
  long lostWrites() const;

 private:
  mutable std::mutex mutex_;  // guards lost_
  // Files in an outage and their writes lost so far.
  std::map<std::string, long, std::less<>> lost_;
};

// Notes a write of `what` through the context's WriteHealth; returns `error`.
plat::DWORD NoteWrite(const ServiceContext& context, const char* what, plat::DWORD error);

}  // namespace svc
