// The spool of records and charges the data folder would not take
// (common/record_spool.h), as the service keeps it: appended to while
// anything waits in it, so that what is written later never overtakes what
// was kept before.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/record_spool.h"
#include "platform/win_types.h"

namespace svc {

class RecordSpool {
 public:
  // Uses the spool at `path`, counting what an earlier run left in it.
  void Open(std::string path);
  // Empty until opened: nothing can be kept.
  const std::string& path() const { return path_; }
  // Entries kept and not yet written.
  long pending() const { return pending_; }
  // A write must wait behind kept ones (not while they are being written).
  bool MustWait() const { return pending_ > 0 && !writing_; }

  // Appends an entry; an error when the spool itself cannot be written.
  plat::DWORD Keep(const common::SpoolEntry& entry);
  // The kept entries in order; the count follows what the file holds (an
  // administrator may have removed it).
  std::vector<std::pair<std::string, common::SpoolEntry>> Load();
  // Drops entry `name`, written.
  plat::DWORD Drop(const std::string& name);

  // While the kept entries are written, writes go straight to their files.
  class Writing {
   public:
    explicit Writing(RecordSpool& spool) : spool_(spool) { spool_.writing_ = true; }
    ~Writing() { spool_.writing_ = false; }
    Writing(const Writing&) = delete;
    Writing& operator=(const Writing&) = delete;

   private:
    RecordSpool& spool_;
  };

 private:
  std::string path_;
  long pending_ = 0;
  long next_ = 1;  // number of the next entry
  bool writing_ = false;
};

}  // namespace svc
