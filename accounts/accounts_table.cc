#include "accounts/accounts_table.h"

#include "accounts/units.h"
#include "common/expiry_date.h"
#include "common/profile_keys.h"
#include "platform/tools/tool_format.h"

namespace accounts {

namespace {

std::string Elapsed(const Account& a, const char* key) { return FormatValue(Unit::Elapsed, a.Text(key)); }

// The days count from the first connection: a date once it was made.
std::string ExpiresAfterDays(const Account& a) {
  const std::int64_t days = a.Number(common::kExpiryTime);
  if (days == 0) return "never";
  const std::int64_t first = a.Number(common::kFirstConnection);
  if (first == 0) return std::to_string(days) + "d";
  return pltools::IsoLocalDate(static_cast<std::time_t>(first + days * 86400));
}

// The earlier of the days and the last day (ExpiryDate), as the service
// decides; ISO dates compare as text.
std::string Expires(const Account& a) {
  const std::string byDays = ExpiresAfterDays(a);
  const std::string text = a.Text(common::kExpiryDate, "");
  const common::ExpiryDateValue date = common::ReadExpiryDate(text);
  if (date.kind == common::ExpiryDateValue::kNone) return byDays;
  if (date.kind == common::ExpiryDateValue::kMalformed) return "'" + text + "'";
  const std::string last = common::FormatIsoDate(date.date);
  const bool byDaysIsDate = byDays.size() == 10 && byDays[4] == '-';
  return byDaysIsDate && byDays < last ? byDays : last;
}

std::string Allowance(const Account& a) {
  const std::int64_t type = a.Number(common::kPeriodType);
  const std::int64_t max = a.Number(common::kPeriodMax);
  if (type == 0 || max == 0) return "none";
  return FormatDuration(max) + "/" + FormatValue(Unit::PeriodType, a.Text(common::kPeriodType));
}

// How many sessions the profile's own values allow at once; "any" without a limit.
std::string AtOnce(const Account& a) {
  const plat::DWORD limit = common::SessionLimit(static_cast<plat::DWORD>(a.Number(common::kNoDuplicate)),
                                                 static_cast<plat::DWORD>(a.Number(common::kMaxSessions)));
  return limit == 0 ? "any" : std::to_string(limit);
}

// Minutes are enough to tell calls apart in a table; pluser show has the seconds.
std::string LastCall(const Account& a) {
  const std::int64_t t = a.Number(common::kLastConnection);
  return t == 0 ? "-" : pltools::IsoLocalTime(static_cast<std::time_t>(t)).substr(0, 16);
}

}  // namespace

pltools::Table AccountsTable(const std::vector<Account>& accounts) {
  pltools::Table table({{"Account"}, {"Session", true}, {"Total", true}, {"At once", true}, {"Expires"},
                        {"Allowance", true},
                        {"Used", true}, {"Address"}, {"Calls", true}, {"Denied", true}, {"Time", true},
                        {"Last call"}});
  for (const Account& a : accounts) {
    const bool period = a.Number(common::kPeriodType) != 0;
    table.AddRow({a.section, FormatValue(Unit::Seconds, a.Text(common::kMaxSessionTime)),
                  FormatValue(Unit::Seconds, a.Text(common::kMaxTotalTime)), AtOnce(a), Expires(a), Allowance(a),
                  period ? Elapsed(a, common::kPeriodUsage) : "",
                  a.IsGroup() ? "" : FormatValue(Unit::Address, a.Text(common::kStaticIP)),
                  std::to_string(a.Number(common::kTotalConnects)),
                  std::to_string(a.Number(common::kTotalDenieds)),
                  Elapsed(a, common::kTotalTime), LastCall(a)});
  }
  return table;
}

}  // namespace accounts
