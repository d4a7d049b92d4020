#include "platform/tools/tool_format.h"

#include "platform/sysinfo.h"
#include "platform/text.h"

namespace pltools {

namespace {

std::string Format(std::time_t t, const char* pattern) {
  const std::tm local = plat::LocalTime(t);
  return plat::FormatText(pattern, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                          local.tm_hour, local.tm_min, local.tm_sec);
}

}  // namespace

std::string IsoLocalTime(std::time_t t) {
  return t == 0 ? "-" : Format(t, "%04d-%02d-%02d %02d:%02d:%02d");
}

std::string IsoLocalTimeStrict(std::time_t t) {
  return t == 0 ? "" : Format(t, "%04d-%02d-%02dT%02d:%02d:%02d");
}

std::string IsoLocalDate(std::time_t t) { return Format(t, "%04d-%02d-%02d"); }

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string CsvLine(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) line += ',';
    line += CsvField(fields[i]);
  }
  return line;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20) {
          out += plat::FormatText("\\u%04x", byte);
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

bool ParseOutputFormat(std::string_view text, OutputFormat* format) {
  if (plat::EqualsIgnoringCase(text, "table")) {
    *format = OutputFormat::Table;
  } else if (plat::EqualsIgnoringCase(text, "csv")) {
    *format = OutputFormat::Csv;
  } else if (plat::EqualsIgnoringCase(text, "json")) {
    *format = OutputFormat::Json;
  } else {
    return false;
  }
  return true;
}

}  // namespace pltools
