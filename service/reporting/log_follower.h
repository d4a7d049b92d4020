// Follows a day log as it grows, for the near-live export: which records
// were added to the log's text since the position taken last time.
//
// A day log only grows at its end (platform/profile.h, record files); the
// one change before the end is the call-back rewrite of a connection record,
// which makes that line longer and so moves what follows it, but never adds
// or removes a line. A position therefore holds the byte offset read up to,
// the number of lines before it and the last line taken: when the text no
// longer shows that line just before the offset, the offset is found again
// by counting lines; a log with fewer lines than that was replaced, and is
// read again from its start (what it held is exported again, to the same
// keys). Only whole lines are taken: a line still being written waits for
// the next reading.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/log_record.h"

namespace svc {

struct LogPosition {
  std::uint64_t offset = 0;  // bytes taken: the end of a whole line
  std::uint64_t lines = 0;   // lines before `offset`
  std::string lastLine;      // the line that ends at `offset`, line break included
  std::string section;       // the section the text at `offset` continues
  // Each section's name as its first header spells it (keyed by the name in
  // lower case): the name its records are exported under, as the full export
  // reads them.
  std::map<std::string, std::string> spellings;
};

// The records of the known kinds that `text` (a day log's whole content)
// holds after `from`, in file order; *to receives the position after them.
// *reread tells whether the text no longer continued `from` and was read
// again from its start.
std::vector<common::LogRecord> ReadNewRecords(std::string_view text, const LogPosition& from,
                                              LogPosition* to, bool* reread = nullptr);

}  // namespace svc
