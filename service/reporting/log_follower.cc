#include "service/reporting/log_follower.h"

#include <algorithm>

#include "platform/profile_text.h"
#include "platform/text.h"

namespace svc {

namespace {

// Whether `text` still shows what was read up to `p`.
bool Continues(std::string_view text, const LogPosition& p) {
  if (p.offset == 0) return true;
  if (p.offset > text.size() || p.lastLine.size() > p.offset) return false;
  return text.substr(p.offset - p.lastLine.size(), p.lastLine.size()) == p.lastLine;
}

// The offset just after line number `lines` (counted from 1), or npos when
// the text has fewer whole lines.
size_t AfterLine(std::string_view text, std::uint64_t lines) {
  size_t pos = 0;
  for (std::uint64_t n = 0; n < lines; ++n) {
    const size_t nl = text.find('\n', pos);
    if (nl == text.npos) return text.npos;
    pos = nl + 1;
  }
  return pos;
}

// Takes the whole lines of text[from, to) into `p`: their sections become
// known and the last one is the section at `to`. Returns what they parse to.
plat::ini::Profile Take(std::string_view text, size_t from, size_t to, LogPosition* p) {
  const std::string_view chunk = text.substr(from, to - from);
  plat::ini::Profile parsed = plat::ini::Parse(chunk);
  for (const plat::ini::Section& s : parsed.sections) {
    if (!s.hasHeader) continue;
    p->section = p->spellings.try_emplace(plat::ToLowerAscii(s.name), s.name).first->second;
  }
  p->lines += static_cast<std::uint64_t>(std::count(chunk.begin(), chunk.end(), '\n'));
  p->offset = to;
  if (to > from) {
    // `from` begins a line, so the last line begins at or after it.
    const size_t before = to >= 2 ? text.rfind('\n', to - 2) : text.npos;
    const size_t lineStart = before == text.npos ? 0 : before + 1;
    p->lastLine.assign(text.substr(lineStart, to - lineStart));
  }
  return parsed;
}

}  // namespace

std::vector<common::LogRecord> ReadNewRecords(std::string_view text, const LogPosition& from,
                                              LogPosition* to, bool* reread) {
  LogPosition p = from;
  if (reread) *reread = false;
  if (!Continues(text, p)) {
    // A rewrite moved the text: find the offset again by its line count.
    const size_t at = AfterLine(text, p.lines);
    if (at == text.npos) {
      p = LogPosition();
      if (reread) *reread = true;
    } else {
      p = LogPosition();
      Take(text, 0, at, &p);
    }
  }
  // Whole lines only: the last one may still be being written.
  const size_t end = text.rfind('\n');
  std::vector<common::LogRecord> records;
  if (end == text.npos || end + 1 <= p.offset) {
    *to = std::move(p);
    return records;
  }
  const std::string continued = p.section;
  const plat::ini::Profile parsed = Take(text, static_cast<size_t>(p.offset), end + 1, &p);
  for (const plat::ini::Section& s : parsed.sections) {
    std::string name = continued;
    if (s.hasHeader) name = p.spellings[plat::ToLowerAscii(s.name)];
    if (name.empty() || name[0] == '*') continue;  // as the full export reads the log
    for (const auto& [key, value] : plat::ini::Values(s)) {
      if (!key.empty() && key[0] == '*') continue;
      common::LogRecord r;
      if (common::ParseLogRecord(name, key, value, &r)) records.push_back(std::move(r));
    }
  }
  *to = std::move(p);
  return records;
}

}  // namespace svc
