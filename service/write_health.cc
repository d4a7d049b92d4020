#include "service/write_health.h"

#include <string>

#include "common/trace.h"
#include "platform/errors.h"
#include "service/event_report.h"
#include "service/service_context.h"

namespace svc {

void WriteHealth::Note(const char* what, plat::DWORD error) {
  bool report = false;
  long lost = 0;
  {
    std::lock_guard lock(mutex_);
    auto it = lost_.find(std::string_view(what));
    if (error != plat::ERROR_SUCCESS) {
      report = it == lost_.end();
      ++lost_[what];
    } else if (it != lost_.end()) {
      report = true;
      lost = it->second;
      lost_.erase(it);
    }
  }
  if (error != plat::ERROR_SUCCESS) {
    common::Trace("WriteHealth", std::string("Failed to write ") + what, static_cast<long>(error));
    if (report) {
      const std::string why = std::string(what) + ": " + plat::ErrorText(error) +
                              ". Callers are admitted unrecorded until it can be written again.";
      ReportToEventLog(1, kEventCannotRecord, "Cannot record", why.c_str(), 2);
    }
  } else if (report) {
    const std::string lostText =
        std::string(what) + ": " + std::to_string(lost) + " writes were lost meanwhile";
    common::Trace("WriteHealth", "Recording again", lost);
    ReportToEventLog(0, kEventRecordingAgain, "Recording again", lostText.c_str(), 2);
  }
}

bool WriteHealth::failing() const {
  std::lock_guard lock(mutex_);
  return !lost_.empty();
}

long WriteHealth::lostWrites() const {
  std::lock_guard lock(mutex_);
  long total = 0;
  for (const auto& [file, n] : lost_) total += n;
  return total;
}

plat::DWORD NoteWrite(const ServiceContext& context, const char* what, plat::DWORD error) {
  context.writeHealth.Note(what, error);
  return error;
}

}  // namespace svc
