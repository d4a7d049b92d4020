// Many session records held compactly, for the readers that keep a whole day
// (or several) to sort or show it: each record's numbers in place and its
// texts once per distinct text, so that a million records take tens of
// megabytes rather than the hundreds that as many LogRecords take.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/log_record.h"

namespace common {

// A stored record as its reader sees it: the fields of LogRecord, texts as
// views into the store (valid while the store lives and is not cleared).
// Made from a LogRecord too, so that code reading views reads either.
struct LogRecordView {
  LogRecordView() = default;
  LogRecordView(const LogRecord& r)  // NOLINT: a record reads as its view
      : server(r.server), port(r.port), user(r.user), ipx(r.ipx), netbios(r.netbios), info(r.info),
        time(r.time), sequence(r.sequence), duration(r.duration), kind(r.kind), address(r.address),
        reason(r.reason), bytesIn(r.bytesIn), bytesOut(r.bytesOut) {}

  std::string_view server, port, user, ipx, netbios, info;
  std::int64_t time = 0;
  int sequence = 0;
  std::uint32_t duration = 0;
  int kind = kRecordConnection;
  std::uint32_t address = 0;
  int reason = 0;
  std::int64_t bytesIn = -1;
  std::int64_t bytesOut = -1;

  LogRecord ToRecord() const;
};

// Not thread-safe: one writer, or readers only.
class LogRecordStore {
 public:
  void Add(const LogRecord& r);
  std::size_t size() const { return records_.size(); }
  bool empty() const { return records_.empty(); }
  LogRecordView operator[](std::size_t i) const;
  // What a sort by time needs alone.
  std::int64_t time(std::size_t i) const { return records_[i].time; }
  int sequence(std::size_t i) const { return records_[i].sequence; }
  // Moves a record's time (the console shows each server's own clock).
  void AddToTime(std::size_t i, std::int64_t seconds) { records_[i].time += seconds; }
  void clear();

 private:
  struct Stored {
    std::int64_t time, bytesIn, bytesOut;
    std::uint32_t duration, address;
    std::int32_t sequence, reason;
    std::uint32_t server, port, user, ipx, netbios, info;  // texts_ indexes
    std::int32_t kind;
  };
  std::uint32_t Intern(std::string_view text);

  std::vector<Stored> records_;
  std::deque<std::string> texts_;  // a deque: its strings never move, the index views them
  std::unordered_map<std::string_view, std::uint32_t> index_;
};

}  // namespace common
