// The service's spool: the records and charges it could not write to the
// data folder, kept on its own machine (plspool.dat in the system
// directory) until the folder can be written again, then written in order.
// A profile file: one section per kept write, "E000000001", ... in the order
// they were kept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/profile.h"

namespace common {

inline constexpr const char* kRecordSpoolFile = "plspool.dat";

// "<system directory>\plspool.dat" of the current machine.
std::string RecordSpoolPath();

// One change of a profile file: '=' sets the value, '+' adds the (signed
// decimal) value to the number there, '-' deletes the key, '?' sets the value
// only where the key is missing or 0, kAddWherePeriodKept adds as '+' only
// where the section keeps a period (PeriodType or PeriodStamp set).
inline constexpr char kAddWherePeriodKept = '^';
struct SpoolChange {
  char op = '=';
  std::string section;
  std::string key;
  std::string value;
};

// One kept write: a record of a day log (section, key second, record), or
// changes of one profile file.
struct SpoolEntry {
  std::string what;  // the file's name in reports: "the day log", "portulon.usr"
  std::string file;  // its path
  bool isRecord = false;
  std::string section;
  std::int64_t second = 0;
  std::string record;
  std::vector<SpoolChange> changes;
};

// The spool file's section name of entry number `n`.
std::string SpoolEntryName(long n);
// The entry as the keys of its section `name`.
std::vector<plat::ProfileChange> SpoolEntryKeys(const std::string& name, const SpoolEntry& entry);
// Every entry of the spool at `path`, in order, with its section name.
std::vector<std::pair<std::string, SpoolEntry>> LoadRecordSpool(const std::string& path);

}  // namespace common
