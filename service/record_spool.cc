#include "service/record_spool.h"

#include <cstdlib>

#include "common/trace.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/profile.h"

namespace svc {

void RecordSpool::Open(std::string path) {
  path_ = std::move(path);
  const auto entries = Load();
  next_ = 1;
  for (const auto& [name, entry] : entries) {
    const long n = std::strtol(name.c_str() + 1, nullptr, 10);
    if (n >= next_) next_ = n + 1;
  }
  if (pending_ > 0) common::Trace("RecordSpool", "Writes kept by an earlier run: " + path_, pending_);
}

plat::DWORD RecordSpool::Keep(const common::SpoolEntry& entry) {
  if (path_.empty()) return plat::ERROR_PATH_NOT_FOUND;
  const std::string name = common::SpoolEntryName(next_);
  const plat::DWORD err = plat::ProfileApply(path_, common::SpoolEntryKeys(name, entry));
  if (err != plat::ERROR_SUCCESS) {
    common::Trace("RecordSpool", "Cannot keep a write in " + path_, static_cast<long>(err));
    return err;
  }
  ++next_;
  ++pending_;
  return plat::ERROR_SUCCESS;
}

std::vector<std::pair<std::string, common::SpoolEntry>> RecordSpool::Load() {
  if (path_.empty()) return {};
  auto entries = common::LoadRecordSpool(path_);
  pending_ = static_cast<long>(entries.size());
  return entries;
}

plat::DWORD RecordSpool::Drop(const std::string& name) {
  const plat::DWORD err = plat::ProfileDeleteSection(path_, name);
  if (err != plat::ERROR_SUCCESS) return err;
  if (pending_ > 0) --pending_;
  if (pending_ == 0) {
    plat::DeleteFile(path_);
    next_ = 1;
  }
  return plat::ERROR_SUCCESS;
}

}  // namespace svc
