#include "console/core/log_view_model.h"

#include <unordered_set>

#include <algorithm>
#include <cstdlib>

#include "platform/text.h"
#include "platform/tools/tool_format.h"

namespace pladmin {

namespace {

template <typename T>
int CompareNumbers(T a, T b, int d) {
  if (a > b) return -d;
  if (a == b) return 0;
  return d;
}

int CompareTexts(std::string_view a, std::string_view b, int d) {
  const int c = plat::CompareIgnoringCase(a, b);
  return c < 0 ? -d : c > 0 ? d : 0;
}

// The number a port name ends in (the first character never counts); 0 when
// it ends in none.
long TrailingNumber(std::string_view name) {
  size_t start = name.size();
  while (start > 1 && name[start - 1] >= '0' && name[start - 1] <= '9') --start;
  if (start == name.size()) return 0;
  // Digits beyond a long's range are no port number.
  if (name.size() - start > 9) return 0;
  long n = 0;
  for (const char c : name.substr(start)) n = n * 10 + (c - '0');
  return n;
}

std::string Cell(const common::LogRecordView& r, int flag, const CellOptions& options) {
  std::string text = CellText(r, flag, options);
  return text.empty() ? std::string(" ") : pltools::CsvField(text);
}

}  // namespace

int CompareLogRecords(const common::LogRecordView& a, const common::LogRecordView& b, int flag, int d) {
  switch (flag) {
    case kColTime: {
      const int c = CompareNumbers(a.time, b.time, d);
      return c != 0 ? c : CompareNumbers(a.sequence, b.sequence, d);
    }
    case kColAction: return CompareNumbers(a.kind, b.kind, d);
    case kColInfo: return CompareNumbers(a.reason, b.reason, d);
    case kColIP: return CompareNumbers(a.address, b.address, d);
    case kColLasted: return CompareNumbers(a.duration, b.duration, d);
    case kColBytesIn: return CompareNumbers(a.bytesIn, b.bytesIn, d);
    case kColBytesOut: return CompareNumbers(a.bytesOut, b.bytesOut, d);
    case kColServer: return CompareTexts(a.server, b.server, d);
    case kColUser: return CompareTexts(a.user, b.user, d);
    case kColNetBIOS: return CompareTexts(a.netbios, b.netbios, d);
    case kColIPX: return CompareTexts(a.ipx, b.ipx, d);
    case kColPort: {
      const long na = TrailingNumber(a.port), nb = TrailingNumber(b.port);
      // Equal numbers (COM2 of two servers) fall back to the text, so that a
      // row never sorts before itself.
      if (na != 0 && nb != 0 && na != nb) return na < nb ? -d : d;
      return CompareTexts(a.port, b.port, d);
    }
    default: return 0;
  }
}

int& SharedSortDirection() {
  static int direction = 1;
  return direction;
}

namespace {

template <typename Records>
void SortRows(std::vector<int>* rows, const Records& records, int flag, int direction) {
  std::stable_sort(rows->begin(), rows->end(), [&](int a, int b) {
    return CompareLogRecords(records[static_cast<size_t>(a)], records[static_cast<size_t>(b)],
                             flag, direction) < 0;
  });
}

}  // namespace

void SortLogRows(std::vector<int>* rows, const common::LogRecordStore& records, int flag,
                 int direction) {
  if (flag == kColTime) {
    // The one sort a day of a million rows gets on opening (newest first):
    // by the numbers alone, without making a view of each record.
    std::stable_sort(rows->begin(), rows->end(), [&](int a, int b) {
      const auto ra = static_cast<size_t>(a), rb = static_cast<size_t>(b);
      const std::int64_t ta = records.time(ra), tb = records.time(rb);
      if (ta != tb) return (ta > tb ? -direction : direction) < 0;
      const int sa = records.sequence(ra), sb = records.sequence(rb);
      return sa != sb && (sa > sb ? -direction : direction) < 0;
    });
    return;
  }
  SortRows(rows, records, flag, direction);
}

void SortLogRows(std::vector<int>* rows, const std::vector<common::LogRecord>& records, int flag,
                 int direction) {
  SortRows(rows, records, flag, direction);
}

void SortLogRows(std::vector<int>* rows, const common::LogRecordStore& records, int flag) {
  int& d = SharedSortDirection();
  SortLogRows(rows, records, flag, d);
  d = -d;
}

void SortLogRows(std::vector<int>* rows, const std::vector<common::LogRecord>& records, int flag) {
  int& d = SharedSortDirection();
  SortLogRows(rows, records, flag, d);
  d = -d;
}

std::string RowCsv(const common::LogRecordView& r, const std::vector<int>& flags,
                   const CellOptions& options) {
  std::string line;
  for (size_t i = 0; i < flags.size(); ++i) {
    if (i) line += ',';
    line += Cell(r, flags[i], options);
  }
  return line;
}

std::string CopyText(const std::vector<common::LogRecordView>& rows,
                     const std::vector<int>& flags, const CellOptions& options) {
  std::string text;
  for (const common::LogRecordView& r : rows) {
    for (int flag : flags) text += Cell(r, flag, options) + ",";
    text += "\r\n";
  }
  return text;
}

std::string SavedHeadingLine(const std::vector<int>& flags) {
  std::string line = "Time/Date";
  for (int flag : flags) {
    if (flag != kColTime) line += "," + SavedHeading(flag);
  }
  return line;
}

std::string SaveText(const std::vector<common::LogRecordView>& rows,
                     const std::vector<int>& flags, const CellOptions& options) {
  std::string text = SavedHeadingLine(flags) + "\r\n";
  for (const common::LogRecordView& r : rows) text += RowCsv(r, flags, options) + "\r\n";
  return text;
}

std::string RecordIdentity(const common::LogRecordView& r) {
  return std::string(r.server) + '\\' + std::string(r.port) + '|' + std::to_string(r.time) + '.' + std::to_string(r.sequence) + '|' +
         std::to_string(r.kind);
}

std::vector<int> FindPlace(const std::vector<int>& rows, const common::LogRecordStore& records,
                           const LogPlace& place, int* topRow) {
  *topRow = -1;
  const std::unordered_set<std::string> selected(place.selected.begin(), place.selected.end());
  std::vector<int> found;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string identity = RecordIdentity(records[static_cast<std::size_t>(rows[i])]);
    if (identity == place.top) *topRow = static_cast<int>(i);
    if (selected.count(identity)) found.push_back(static_cast<int>(i));
  }
  return found;
}

}  // namespace pladmin
