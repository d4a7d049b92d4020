#include "service/write_health.h"

#include <string>
#include <vector>

#include "common/trace.h"
#include "platform/errors.h"
#include "service/event_report.h"

namespace svc {

bool Outage::Fail() {
  std::lock_guard lock(mutex_);
  ++count_;
  if (on_) return false;
  on_ = true;
  return true;
}

bool Outage::Succeed(long* count) {
  std::lock_guard lock(mutex_);
  if (!on_) return false;
  *count = count_;
  on_ = false;
  count_ = 0;
  return true;
}

bool Outage::on() const {
  std::lock_guard lock(mutex_);
  return on_;
}

namespace {

void ReportBegin(const char* what, plat::DWORD error, const std::string& keptIn) {
  const std::string why =
      std::string(what) + ": " + plat::ErrorText(error) +
      (keptIn.empty() ? ". What cannot be written now is lost."
                      : ". Records and charges are kept in " + keptIn +
                            " and written, in order, once it can be written again.");
  ReportToEventLog(1, common::kEventCannotRecord, "Cannot record", why.c_str(), 2);
}

}  // namespace

void WriteHealth::ReportEnd(const std::string& what, const FileOutage& o) {
  std::string text = what + ": ";
  if (o.writtenLate > 0 || o.lost == 0) {
    text += std::to_string(o.writtenLate) + " writes were kept and written late";
    if (o.lost > 0) text += ", ";
  }
  if (o.lost > 0) text += std::to_string(o.lost) + " writes were lost meanwhile";
  common::Trace("WriteHealth", "Recording again: " + text, o.lost);
  ReportToEventLog(0, common::kEventRecordingAgain, "Recording again", text.c_str(), 2);
}

plat::DWORD WriteHealth::Note(const char* what, plat::DWORD error) {
  if (error != plat::ERROR_SUCCESS) {
    common::Trace("WriteHealth", std::string("Failed to write ") + what, static_cast<long>(error));
    bool begins = false;
    {
      std::lock_guard lock(mutex_);
      FileOutage& o = outages_[what];
      begins = !o.announced;
      o.announced = true;
      ++o.lost;
    }
    if (begins) ReportBegin(what, error, "");
    return error;
  }
  FileOutage ended;
  {
    std::lock_guard lock(mutex_);
    auto it = outages_.find(std::string_view(what));
    if (it == outages_.end()) return error;
    // While writes wait in the spool the folder is not writing again, even
    // when a small write gets through: the outage ends once they are written.
    for (const auto& [file, o] : outages_) {
      if (o.kept > 0 || o.writtenLate > 0) return error;
    }
    ended = it->second;
    outages_.erase(it);
  }
  if (ended.announced) ReportEnd(what, ended);
  return error;
}

void WriteHealth::NoteKept(const char* what, plat::DWORD error, const std::string& where) {
  bool begins = false;
  {
    std::lock_guard lock(mutex_);
    FileOutage& o = outages_[what];
    ++o.kept;
    if (error != plat::ERROR_SUCCESS) {
      begins = !o.announced;
      o.announced = true;
    }
  }
  if (error != plat::ERROR_SUCCESS) {
    common::Trace("WriteHealth", std::string("Failed to write, kept: ") + what, static_cast<long>(error));
  }
  if (begins) ReportBegin(what, error, where);
}

void WriteHealth::NoteWrittenLate(const char* what, long pending) {
  std::vector<std::pair<std::string, FileOutage>> ended;
  {
    std::lock_guard lock(mutex_);
    auto it = outages_.find(std::string_view(what));
    if (it == outages_.end()) {
      // Kept by an earlier run, which reported the beginning.
      it = outages_.emplace(what, FileOutage{}).first;
      it->second.announced = true;
    }
    if (it->second.kept > 0) --it->second.kept;
    ++it->second.writtenLate;
    if (pending > 0) return;
    for (auto o = outages_.begin(); o != outages_.end();) {
      if (o->second.kept > 0 || o->second.writtenLate > 0) {
        if (o->second.announced) ended.emplace_back(o->first, o->second);
        o = outages_.erase(o);
      } else {
        ++o;
      }
    }
  }
  for (const auto& [file, o] : ended) ReportEnd(file, o);
}

bool WriteHealth::failing() const {
  std::lock_guard lock(mutex_);
  for (const auto& [file, o] : outages_) {
    if (o.announced) return true;
  }
  return false;
}

long WriteHealth::lostWrites() const {
  std::lock_guard lock(mutex_);
  long total = 0;
  for (const auto& [file, o] : outages_) total += o.lost;
  return total;
}

}  // namespace svc
