// How our tools print what scripts and people read: times in ISO 8601 local
// time, and the CSV and JSON texts of the machine-readable forms.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace pltools {

// "2026-12-08 14:03:05", the machine's local time; "-" for 0.
std::string IsoLocalTime(std::time_t t);
// "2026-12-08T14:03:05", for CSV and JSON; "" for 0.
std::string IsoLocalTimeStrict(std::time_t t);
// "2026-12-08", the local date.
std::string IsoLocalDate(std::time_t t);

// One CSV field (RFC 4180): quoted when it holds a comma, quote or line end.
std::string CsvField(std::string_view text);
// The fields joined by commas, each as CsvField makes it, without a line end.
std::string CsvLine(const std::vector<std::string>& fields);

// `text` as a JSON string, quotes included; bytes above 0x7F pass unchanged.
std::string JsonString(std::string_view text);

// Output forms a listing tool offers with --format.
enum class OutputFormat { Table, Csv, Json };
// "table", "csv" or "json" (any case); false for anything else.
bool ParseOutputFormat(std::string_view text, OutputFormat* format);

}  // namespace pltools
