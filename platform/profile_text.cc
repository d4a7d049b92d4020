#include "platform/profile_text.h"

#include <algorithm>
#include <optional>

#include "platform/errors.h"

namespace plat::ini {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

// A line break or NUL inside a name or value would split it across lines (or
// cut a NUL-separated list) and change the file's structure.
bool HasBreak(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos; }


// Sections with more keys than this get a hash index (a log section can hold
// one key per record); below it a scan is faster.
constexpr size_t kKeyIndexThreshold = 24;

}  // namespace

// The text between the first '[' and the last ']', so names holding brackets round-trip.
bool HeaderName(std::string_view line, std::string_view* name) {
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  if (line.empty() || line.front() != '[') return false;
  const size_t close = line.rfind(']');
  if (close == line.npos || close == 0) return false;
  *name = Trim(line.substr(1, close - 1));
  return true;
}

bool KeyLineParts(std::string_view line, std::string_view* name, std::string_view* value) {
  size_t b = 0;
  while (b < line.size() && IsBlank(line[b])) ++b;
  if (b == line.size() || line[b] == ';') return false;
  const size_t eq = line.find('=', b);
  if (eq == line.npos) return false;
  *name = Trim(line.substr(b, eq - b));
  *value = Trim(line.substr(eq + 1));
  return !name->empty();
}

std::string_view Unquoted(std::string_view value) { return Unquote(value); }

size_t CaseInsensitiveHash::operator()(std::string_view s) const {
  uint64_t h = 1469598103934665603ULL;
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    h = (h ^ ((u >= 'A' && u <= 'Z') ? u + 32 : u)) * 1099511628211ULL;
  }
  return static_cast<size_t>(h);
}

std::string_view Section::Value(const KeyLine& k) const {
  return Unquote(std::string_view(text).substr(k.valueOff, k.valueLen));
}

void Section::Parse() {
  keys.clear();
  keyIndex.clear();
  size_t pos = HeaderEnd();
  while (pos < text.size()) pos = ParseLine(pos);
  if (keys.size() > kKeyIndexThreshold) {
    BuildKeyIndex();
  } else {
    for (size_t i = 0; i < keys.size(); ++i) keys[i].first = !NamedBefore(i);
  }
}

bool Section::NamedBefore(size_t i) const {
  for (size_t j = 0; j < i; ++j) {
    if (keys[j].nameLen == keys[i].nameLen && EqualsIgnoringCase(KeyName(keys[j]), KeyName(keys[i]))) return true;
  }
  return false;
}

void Section::Reindex(size_t i) {
  KeyLine& k = keys[i];
  const std::string_view line = std::string_view(text).substr(k.line, k.lineEnd - k.line);
  k.nameOff = k.line;
  const std::string_view value = Trim(line.substr(k.nameLen + 1));
  k.valueOff = static_cast<uint32_t>(value.data() - text.data());
  k.valueLen = static_cast<uint32_t>(value.size());
}

void Section::AppendLine(std::string_view line) {
  const size_t pos = text.size();
  text.append(line);
  const size_t before = keys.size();
  ParseLine(pos);
  if (keys.size() == before) return;
  KeyLine& k = keys.back();
  if (!keyIndex.empty()) {
    k.first = keyIndex.try_emplace(std::string(KeyName(k)), static_cast<uint32_t>(keys.size() - 1)).second;
  } else if (keys.size() > kKeyIndexThreshold) {
    BuildKeyIndex();
  } else {
    k.first = !NamedBefore(keys.size() - 1);
  }
}

namespace {

// The key line at `pos` of `t` (its fields as offsets into `t`), when the
// line is one; *next receives the following line's start.
std::optional<KeyLine> KeyLineAt(std::string_view t, size_t pos, size_t* next) {
  const size_t nl = t.find('\n', pos);
  *next = nl == t.npos ? t.size() : nl + 1;
  size_t end = nl == t.npos ? t.size() : nl;
  if (end > pos && t[end - 1] == '\r') --end;
  std::string_view name, value;
  if (!KeyLineParts(t.substr(pos, end - pos), &name, &value)) return std::nullopt;
  return KeyLine{static_cast<uint32_t>(pos), static_cast<uint32_t>(end), static_cast<uint32_t>(*next),
                 static_cast<uint32_t>(name.data() - t.data()), static_cast<uint32_t>(name.size()),
                 static_cast<uint32_t>(value.data() - t.data()), static_cast<uint32_t>(value.size()), true};
}

// Whether the line at `pos` of `t` reads as a section header.
bool IsHeaderLine(std::string_view t, size_t pos) {
  size_t end = t.find('\n', pos);
  if (end == t.npos) end = t.size();
  if (end > pos && t[end - 1] == '\r') --end;
  std::string_view name;
  return HeaderName(t.substr(pos, end - pos), &name);
}

}  // namespace

// Indexes the line at `pos` when it is a key line; returns the next line's start.
size_t Section::ParseLine(size_t pos) {
  size_t next = 0;
  if (auto k = KeyLineAt(text, pos, &next)) keys.push_back(*k);
  return next;
}

void Section::BuildKeyIndex() {
  keyIndex.clear();
  keyIndex.reserve(keys.size());
  for (uint32_t i = 0; i < keys.size(); ++i) {
    keys[i].first = keyIndex.try_emplace(std::string(KeyName(keys[i])), i).second;
  }
}

void Profile::RebuildIndex() {
  index.clear();
  index.reserve(sections.size());
  duplicateSections = false;
  for (auto& s : sections) {
    s.parts.clear();
    s.partOfKey.clear();
  }
  for (uint32_t i = 0; i < sections.size(); ++i) {
    const Section& s = sections[i];
    if (!s.hasHeader || s.name.empty()) continue;
    auto [it, added] = index.try_emplace(s.name, i);
    if (added) continue;
    duplicateSections = true;
    Section& first = sections[it->second];
    if (first.parts.empty()) first.parts.push_back(it->second);
    first.parts.push_back(i);
  }
  for (auto& first : sections) {
    for (const uint32_t p : first.parts) {
      for (const auto& k : sections[p].keys) first.partOfKey.try_emplace(std::string(sections[p].KeyName(k)), p);
    }
  }
}

void Profile::RecomputeOffsets() {
  size = 0;
  for (auto& s : sections) {
    s.offset = size;
    size += s.text.size();
  }
}


Profile Parse(std::string_view text) {
  Profile d;
  const size_t firstNl = text.find('\n');
  if (firstNl != text.npos && firstNl > 0 && text[firstNl - 1] == '\r') d.eol = "\r\n";

  // The headers first, so that the sections are made in place once.
  std::vector<std::pair<size_t, std::string_view>> headers;  // line start, name
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t nl = text.find('\n', pos);
    const size_t next = nl == text.npos ? text.size() : nl + 1;
    std::string_view name;
    // Only lines that begin (after blanks) with '[' can be headers; skip the
    // rest without looking further.
    size_t b = pos;
    while (b < next && IsBlank(text[b])) ++b;
    if (b < next && text[b] == '[') {
      size_t end = nl == text.npos ? text.size() : nl;
      if (end > pos && text[end - 1] == '\r') --end;
      if (HeaderName(text.substr(pos, end - pos), &name)) headers.emplace_back(pos, name);
    }
    pos = next;
  }
  d.sections.reserve(headers.size() + 1);
  d.sections.emplace_back();
  size_t start = 0;  // start of the current section's text
  for (const auto& [at, name] : headers) {
    d.sections.back().text.assign(text.substr(start, at - start));
    Section& s = d.sections.emplace_back();
    s.name.assign(name);
    s.hasHeader = true;
    start = at;
  }
  d.sections.back().text.assign(text.substr(start));
  for (auto& s : d.sections) s.Parse();
  d.RebuildIndex();
  d.RecomputeOffsets();
  return d;
}

std::string Text(const Profile& d) {
  std::string text;
  text.reserve(static_cast<size_t>(d.size));
  for (const auto& s : d.sections) text += s.text;
  return text;
}

// -------------------------------------------------------------- changes

namespace {

// The last section that holds any text: the one the file ends with.
Section* LastSection(Profile& d) {
  for (size_t i = d.sections.size(); i-- > 0;) {
    if (!d.sections[i].text.empty()) return &d.sections[i];
  }
  return nullptr;
}

// A last line ending in a bare CR gets only the LF: a CRLF there would leave
// the CR in that line's value.
void EnsureEndsWithLineBreak(Profile& d, WritePlan& plan) {
  Section* s = LastSection(d);
  if (!s || s->text.back() == '\n') return;
  const std::string_view eol = s->text.back() == '\r' ? std::string_view("\n") : std::string_view(d.eol);
  plan.Put(d.size, eol);
  s->text += eol;
  d.size += eol.size();
  s->Parse();
}

// Adds a section holding one line at the end of the file; returns its index.
uint32_t AppendSection(Profile& d, std::string_view section, std::string_view line,
                       WritePlan& plan) {
  EnsureEndsWithLineBreak(d, plan);
  Section n;
  n.hasHeader = true;
  n.name.assign(section);
  n.text.reserve(section.size() + line.size() + 4);
  n.text.append("[").append(section).append("]").append(d.eol).append(line);
  n.Parse();
  n.offset = d.size;
  plan.Put(d.size, n.text);
  d.size += n.text.size();
  d.sections.push_back(std::move(n));
  return static_cast<uint32_t>(d.sections.size() - 1);
}

bool SetKey(Profile& d, std::string_view section, std::string_view key, std::string_view value,
            WritePlan& plan) {
  Section* s = d.Find(section);
  if (!s) {
    std::string line;
    line.append(key).append("=").append(value).append(d.eol);
    const uint32_t i = AppendSection(d, section, line, plan);
    d.index.try_emplace(std::string(section), i);
    return true;
  }
  if (const KeyLine* k = s->FindKey(key)) {
    // The line keeps the key's spelling in the file.
    std::string line;
    line.reserve(k->nameLen + 1 + value.size());
    line.append(s->KeyName(*k)).append("=").append(value);
    const size_t at = k->line, len = k->lineEnd - k->line;
    const std::string_view old = std::string_view(s->text).substr(at, len);
    if (old == line) return false;
    // In a large file a shorter line is padded with blanks, which reading
    // trims, so that it can be written where it stands; a small file costs
    // less to rewrite than to clutter.
    if (line.size() < len && old.substr(0, line.size()) == line && Trim(old.substr(line.size())).empty()) {
      return false;
    }
    if (line.size() < len && d.size >= kPadFileSize) line.append(len - line.size(), ' ');
    if (line.size() == len) {
      plan.Put(s->offset + at, line);
      s->text.replace(at, len, line);
      // Nothing moved: only this line's fields change, no need to parse the
      // section again (a large one, such as a counter per user, costs).
      s->Reindex(static_cast<size_t>(k - s->keys.data()));
      return true;
    }
    plan.Rewrite();
    s->text.replace(at, len, line);
  } else {
    const size_t at = s->keys.empty() ? s->HeaderEnd() : s->keys.back().next;
    std::string line;
    if (at == s->text.size() && !s->text.empty() && s->text.back() != '\n') line += d.eol;
    line.append(key).append("=").append(value).append(d.eol);
    if (s == LastSection(d) && at == s->text.size()) {
      plan.Put(d.size, line);
      d.size += line.size();
      if (s->parts.empty() && line.compare(0, d.eol.size(), d.eol) != 0) {
        s->AppendLine(line);
        return true;
      }
    } else {
      plan.Rewrite();
    }
    s->text.insert(at, line);
    s->Parse();
    // The first part now holds the key: the parts' index must say so.
    if (!s->parts.empty()) d.RebuildIndex();
    return true;
  }
  s->Parse();
  return true;
}

// Removes every line of the key in its section, so the key reads as missing
// afterwards even when the file held it twice.
bool DeleteKey(Profile& d, std::string_view section, std::string_view key, WritePlan& plan) {
  Section* s = d.Find(section);
  if (!s) return false;
  // One pass over the text: erasing line by line would move the rest of the
  // section once per line the key has.
  std::string kept;
  size_t from = 0;
  for (const KeyLine& k : s->keys) {
    if (k.nameLen == key.size() && EqualsIgnoringCase(s->KeyName(k), key)) {
      kept.append(s->text, from, k.line - from);
      from = k.next;
    }
  }
  if (from == 0) return false;
  kept.append(s->text, from);
  s->text = std::move(kept);
  plan.Rewrite();
  s->Parse();
  if (!s->parts.empty()) d.RebuildIndex();
  return true;
}

// A section spans its header and body up to its last key line; comments and
// blank lines after that usually introduce the next section and stay.
void RemoveSection(Profile& d, Section& s) {
  const size_t end = s.keys.empty() ? s.HeaderEnd() : s.keys.back().next;
  s.text.erase(0, end);
  s.hasHeader = false;
  s.name.clear();
  s.Parse();
  ++d.deadSections;
}

// Removes every section of that name (duplicates included).
bool DeleteSection(Profile& d, std::string_view section, WritePlan& plan) {
  auto it = d.index.find(section);
  if (it == d.index.end()) return false;
  plan.Rewrite();
  if (d.duplicateSections) {
    for (auto& s : d.sections) {
      if (s.hasHeader && EqualsIgnoringCase(s.name, section)) RemoveSection(d, s);
    }
  } else {
    RemoveSection(d, d.sections[it->second]);
  }
  d.index.erase(it);
  return true;
}

// Folds the leftovers of deleted sections into their predecessors so the
// section list does not grow without bound in a long-lived cache entry.
void Compact(Profile& d) {
  if (d.deadSections < 64 || d.deadSections * 2 < d.sections.size()) return;
  std::vector<Section> kept;
  kept.reserve(d.sections.size() - d.deadSections);
  // Each section that took up leftovers is parsed once, when it has them all.
  std::vector<bool> grown;
  for (auto& s : d.sections) {
    if (!kept.empty() && !s.hasHeader) {
      if (!s.text.empty()) {
        kept.back().text += s.text;
        grown.back() = true;
      }
      continue;
    }
    kept.push_back(std::move(s));
    grown.push_back(false);
  }
  for (size_t i = 0; i < kept.size(); ++i) {
    if (grown[i]) kept[i].Parse();
  }
  d.sections = std::move(kept);
  d.deadSections = 0;
  d.RebuildIndex();
}

}  // namespace

bool ApplyChange(Profile& d, const ProfileChange& c, WritePlan& plan) {
  if (c.key.empty()) return DeleteSection(d, c.section, plan);
  if (!c.value) return DeleteKey(d, c.section, c.key, plan);
  return SetKey(d, c.section, c.key, *c.value, plan);
}

// A record under a key no part of the section holds yet, at the end of the
// file: in the file's last section when that is a part of this one, else
// under a new header of the same name.
DWORD AppendRecord(Profile& d, std::string_view section, std::string_view key,
                   std::string_view value, WritePlan& plan) {
  auto it = d.index.find(section);
  const bool exists = it != d.index.end();
  uint32_t first = exists ? it->second : 0;
  if (exists) {
    const Section* part = nullptr;
    if (d.FindInParts(d.sections[first], key, &part)) return ERROR_ALREADY_EXISTS;
  }
  std::string line;
  line.append(key).append("=").append(value).append(d.eol);
  EnsureEndsWithLineBreak(d, plan);
  Section* last = LastSection(d);
  uint32_t part = 0;
  if (exists && last && last->hasHeader && EqualsIgnoringCase(last->name, section)) {
    part = static_cast<uint32_t>(last - d.sections.data());
    plan.Put(d.size, line);
    d.size += line.size();
    last->AppendLine(line);
  } else {
    part = AppendSection(d, section, line, plan);
    if (!exists) {
      d.index.try_emplace(std::string(section), part);
      return ERROR_SUCCESS;
    }
    d.duplicateSections = true;
    Section& head = d.sections[first];
    if (head.parts.empty()) {
      head.parts.push_back(first);
      for (const auto& k : head.keys) head.partOfKey.try_emplace(std::string(head.KeyName(k)), first);
    }
    head.parts.push_back(part);
  }
  Section& head = d.sections[first];
  if (!head.parts.empty()) head.partOfKey.try_emplace(std::string(key), part);
  return ERROR_SUCCESS;
}

DWORD ReplaceRecord(Profile& d, std::string_view section, std::string_view key,
                    std::string_view value, WritePlan& plan) {
  auto it = d.index.find(section);
  if (it == d.index.end()) return ERROR_FILE_NOT_FOUND;
  const Section* found = nullptr;
  if (!d.FindInParts(d.sections[it->second], key, &found)) return ERROR_FILE_NOT_FOUND;
  Section& part = d.sections[static_cast<size_t>(found - d.sections.data())];
  const KeyLine k = *part.FindKey(key);
  std::string line;
  line.append(part.KeyName(k)).append("=").append(value);
  const size_t len = k.lineEnd - k.line;
  if (line.size() < len && d.size >= kPadFileSize) line.append(len - line.size(), ' ');
  if (line.size() == len) {
    plan.Put(part.offset + k.line, line);
  } else {
    plan.Rewrite();
  }
  part.text.replace(k.line, len, line);
  part.Parse();
  return ERROR_SUCCESS;
}

DWORD Validate(const ProfileChange& in, ProfileChange* out) {
  const std::string_view section = Trim(in.section);
  if (section.empty() || HasBreak(section)) return ERROR_INVALID_PARAMETER;
  if (in.key.empty()) {  // deletes the section
    *out = ProfileChange{std::string(section), {}, std::nullopt};
    return ERROR_SUCCESS;
  }

  const std::string_view key = Trim(in.key);
  // A key beginning with ';' would be written as a comment, one beginning with
  // '[' could read as a header: neither could be read back.
  if (key.empty() || HasBreak(key) || key.find('=') != key.npos || key.front() == ';' ||
      key.front() == '[') {
    return ERROR_INVALID_PARAMETER;
  }
  if (in.value && HasBreak(*in.value)) return ERROR_INVALID_PARAMETER;
  *out = ProfileChange{std::string(section), std::string(key), in.value};
  return ERROR_SUCCESS;
}

DWORD ValidateRecord(std::string_view section, std::string_view key, std::string_view value,
                     ProfileChange* out) {
  if (key.empty()) return ERROR_INVALID_PARAMETER;
  return Validate(ProfileChange{std::string(section), std::string(key), std::string(value)}, out);
}

void FinishPlan(Profile& d, WritePlan& plan, uint64_t oldSize) {
  if (!plan.rewrite && !plan.writes.empty()) return;
  Compact(d);
  d.RecomputeOffsets();
  if (d.size > kOnePage || oldSize > kOnePage) {
    plan.Rewrite();
    return;
  }
  // A small file (the logged-in users, the status counters) is rewritten
  // where it stands: one write within one page, which a killed process
  // either makes whole or not at all, costs far less than a new file.
  std::string text = Text(d);
  if (text.size() < oldSize) {
    // A last line ending in a bare CR reads without it only at the very end:
    // followed by blanks it would keep it until the cut, so it gets its LF first.
    const size_t pad = oldSize - text.size();
    if (!text.empty() && text.back() == '\r') {
      text.push_back('\n');
      text.append(pad - 1, ' ');
    } else {
      text.append(pad - 1, ' ').push_back('\n');
    }
  }
  plan = WritePlan{};
  plan.valuesOnly = false;
  plan.Put(0, text);
}

// --------------------------------------------------- another writer's change

namespace {

// The section whose text holds byte `offset` of the file.
size_t SectionAt(const Profile& d, uint64_t offset) {
  auto it = std::upper_bound(d.sections.begin(), d.sections.end(), offset,
                             [](uint64_t off, const Section& s) { return off < s.offset; });
  size_t i = static_cast<size_t>(it - d.sections.begin());
  while (i > 0 && (d.sections[i - 1].text.empty() || d.sections[i - 1].offset + d.sections[i - 1].text.size() <= offset)) {
    --i;
  }
  return i > 0 ? i - 1 : 0;
}

// Calls `part(section index, offset in its text, length)` for each section
// that [offset, offset + length) of the file covers.
template <typename F>
void ForEachPart(const Profile& d, uint64_t offset, uint64_t length, F part) {
  for (size_t i = SectionAt(d, offset); length > 0 && i < d.sections.size(); ++i) {
    const Section& s = d.sections[i];
    if (s.text.empty() || offset >= s.offset + s.text.size()) continue;
    const uint64_t rel = offset - s.offset;
    const uint64_t n = std::min<uint64_t>(length, s.text.size() - rel);
    part(i, static_cast<size_t>(rel), static_cast<size_t>(n));
    offset += n;
    length -= n;
  }
}

// Whether one part of a patch keeps the section's structure: the header and
// every line break where they were, and no line turned into a header.
bool PatchKeepsStructure(const Section& s, size_t rel, std::string_view bytes) {
  if (s.hasHeader && rel < s.HeaderEnd()) return false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if ((bytes[i] == '\n') != (s.text[rel + i] == '\n')) return false;
  }
  for (size_t pos = 0; pos < bytes.size();) {
    if (IsHeaderLine(bytes, pos)) return false;
    const size_t nl = bytes.find('\n', pos);
    pos = nl == bytes.npos ? bytes.size() : nl + 1;
  }
  return true;
}

// Puts `bytes` (whole lines) at `rel` of the section and indexes those lines
// again; false when a key line appeared, went or changed its name, so the
// section was parsed afresh.
bool PatchSection(Section& s, size_t rel, std::string_view bytes) {
  auto byLine = [](const KeyLine& k, size_t pos) { return k.line < pos; };
  const size_t lo = static_cast<size_t>(std::lower_bound(s.keys.begin(), s.keys.end(), rel, byLine) - s.keys.begin());
  const size_t hi = static_cast<size_t>(
      std::lower_bound(s.keys.begin(), s.keys.end(), rel + bytes.size(), byLine) - s.keys.begin());
  std::vector<std::string> names;
  for (size_t i = lo; i < hi; ++i) names.emplace_back(s.KeyName(s.keys[i]));
  s.text.replace(rel, bytes.size(), bytes);
  size_t i = lo;
  for (size_t pos = rel, next = 0; pos < rel + bytes.size(); pos = next) {
    auto k = KeyLineAt(s.text, pos, &next);
    if (!k) continue;
    if (i >= hi || s.keys[i].line != pos || s.text.compare(k->nameOff, k->nameLen, names[i - lo]) != 0) {
      s.Parse();
      return false;
    }
    k->first = s.keys[i].first;
    s.keys[i++] = *k;
  }
  if (i == hi) return true;
  s.Parse();
  return false;
}

}  // namespace

std::vector<std::pair<uint64_t, uint64_t>> WholeLines(const Profile& d,
                                                      std::vector<std::pair<uint64_t, uint64_t>> ranges) {
  std::vector<std::pair<uint64_t, uint64_t>> lines;
  for (auto [begin, end] : ranges) {
    end = std::min(end, d.size);
    if (begin >= end) continue;
    const Section& first = d.sections[SectionAt(d, begin)];
    const size_t rel = static_cast<size_t>(begin - first.offset);
    const size_t nl = rel == 0 ? first.text.npos : first.text.rfind('\n', rel - 1);
    begin = first.offset + (nl == first.text.npos ? 0 : nl + 1);
    const Section& last = d.sections[SectionAt(d, end - 1)];
    const size_t after = last.text.find('\n', static_cast<size_t>(end - 1 - last.offset));
    end = last.offset + (after == last.text.npos ? last.text.size() : after + 1);
    lines.emplace_back(begin, end);
  }
  std::sort(lines.begin(), lines.end());
  std::vector<std::pair<uint64_t, uint64_t>> merged;
  for (const auto& r : lines) {
    if (!merged.empty() && r.first <= merged.back().second) {
      merged.back().second = std::max(merged.back().second, r.second);
    } else {
      merged.push_back(r);
    }
  }
  return merged;
}

bool PatchLines(Profile& d, const std::vector<std::pair<uint64_t, std::string>>& patches) {
  bool keeps = true;
  for (const auto& [offset, bytes] : patches) {
    if (offset + bytes.size() > d.size) return false;
    ForEachPart(d, offset, bytes.size(), [&](size_t i, size_t rel, size_t n) {
      const std::string_view part = std::string_view(bytes).substr(
          static_cast<size_t>(d.sections[i].offset + rel - offset), n);
      keeps = keeps && PatchKeepsStructure(d.sections[i], rel, part);
    });
  }
  if (!keeps) return false;
  bool reindex = false;
  for (const auto& [offset, bytes] : patches) {
    ForEachPart(d, offset, bytes.size(), [&](size_t i, size_t rel, size_t n) {
      const std::string_view part = std::string_view(bytes).substr(
          static_cast<size_t>(d.sections[i].offset + rel - offset), n);
      if (!PatchSection(d.sections[i], rel, part)) reindex = true;
    });
  }
  // A key that came or went in one part of a record section moves the parts' index.
  if (reindex && d.duplicateSections) d.RebuildIndex();
  return true;
}

bool CanAppendText(const Profile& d) {
  const Section* last = LastSection(const_cast<Profile&>(d));
  // A last line still open, or keys after a deleted section's leftovers,
  // would belong elsewhere than a parse of the whole file puts them.
  return last && last->text.back() == '\n' && (last->hasHeader || last == &d.sections[0]);
}

bool AppendText(Profile& d, std::string_view tail) {
  if (tail.empty()) return true;
  if (!CanAppendText(d)) return false;
  Section* last = LastSection(d);
  const uint32_t lastIndex = static_cast<uint32_t>(last - d.sections.data());
  Section* head = nullptr;
  if (last->hasHeader && !last->name.empty()) {
    if (auto it = d.index.find(last->name); it != d.index.end() && !d.sections[it->second].parts.empty()) {
      head = &d.sections[it->second];
    }
  }
  size_t pos = 0;
  while (pos < tail.size() && !IsHeaderLine(tail, pos)) {
    const size_t nl = tail.find('\n', pos);
    const size_t next = nl == tail.npos ? tail.size() : nl + 1;
    const size_t before = last->keys.size();
    last->AppendLine(tail.substr(pos, next - pos));
    if (head && last->keys.size() > before) {
      head->partOfKey.try_emplace(std::string(last->KeyName(last->keys.back())), lastIndex);
    }
    pos = next;
  }
  d.size += pos;
  while (pos < tail.size()) {
    size_t end = pos;  // the next header, or the end
    for (size_t next = pos; next < tail.size();) {
      const size_t nl = tail.find('\n', next);
      next = nl == tail.npos ? tail.size() : nl + 1;
      end = next;
      if (next < tail.size() && IsHeaderLine(tail, next)) break;
    }
    Section n;
    n.hasHeader = true;
    n.text.assign(tail.substr(pos, end - pos));
    std::string_view name;
    size_t lineEnd = n.text.find('\n');
    if (lineEnd == n.text.npos) lineEnd = n.text.size();
    if (lineEnd > 0 && n.text[lineEnd - 1] == '\r') --lineEnd;
    HeaderName(std::string_view(n.text).substr(0, lineEnd), &name);
    n.name.assign(name);
    n.Parse();
    n.offset = d.size;
    d.size += n.text.size();
    const uint32_t i = static_cast<uint32_t>(d.sections.size());
    d.sections.push_back(std::move(n));
    const Section& added = d.sections.back();
    if (!added.name.empty()) {
      auto [it, fresh] = d.index.try_emplace(added.name, i);
      if (!fresh) {
        d.duplicateSections = true;
        Section& first = d.sections[it->second];
        if (first.parts.empty()) {
          first.parts.push_back(it->second);
          for (const auto& k : first.keys) first.partOfKey.try_emplace(std::string(first.KeyName(k)), it->second);
        }
        first.parts.push_back(i);
        for (const auto& k : added.keys) first.partOfKey.try_emplace(std::string(added.KeyName(k)), i);
      }
    }
    pos = end;
  }
  return true;
}

// ----------------------------------------------------- record files' index

namespace {

// A key that is a number of seconds, optionally ".n": its two numbers, when
// no other spelling could name the same key (no leading zeros).
bool NumericKey(std::string_view key, uint64_t* second, uint32_t* sequence) {
  const size_t dot = key.find('.');
  const std::string_view whole = key.substr(0, dot);
  auto number = [](std::string_view digits, size_t maxDigits, uint64_t* out) {
    if (digits.empty() || digits.size() > maxDigits || (digits.size() > 1 && digits[0] == '0')) return false;
    uint64_t v = 0;
    for (const char c : digits) {
      if (c < '0' || c > '9') return false;
      v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    *out = v;
    return true;
  };
  if (!number(whole, 18, second)) return false;
  if (dot == key.npos) {
    *sequence = 0;
    return true;
  }
  uint64_t n = 0;
  if (!number(key.substr(dot + 1), 9, &n) || n == 0) return false;
  *sequence = static_cast<uint32_t>(n + 1);
  return true;
}

}  // namespace

RecordIndex RecordIndex::Build(std::string_view text) {
  RecordIndex index;
  index.Feed(text);
  index.Finish();
  return index;
}

void RecordIndex::Feed(std::string_view piece) {
  const size_t nl = piece.rfind('\n');
  if (nl == piece.npos) {
    carry_.append(piece);
    return;
  }
  if (!carry_.empty()) {
    carry_.append(piece.substr(0, nl + 1));
    Scan(carry_);
    carry_.clear();
  } else {
    Scan(piece.substr(0, nl + 1));
  }
  carry_.assign(piece.substr(nl + 1));
}

void RecordIndex::Finish() {
  if (!carry_.empty()) Scan(carry_);
  carry_.clear();
  carry_.shrink_to_fit();
  building_ = false;
  for (auto& keys : numbers_) {
    if (std::is_sorted(keys.begin(), keys.end())) continue;
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  }
}

uint32_t RecordIndex::SectionId(std::string_view name) {
  auto it = sections_.find(name);
  if (it == sections_.end()) {
    it = sections_.emplace(std::string(name), static_cast<uint32_t>(sections_.size())).first;
    numbers_.emplace_back();
  }
  return it->second;
}

// While Build scans, keys go to the end unsorted (it sorts once at the end);
// afterwards each goes to its place.
void RecordIndex::Insert(uint32_t section, std::string_view key) {
  Number n;
  if (!NumericKey(key, &n.second, &n.sequence)) {
    otherKeys_.try_emplace(std::to_string(section) + ":" + ToLowerAscii(key), true);
    return;
  }
  std::vector<Number>& keys = numbers_[section];
  if (keys.empty() || keys.back() < n || building_) {
    keys.push_back(n);
    return;
  }
  const auto at = std::lower_bound(keys.begin(), keys.end(), n);
  if (*at != n) keys.insert(at, n);
}

bool RecordIndex::Holds(std::string_view section, std::string_view key) const {
  auto it = sections_.find(Trim(section));
  if (it == sections_.end()) return false;
  key = Trim(key);
  Number n;
  if (!NumericKey(key, &n.second, &n.sequence)) {
    return otherKeys_.count(std::to_string(it->second) + ":" + ToLowerAscii(key)) != 0;
  }
  const std::vector<Number>& keys = numbers_[it->second];
  return std::binary_search(keys.begin(), keys.end(), n);
}

std::string RecordIndex::AppendBytes(std::string_view section, std::string_view key, std::string_view value) const {
  std::string out;
  // The open last line gets its line break, as EnsureEndsWithLineBreak gives it.
  if (size_ > 0 && lastByte_ != '\n') out += lastByte_ == '\r' ? std::string("\n") : eol_;
  const auto it = sections_.find(section);
  if (it == sections_.end() || current_ != static_cast<int64_t>(it->second)) {
    out.append("[").append(section).append("]").append(eol_);
  }
  out.append(key).append("=").append(value).append(eol_);
  return out;
}

bool RecordIndex::Append(std::string_view tail) {
  if (tail.empty()) return true;
  if (size_ > 0 && lastByte_ != '\n') {
    // Only the line break that closes the open last line leaves it as it read.
    const size_t close = tail[0] == '\n' ? 1 : tail.size() > 1 && tail[0] == '\r' && tail[1] == '\n' ? 2 : 0;
    if (close == 0) return false;
    size_ += close;
    lastByte_ = '\n';
    tail.remove_prefix(close);
  }
  Scan(tail);
  return true;
}

void RecordIndex::Scan(std::string_view text) {
  if (!eolKnown_) {
    const size_t nl = text.find('\n');
    if (nl != text.npos) {
      eolKnown_ = true;
      if (nl > 0 && text[nl - 1] == '\r') eol_ = "\r\n";
    }
  }
  for (size_t pos = 0, next = 0; pos < text.size(); pos = next) {
    size_t b = pos;
    while (b < text.size() && IsBlank(text[b])) ++b;
    if (b < text.size() && text[b] == '[') {
      size_t end = text.find('\n', pos);
      next = end == text.npos ? text.size() : end + 1;
      if (end == text.npos) end = text.size();
      if (end > pos && text[end - 1] == '\r') --end;
      std::string_view name;
      if (HeaderName(text.substr(pos, end - pos), &name)) {
        current_ = SectionId(name);
        continue;
      }
    }
    const auto k = KeyLineAt(text, pos, &next);
    if (k && current_ >= 0) Insert(static_cast<uint32_t>(current_), text.substr(k->nameOff, k->nameLen));
  }
  size_ += text.size();
  if (!text.empty()) lastByte_ = text.back();
}

// ------------------------------------------------------------------ reads

const Section* FindSection(const Profile& d, std::string_view section) { return d.Find(Trim(section)); }

std::optional<std::string> Lookup(const Profile& d, std::string_view section, std::string_view key) {
  const Section* s = FindSection(d, section);
  const KeyLine* k = s ? s->FindKey(Trim(key)) : nullptr;
  if (!k) return std::nullopt;
  return std::string(s->Value(*k));
}

std::vector<std::string> KeyNames(const Section& s) {
  std::vector<std::string> names;
  names.reserve(s.keys.size());
  for (const auto& k : s.keys) {
    if (k.first) names.emplace_back(s.KeyName(k));
  }
  return names;
}

std::vector<std::pair<std::string, std::string>> Values(const Section& s) {
  std::vector<std::pair<std::string, std::string>> pairs;
  pairs.reserve(s.keys.size());
  for (const auto& k : s.keys) {
    if (k.first) pairs.emplace_back(s.KeyName(k), s.Value(k));
  }
  return pairs;
}

std::vector<std::string> SectionNames(const Profile& d) {
  std::vector<std::string> names;
  names.reserve(d.index.size());
  for (uint32_t i = 0; i < d.sections.size(); ++i) {
    const Section& s = d.sections[i];
    if (!s.hasHeader || s.name.empty()) continue;
    auto it = d.index.find(s.name);
    if (it != d.index.end() && it->second == i) names.push_back(s.name);
  }
  return names;
}

std::vector<ProfileSectionData> ReadAll(const Profile& d) {
  std::vector<ProfileSectionData> out;
  for (auto& name : SectionNames(d)) {
    std::vector<std::pair<std::string, std::string>> values = Values(*d.Find(name));
    out.push_back(ProfileSectionData{std::move(name), std::move(values)});
  }
  return out;
}

bool RecordExists(const Profile& d, std::string_view section, std::string_view key) {
  const Section* s = FindSection(d, section);
  const Section* part = nullptr;
  return s && d.FindInParts(*s, Trim(key), &part) != nullptr;
}

std::optional<std::vector<std::pair<std::string, std::string>>> ReadRecords(
    const Profile& d, std::string_view section) {
  const Section* s = FindSection(d, section);
  if (!s) return std::nullopt;
  if (s->parts.empty()) return Values(*s);
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const uint32_t p : s->parts) {
    const Section& part = d.sections[p];
    for (const auto& k : part.keys) {
      // The first occurrence of each key is the one the parts' index names.
      auto it = s->partOfKey.find(part.KeyName(k));
      if (k.first && it != s->partOfKey.end() && it->second == p) {
        pairs.emplace_back(part.KeyName(k), part.Value(k));
      }
    }
  }
  return pairs;
}

}  // namespace plat::ini
