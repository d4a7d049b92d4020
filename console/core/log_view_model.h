// The rows the log view shows: the indexes of the day's records that pass
// the tree's filter, their order after a click on a column heading, and the
// texts they give to the clipboard and to a saved file.
#pragma once

#include <string>
#include <vector>

#include "common/log_record.h"
#include "common/log_record_store.h"
#include "console/core/log_columns.h"

namespace pladmin {

// Compares the records behind two rows for the column `flag`, with the
// direction d (+1 or -1): numbers (time, action, reason, IP, lasted, bytes)
// larger first when d = +1, texts in case-insensitive order times d. Ports
// that both end in a non-zero number compare by that number (COM2 before
// COM10), others as text. Returns <0, 0 or >0; equal records give 0, so the
// comparison is a strict weak order whatever the data.
int CompareLogRecords(const common::LogRecordView& a, const common::LogRecordView& b, int flag, int d);

// The one sort direction shared by every log view: +1 at the start, negated
// after each sort. User-interface thread only.
int& SharedSortDirection();

// Sorts the rows (record indexes) by a column with the shared direction,
// then negates it. Stable: rows that compare equal keep their order.
void SortLogRows(std::vector<int>* rows, const common::LogRecordStore& records, int flag);
void SortLogRows(std::vector<int>* rows, const std::vector<common::LogRecord>& records, int flag);
// The same with a given direction, leaving the shared one alone (a refill
// that keeps the order the user chose).
void SortLogRows(std::vector<int>* rows, const common::LogRecordStore& records, int flag,
                 int direction);
void SortLogRows(std::vector<int>* rows, const std::vector<common::LogRecord>& records, int flag,
                 int direction);

// One CSV line of a row's cells for the displayed columns, each quoted as
// RFC 4180 asks when it holds a comma, a quote or a line end, an empty cell
// written as one blank; no line end.
std::string RowCsv(const common::LogRecordView& r, const std::vector<int>& flags,
                   const CellOptions& options);
// The clipboard's text of some rows: each cell followed by ",", each row
// ending with CR LF.
std::string CopyText(const std::vector<common::LogRecordView>& rows,
                     const std::vector<int>& flags, const CellOptions& options);
// The heading line of a saved file: "Time/Date" and ",<heading>" for each
// further displayed column.
std::string SavedHeadingLine(const std::vector<int>& flags);
// A whole saved file: the heading line, then one line per row; CR LF ends
// every line.
std::string SaveText(const std::vector<common::LogRecordView>& rows,
                     const std::vector<int>& flags, const CellOptions& options);

// A record by what it is (server, port, time with its sequence, kind), not
// by where it lies: a reload that adds records moves their indexes.
std::string RecordIdentity(const common::LogRecordView& r);

// Where the administrator is in the list: the record at the top and the
// selected ones. Taken before a reload, found again after it.
struct LogPlace {
  std::string top;
  std::vector<std::string> selected;
};
// The rows (indexes into `rows`) that show the place's records again:
// *topRow the top one (-1 when it is gone), the result the selected ones
// that remain, in row order.
std::vector<int> FindPlace(const std::vector<int>& rows, const common::LogRecordStore& records,
                           const LogPlace& place, int* topRow);

}  // namespace pladmin
