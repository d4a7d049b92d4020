#include "common/log_record_store.h"

namespace common {

LogRecord LogRecordView::ToRecord() const {
  LogRecord r;
  r.server = server;
  r.port = port;
  r.user = user;
  r.ipx = ipx;
  r.netbios = netbios;
  r.info = info;
  r.time = time;
  r.sequence = sequence;
  r.duration = duration;
  r.kind = kind;
  r.address = address;
  r.reason = reason;
  r.bytesIn = bytesIn;
  r.bytesOut = bytesOut;
  return r;
}

std::uint32_t LogRecordStore::Intern(std::string_view text) {
  if (auto it = index_.find(text); it != index_.end()) return it->second;
  const auto id = static_cast<std::uint32_t>(texts_.size());
  index_.emplace(texts_.emplace_back(text), id);
  return id;
}

void LogRecordStore::Add(const LogRecord& r) {
  records_.push_back(Stored{r.time, r.bytesIn, r.bytesOut, r.duration, r.address, r.sequence, r.reason,
                            Intern(r.server), Intern(r.port), Intern(r.user), Intern(r.ipx),
                            Intern(r.netbios), Intern(r.info), r.kind});
}

LogRecordView LogRecordStore::operator[](std::size_t i) const {
  const Stored& s = records_[i];
  LogRecordView v;
  v.server = texts_[s.server];
  v.port = texts_[s.port];
  v.user = texts_[s.user];
  v.ipx = texts_[s.ipx];
  v.netbios = texts_[s.netbios];
  v.info = texts_[s.info];
  v.time = s.time;
  v.sequence = s.sequence;
  v.duration = s.duration;
  v.kind = s.kind;
  v.address = s.address;
  v.reason = s.reason;
  v.bytesIn = s.bytesIn;
  v.bytesOut = s.bytesOut;
  return v;
}

void LogRecordStore::clear() {
  records_.clear();
  index_.clear();
  texts_.clear();
}

}  // namespace common
