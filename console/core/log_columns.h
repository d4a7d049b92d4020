// The log view's columns and the texts of its cells: one bit per column (the
// bit's order is the columns' order), the headings of the list, the saved
// file and the printout, and the texts a record shows in each column.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/log_record.h"
#include "common/log_record_store.h"
#include "console/core/time_format.h"

namespace pladmin {

enum LogColumn : int {
  kColTime = 1,
  kColServer = 2,
  kColPort = 4,
  kColAction = 8,
  kColInfo = 16,
  kColUser = 32,
  kColIP = 64,
  kColNetBIOS = 128,
  kColIPX = 256,
  kColLasted = 512,
  kColBytesIn = 1024,
  kColBytesOut = 2048,
};
inline constexpr int kLogColumnCount = 12;
inline constexpr int kAllLogColumns = (1 << kLogColumnCount) - 1;

// The flags of the columns a mask shows, in column order; Time always.
// A mask of 0 or -1 means every column.
std::vector<int> DisplayedFlags(int mask);
// Headings: on screen and in the printout ("User Account", "IP Address"),
// and in a saved file ("User", "IP", "Information").
std::string ListHeading(int flag);
std::string SavedHeading(int flag);

// What the cells of a record read as.
struct CellOptions {
  bool timeFormatSeconds = false;  // durations as plain seconds
  bool dateInTime = false;         // the Time cell starts with the date (multi-day export)
  TimeFormat clock;                // the machine's 12- or 24-hour clock
};

// "Disconnect", "Connect", "Denied"; "" for a record of no known kind.
std::string ActionText(int kind);
// The call-back number of a connection, the reason text of a refusal or a
// hang-up.
std::string InfoText(const common::LogRecordView& r);
// Durations: "%d" seconds, or hours, '"', two-digit minutes, '\'' and two-digit seconds.
std::string LastedText(std::uint32_t seconds, bool inSeconds);
// Decimal with "," before every group of three digits; "" for -1 (unknown).
std::string GetDataText(std::int64_t bytes);
// The text of one cell; hang-up details only for hang-ups.
std::string CellText(const common::LogRecordView& r, int flag, const CellOptions& options);
// The row's image: 1 connection, 2 refusal, 0 forced disconnect, 3 normal
// hang-up; -1 for a record of no known kind.
int RecordImage(const common::LogRecordView& r);

}  // namespace pladmin
