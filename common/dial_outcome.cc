#include "common/dial_outcome.h"

#include <vector>

#include "common/data_folder.h"
#include "common/log_record.h"
#include "common/pipe_protocol.h"
#include "common/product_keys.h"
#include "common/record_spool.h"
#include "common/service_values.h"
#include "common/trace.h"
#include "platform/errors.h"
#include "platform/pipe.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/text.h"

namespace common {

namespace {

std::string DayLogFile(const std::string& folder, std::int64_t t) {
  return DayLogPath(folder, DayLogName(static_cast<std::time_t>(t)));
}

// Takes `r` into *found when it is a record of `kind` of this dial-in (its
// server, port and account, not before `since`) and not older than the one
// found so far; *any says whether one was found.
void KeepIfNewer(const LogRecord& r, int kind, std::string_view server, std::string_view port,
                 std::string_view account, std::int64_t since, LogRecord* found, bool* any) {
  if (r.kind != kind || r.time < since || !plat::EqualsIgnoringCase(r.server, server) ||
      !plat::EqualsIgnoringCase(r.port, port) || !plat::EqualsIgnoringCase(r.user, account)) {
    return;
  }
  if (!*any || r.time >= found->time) *found = r;
  *any = true;
}

// The service's newest record of `kind` for this dial-in, if any.
bool FindRecord(const std::string& folder, std::string_view server, int kind, std::string_view port,
                std::string_view account, std::int64_t since, LogRecord* found) {
  std::vector<std::string> files = {DayLogFile(folder, since)};
  const std::string today = DayLogFile(folder, plat::Now());
  if (today != files.front()) files.push_back(today);  // the dial-in spanned midnight
  bool any = false;
  for (const std::string& file : files) {
    for (const LogRecord& r : LoadLogRecords(file)) {
      KeepIfNewer(r, kind, server, port, account, since, found, &any);
    }
  }
  return any;
}

// The newest record of `kind` for this dial-in among those the service keeps
// in its spool because its data folder would not take them.
bool FindKeptRecord(std::string_view server, int kind, std::string_view port, std::string_view account,
                    std::int64_t since, LogRecord* found) {
  bool any = false;
  for (const auto& [name, e] : LoadRecordSpool(RecordSpoolPath())) {
    LogRecord r;
    if (e.isRecord && ParseLogRecord(e.section, std::to_string(e.second), e.record, &r)) {
      KeepIfNewer(r, kind, server, port, account, since, found, &any);
    }
  }
  return any;
}

constexpr const char* kKeptWords = "; kept by Portulon until its data folder can be written";

std::string ReasonWords(const LogRecord& record, const char* more) {
  const std::string text = RefusalText(record.reason);
  return " (" + std::to_string(record.reason) + (text.empty() ? "" : ": " + text) + more + ")";
}

}  // namespace

std::string DescribeRefusal(const std::string& dataFolder, std::string_view server, std::string_view port,
                            std::string_view account, std::int64_t since) {
  LogRecord record;
  if (!FindRecord(dataFolder, server, kRecordRefusal, port, account, since, &record)) {
    return " (no reason recorded by Portulon)";
  }
  return ReasonWords(record, "");
}

std::string DescribeDialOutcome(bool admitted, std::string_view port, std::string_view account,
                                std::int64_t since) {
  std::string folder;
  if (plat::RegReadString(kServiceKey, kMasterShareValue, &folder) !=
          plat::ERROR_SUCCESS ||
      folder.empty()) {
    return "";
  }
  const std::string server = plat::GetComputerName();
  LogRecord record;
  if (!admitted) {
    // A record the data folder would not take yet is in the service's spool.
    if (!FindRecord(folder, server, kRecordRefusal, port, account, since, &record) &&
        FindKeptRecord(server, kRecordRefusal, port, account, since, &record)) {
      return ReasonWords(record, kKeptWords);
    }
    return DescribeRefusal(folder, server, port, account, since);
  }
  if (FindRecord(folder, server, kRecordConnection, port, account, since, &record)) return "";
  if (FindKeptRecord(server, kRecordConnection, port, account, since, &record)) {
    return std::string(" (its record") + kKeptWords + ")";
  }
  std::string words = " without a check: Portulon did not answer";
  if (const plat::DWORD err = plat::QueryNamedPipe(kPipeName); err != plat::ERROR_SUCCESS) {
    words += " (error " + std::to_string(err) + ")";
  }
  return words;
}

}  // namespace common
