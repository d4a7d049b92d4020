#include "platform/profile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <limits.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "platform/errors.h"
#include "platform/path.h"
#include "platform/posix_fd.h"
#include "platform/request_scope.h"

namespace plat {

namespace {

// ------------------------------------------------------------------ text

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

struct CaseInsensitiveHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const {
    uint64_t h = 1469598103934665603ULL;
    for (const char c : s) {
      const auto u = static_cast<unsigned char>(c);
      h = (h ^ ((u >= 'A' && u <= 'Z') ? u + 32 : u)) * 1099511628211ULL;
    }
    return static_cast<size_t>(h);
  }
};

struct CaseInsensitiveEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return EqualsIgnoringCase(a, b); }
};

// Name -> position of its first occurrence.
using NameIndex = std::unordered_map<std::string, uint32_t, CaseInsensitiveHash, CaseInsensitiveEqual>;

// The header name of a line, when the line is a section header: the text
// between the first '[' and the last ']', so names holding brackets round-trip.
bool ParseHeader(std::string_view line, std::string_view* name) {
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  if (line.empty() || line.front() != '[') return false;
  const size_t close = line.rfind(']');
  if (close == line.npos || close == 0) return false;
  *name = Trim(line.substr(1, close - 1));
  return true;
}

// ------------------------------------------------------------- the model
//
// A file is a list of sections, each holding its lines verbatim (line endings
// included), so a write re-parses only the section it touches and saving is a
// concatenation. Key lines are indexed by offsets into the section's text.

struct KeyLine {
  uint32_t line;     // start of the line
  uint32_t lineEnd;  // end of its content, before the line break
  uint32_t next;     // start of the following line
  uint32_t nameOff, nameLen;    // trimmed key name
  uint32_t valueOff, valueLen;  // trimmed value, quotes still on
  bool first;                   // no earlier line of the section has this key
};

// Sections with more keys than this get a hash index (a log section can hold
// one key per record); below it a scan is faster.
constexpr size_t kKeyIndexThreshold = 24;

struct Section {
  std::string text;
  std::string name;        // as written in the header
  bool hasHeader = false;  // false for the lines before the first header and for deleted sections
  std::vector<KeyLine> keys;
  NameIndex keyIndex;  // only for large sections
  uint64_t offset = 0;  // where `text` starts in the file
  // A section whose name comes again further down (a record file appends
  // that way): on its first part, the index of every part in file order and
  // each key's first part. Ordinary reads see the first part only.
  std::vector<uint32_t> parts;
  NameIndex partOfKey;

  std::string_view KeyName(const KeyLine& k) const {
    return std::string_view(text).substr(k.nameOff, k.nameLen);
  }
  std::string_view Value(const KeyLine& k) const {
    return Unquote(std::string_view(text).substr(k.valueOff, k.valueLen));
  }
  size_t HeaderEnd() const {
    if (!hasHeader) return 0;
    const size_t nl = text.find('\n');
    return nl == text.npos ? text.size() : nl + 1;
  }

  const KeyLine* FindKey(std::string_view key) const {
    if (!keyIndex.empty()) {
      auto it = keyIndex.find(key);
      return it == keyIndex.end() ? nullptr : &keys[it->second];
    }
    for (const auto& k : keys) {
      if (k.nameLen == key.size() && EqualsIgnoringCase(KeyName(k), key)) return &k;
    }
    return nullptr;
  }

  // Rebuilds the key table from `text`.
  void Parse() {
    keys.clear();
    keyIndex.clear();
    size_t pos = HeaderEnd();
    while (pos < text.size()) pos = ParseLine(pos);
    if (keys.size() > kKeyIndexThreshold) {
      BuildKeyIndex();
    } else {
      for (size_t i = 0; i < keys.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
          if (keys[j].nameLen == keys[i].nameLen &&
              EqualsIgnoringCase(KeyName(keys[j]), KeyName(keys[i]))) {
            keys[i].first = false;
            break;
          }
        }
      }
    }
  }

  // Reads the fields of key line `i` again after its line was replaced by one
  // of the same length ("name=value", padded), its name unchanged.
  void Reindex(size_t i) {
    KeyLine& k = keys[i];
    const std::string_view line = std::string_view(text).substr(k.line, k.lineEnd - k.line);
    k.nameOff = k.line;
    const std::string_view value = Trim(line.substr(k.nameLen + 1));
    k.valueOff = static_cast<uint32_t>(value.data() - text.data());
    k.valueLen = static_cast<uint32_t>(value.size());
  }

  // Adds `line` (ending in a line break) to the end of the text and indexes
  // it, without parsing the rest again.
  void AppendLine(std::string_view line) {
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
      k.first = true;
      for (size_t j = 0; j + 1 < keys.size(); ++j) {
        if (keys[j].nameLen == k.nameLen && EqualsIgnoringCase(KeyName(keys[j]), KeyName(k))) {
          k.first = false;
          break;
        }
      }
    }
  }

 private:
  // Indexes the line at `pos` when it is a key line; returns the next line's start.
  size_t ParseLine(size_t pos) {
    const std::string_view t(text);
    const size_t nl = t.find('\n', pos);
    const size_t next = nl == t.npos ? t.size() : nl + 1;
    size_t end = nl == t.npos ? t.size() : nl;
    if (end > pos && t[end - 1] == '\r') --end;
    size_t b = pos;
    while (b < end && IsBlank(t[b])) ++b;
    if (b < end && t[b] != ';') {
      const size_t eq = t.find('=', b);
      if (eq < end) {
        const std::string_view name = Trim(t.substr(b, eq - b));
        const std::string_view value = Trim(t.substr(eq + 1, end - eq - 1));
        if (!name.empty()) {
          keys.push_back(KeyLine{static_cast<uint32_t>(pos), static_cast<uint32_t>(end),
                                 static_cast<uint32_t>(next),
                                 static_cast<uint32_t>(name.data() - t.data()),
                                 static_cast<uint32_t>(name.size()),
                                 static_cast<uint32_t>(value.data() - t.data()),
                                 static_cast<uint32_t>(value.size()), true});
        }
      }
    }
    return next;
  }

  void BuildKeyIndex() {
    keyIndex.clear();
    keyIndex.reserve(keys.size());
    for (uint32_t i = 0; i < keys.size(); ++i) {
      keys[i].first = keyIndex.try_emplace(std::string(KeyName(keys[i])), i).second;
    }
  }
};

// Lets a writer of this process change cached data in place only while no
// reader of this process is looking at it. A copy of the data gets a gate of
// its own.
struct ReaderGate {
  ReaderGate() = default;
  ReaderGate(const ReaderGate&) {}
  ReaderGate& operator=(const ReaderGate&) { return *this; }
  mutable std::shared_mutex mutex;  // shared: readers; exclusive: an in-place change
};

struct ProfileData {
  ReaderGate gate;
  std::vector<Section> sections;  // [0] holds the lines before the first header
  NameIndex index;                // first live section of each name
  std::string eol = "\n";         // line ending for lines we add: the file's own
  bool duplicateSections = false;
  size_t deadSections = 0;
  uint64_t size = 0;              // of the file: every section's text

  const Section* Find(std::string_view name) const {
    auto it = index.find(name);
    return it == index.end() ? nullptr : &sections[it->second];
  }
  Section* Find(std::string_view name) {
    auto it = index.find(name);
    return it == index.end() ? nullptr : &sections[it->second];
  }

  // The key line of `key` in any part of the section that `first` begins,
  // with the part that holds it.
  const KeyLine* FindInParts(const Section& first, std::string_view key, const Section** part) const {
    if (first.parts.empty()) {
      *part = &first;
      return first.FindKey(key);
    }
    auto it = first.partOfKey.find(key);
    if (it == first.partOfKey.end()) return nullptr;
    *part = &sections[it->second];
    return (*part)->FindKey(key);
  }

  void RebuildIndex() {
    index.clear();
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

  void RecomputeOffsets() {
    size = 0;
    for (auto& s : sections) {
      s.offset = size;
      size += s.text.size();
    }
  }
};

ProfileData ParseProfile(std::string_view text) {
  ProfileData d;
  const size_t firstNl = text.find('\n');
  if (firstNl != text.npos && firstNl > 0 && text[firstNl - 1] == '\r') d.eol = "\r\n";

  d.sections.emplace_back();
  size_t start = 0;  // start of the current section's text
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
      if (ParseHeader(text.substr(pos, end - pos), &name)) {
        d.sections.back().text.assign(text.substr(start, pos - start));
        Section s;
        s.name.assign(name);
        s.hasHeader = true;
        d.sections.push_back(std::move(s));
        start = pos;
      }
    }
    pos = next;
  }
  d.sections.back().text.assign(text.substr(start));
  for (auto& s : d.sections) s.Parse();
  d.RebuildIndex();
  d.RecomputeOffsets();
  return d;
}


// -------------------------------------------------------------- changes

// Changes arrive validated, with names trimmed.
//
// A change records how the file must be written: most changes to a file that
// is already large either replace a line by one of the same length (a counter
// that keeps its width) or add lines at the very end (a new record). Those go
// to the file where they stand; anything else rewrites the whole file.
struct WritePlan {
  bool rewrite = false;
  // Bytes to put at an offset: in place of as many bytes, or at the old end.
  std::vector<std::pair<uint64_t, std::string>> writes;

  void Rewrite() {
    rewrite = true;
    writes.clear();
  }
  void Put(uint64_t offset, std::string_view bytes) {
    if (!rewrite) writes.emplace_back(offset, std::string(bytes));
  }
};

// A write of at most this many bytes at offset 0 stays within one page: a
// process killed during it has written all of it or none.
constexpr uint64_t kOnePage = 4096;

// Files from this size on have shorter values padded to be written in place.
constexpr uint64_t kPadFileSize = 64 * 1024;

// The last section that holds any text: the one the file ends with.
Section* LastSection(ProfileData& d) {
  for (size_t i = d.sections.size(); i-- > 0;) {
    if (!d.sections[i].text.empty()) return &d.sections[i];
  }
  return nullptr;
}

// A last line ending in a bare CR gets only the LF: a CRLF there would leave
// the CR in that line's value.
void EnsureEndsWithLineBreak(ProfileData& d, WritePlan& plan) {
  Section* s = LastSection(d);
  if (!s || s->text.back() == '\n') return;
  const std::string_view eol = s->text.back() == '\r' ? std::string_view("\n") : std::string_view(d.eol);
  plan.Put(d.size, eol);
  s->text += eol;
  d.size += eol.size();
  s->Parse();
}

// Adds a section holding one line at the end of the file; returns its index.
uint32_t AppendSection(ProfileData& d, std::string_view section, std::string_view line,
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

bool SetKey(ProfileData& d, std::string_view section, std::string_view key, std::string_view value,
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
bool DeleteKey(ProfileData& d, std::string_view section, std::string_view key, WritePlan& plan) {
  Section* s = d.Find(section);
  if (!s) return false;
  bool changed = false;
  for (size_t i = s->keys.size(); i-- > 0;) {
    const KeyLine& k = s->keys[i];
    if (k.nameLen == key.size() && EqualsIgnoringCase(s->KeyName(k), key)) {
      s->text.erase(k.line, k.next - k.line);
      changed = true;
    }
  }
  if (changed) {
    plan.Rewrite();
    s->Parse();
    if (!s->parts.empty()) d.RebuildIndex();
  }
  return changed;
}

// A section spans its header and body up to its last key line; comments and
// blank lines after that usually introduce the next section and stay.
void RemoveSection(ProfileData& d, Section& s) {
  const size_t end = s.keys.empty() ? s.HeaderEnd() : s.keys.back().next;
  s.text.erase(0, end);
  s.hasHeader = false;
  s.name.clear();
  s.Parse();
  ++d.deadSections;
}

// Removes every section of that name (duplicates included).
bool DeleteSection(ProfileData& d, std::string_view section, WritePlan& plan) {
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
void Compact(ProfileData& d) {
  if (d.deadSections < 64 || d.deadSections * 2 < d.sections.size()) return;
  std::vector<Section> kept;
  kept.reserve(d.sections.size() - d.deadSections);
  for (auto& s : d.sections) {
    if (!kept.empty() && !s.hasHeader) {
      if (!s.text.empty()) {
        kept.back().text += s.text;
        kept.back().Parse();
      }
      continue;
    }
    kept.push_back(std::move(s));
  }
  d.sections = std::move(kept);
  d.deadSections = 0;
  d.RebuildIndex();
}

bool ApplyChange(ProfileData& d, const ProfileChange& c, WritePlan& plan) {
  if (c.key.empty()) return DeleteSection(d, c.section, plan);
  if (!c.value) return DeleteKey(d, c.section, c.key, plan);
  return SetKey(d, c.section, c.key, *c.value, plan);
}

// A record under a key no part of the section holds yet, at the end of the
// file: in the file's last section when that is a part of this one, else
// under a new header of the same name.
DWORD AppendRecord(ProfileData& d, std::string_view section, std::string_view key,
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

// Replaces the value of a key in whichever part of the section holds it.
DWORD ReplaceRecord(ProfileData& d, std::string_view section, std::string_view key,
                    std::string_view value, WritePlan& plan, bool* changed) {
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
  *changed = true;
  return ERROR_SUCCESS;
}

// Checks a change and trims its names as reading trims them.
DWORD Validate(const ProfileChange& in, ProfileChange* out) {
  const std::string_view section = Trim(in.section);
  if (section.empty() || HasBreak(section)) return ERROR_INVALID_PARAMETER;
  out->section.assign(section);
  out->key.clear();
  out->value.reset();
  if (in.key.empty()) return ERROR_SUCCESS;  // deletes the section

  const std::string_view key = Trim(in.key);
  // A key beginning with ';' would be written as a comment, one beginning with
  // '[' could read as a header: neither could be read back.
  if (key.empty() || HasBreak(key) || key.find('=') != key.npos || key.front() == ';' ||
      key.front() == '[') {
    return ERROR_INVALID_PARAMETER;
  }
  if (in.value && HasBreak(*in.value)) return ERROR_INVALID_PARAMETER;
  out->key.assign(key);
  out->value = in.value;
  return ERROR_SUCCESS;
}

// ------------------------------------------------------------ file level

using posix::UniqueFd;


using posix::FileIdentity;
using posix::IdentityOf;

// Parsed files of this process. Each entry keeps its file open: an inode
// number cannot be reused while the inode is open, so (device, inode) never
// names two different versions of a file even when both have the same size
// and a coarse modification time.
class ParseCache {
 public:
  struct Entry {
    FileIdentity id;
    std::shared_ptr<ProfileData> data;
    UniqueFd pin;
    uint64_t lastUse = 0;
  };

  // The data of version `id`. Another version found is dropped when `dropStale`
  // (the caller has just looked at the file) and kept otherwise.
  std::shared_ptr<const ProfileData> Find(const std::string& path, const FileIdentity& id,
                                          bool dropStale = true) {
    Entry stale;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(path);
    if (it == entries_.end()) return nullptr;
    if (it->second.id == id) {
      it->second.lastUse = ++clock_;
      return it->second.data;
    }
    if (dropStale) stale = Remove(it);
    return nullptr;  // `stale` is destroyed after the mutex is released
  }

  void Drop(const std::string& path) {
    scope::Forget(path);
    Entry gone;
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = entries_.find(path); it != entries_.end()) gone = Remove(it);
  }

  // Removes the entry of `path`; true, with the entry in `*out`, when it still
  // describes the file, so a writer can change the data in place.
  bool Take(const std::string& path, const FileIdentity& id, Entry* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(path);
    if (it == entries_.end()) return false;
    const bool current = it->second.id == id;
    *out = Remove(it);
    return current;
  }

  void Put(const std::string& path, Entry entry) {
    scope::NoteIdentity(path, entry.id);
    std::vector<Entry> evicted;
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = entries_.find(path); it != entries_.end()) evicted.push_back(Remove(it));
    entry.lastUse = ++clock_;
    bytes_ += static_cast<uint64_t>(entry.id.size);
    entries_.insert_or_assign(path, std::move(entry));
    while (entries_.size() > 1 && (entries_.size() > kMaxEntries || bytes_ > kMaxBytes)) {
      auto oldest = entries_.begin();
      for (auto i = entries_.begin(); i != entries_.end(); ++i) {
        if (i->second.lastUse < oldest->second.lastUse) oldest = i;
      }
      evicted.push_back(Remove(oldest));
    }
  }

 private:
  static constexpr size_t kMaxEntries = 48;
  static constexpr uint64_t kMaxBytes = 96ull << 20;

  Entry Remove(std::unordered_map<std::string, Entry>::iterator it) {
    Entry e = std::move(it->second);
    bytes_ -= static_cast<uint64_t>(e.id.size);
    entries_.erase(it);
    return e;
  }

  std::mutex mutex_;  // guards entries_, clock_ and bytes_
  std::unordered_map<std::string, Entry> entries_;
  uint64_t clock_ = 0;
  uint64_t bytes_ = 0;
};

ParseCache& Cache() {
  static ParseCache cache;
  return cache;
}


// Parses the file open on `fd`, whose status is `st`. ERROR_READ_FAULT when it
// changed while being read (a writer that does not replace files).
DWORD ParseOpenFile(int fd, const struct stat& st, std::shared_ptr<ProfileData>* out) {
  std::string text;
  if (DWORD err = posix::ReadToEnd(fd, &text, static_cast<size_t>(st.st_size)); err != ERROR_SUCCESS) {
    return err;
  }
  struct stat after;
  if (::fstat(fd, &after) != 0) return ErrorFromErrno(errno);
  if (static_cast<off_t>(text.size()) != st.st_size || !(IdentityOf(after) == IdentityOf(st))) {
    return ERROR_READ_FAULT;
  }
  *out = std::make_shared<ProfileData>(ParseProfile(text));
  return ERROR_SUCCESS;
}

// The profile as the file holds it now; ERROR_FILE_NOT_FOUND when missing.
DWORD LoadProfile(const std::string& host, std::shared_ptr<const ProfileData>* out) {
  if (FileIdentity seen; scope::FindIdentity(host, &seen)) {
    if (auto cached = Cache().Find(host, seen, false)) {
      *out = std::move(cached);
      return ERROR_SUCCESS;
    }
  }
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) {
    const int e = errno;
    Cache().Drop(host);  // releases a deleted file the cache still holds open
    return ErrorFromErrno(e);
  }
  if (!S_ISREG(st.st_mode)) return ERROR_FILE_NOT_FOUND;
  if (auto cached = Cache().Find(host, IdentityOf(st))) {
    scope::NoteIdentity(host, IdentityOf(st));
    *out = std::move(cached);
    return ERROR_SUCCESS;
  }
  DWORD err = ERROR_READ_FAULT;
  for (int attempt = 0; attempt < 5; ++attempt) {
    UniqueFd fd(::open(host.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return ErrorFromErrno(errno);
    // Writers change lines in place under their exclusive lock: reading under
    // a shared one never sees half of such a change.
    while (::flock(fd.get(), LOCK_SH) != 0) {
      if (errno != EINTR) return ErrorFromErrno(errno);
    }
    if (::fstat(fd.get(), &st) != 0) return ErrorFromErrno(errno);
    const FileIdentity id = IdentityOf(st);
    if (auto cached = Cache().Find(host, id)) {
      scope::NoteIdentity(host, id);
      *out = std::move(cached);
      return ERROR_SUCCESS;
    }
    std::shared_ptr<ProfileData> data;
    err = ParseOpenFile(fd.get(), st, &data);
    if (err == ERROR_READ_FAULT) continue;
    if (err != ERROR_SUCCESS) return err;
    ::flock(fd.get(), LOCK_UN);
    Cache().Put(host, ParseCache::Entry{id, data, std::move(fd), 0});
    *out = std::move(data);
    return ERROR_SUCCESS;
  }
  return err;
}

// The exclusive lock of a profile file, shared by all processes: flock on the
// file itself. Held for exactly one read-modify-write.
class FileLock {
 public:
  // Locks the file that `host` names, creating it when `create` (then
  // `*created` tells whether this call made it); `*held` is then its status.
  DWORD Acquire(const std::string& host, bool create, bool* created, struct stat* held) {
    for (;;) {
      *created = false;
      // Most writes go to files that exist: those cost one open.
      int raw = ::open(host.c_str(), O_RDWR | O_CLOEXEC);
      if (raw < 0 && errno == ENOENT && create) {
        raw = posix::OpenPrivate(host, O_RDWR | O_CREAT | O_EXCL);
        if (raw >= 0) {
          *created = true;
        } else if (errno == EEXIST) {
          continue;  // created meanwhile
        } else if (errno == ENOENT) {
          return ERROR_PATH_NOT_FOUND;  // the folder is missing
        }
      }
      if (raw < 0) return ErrorFromErrno(errno);
      fd_ = UniqueFd(raw);
      while (::flock(fd_.get(), LOCK_EX) != 0) {
        if (errno != EINTR) return ErrorFromErrno(errno);
      }
      // Another writer may have renamed a new file over the one we locked.
      struct stat named;
      if (::fstat(fd_.get(), held) != 0) return ErrorFromErrno(errno);
      if (::stat(host.c_str(), &named) == 0 && held->st_dev == named.st_dev &&
          held->st_ino == named.st_ino) {
        if (!*created) posix::KeepPrivate(fd_.get(), *held);
        return ERROR_SUCCESS;
      }
      fd_.reset();
    }
  }
  int fd() const { return fd_.get(); }

 private:
  UniqueFd fd_;  // closing it releases the lock
};


// Writes the sections' texts in order, straight from where they lie: no copy
// of the whole file is made on the way.
DWORD WriteSections(int fd, const ProfileData& data) {
  std::vector<iovec> pending;
  pending.reserve(std::min<size_t>(data.sections.size(), IOV_MAX));
  auto flush = [&]() -> DWORD {
    size_t first = 0;
    while (first < pending.size()) {
      const int count = static_cast<int>(std::min<size_t>(pending.size() - first, IOV_MAX));
      const ssize_t n = ::writev(fd, pending.data() + first, count);
      if (n < 0) {
        if (errno == EINTR) continue;
        return ErrorFromErrno(errno);
      }
      // Skip what was written; a short write leaves part of one buffer.
      size_t done = static_cast<size_t>(n);
      while (first < pending.size() && done >= pending[first].iov_len) done -= pending[first++].iov_len;
      if (first < pending.size()) {
        pending[first].iov_base = static_cast<char*>(pending[first].iov_base) + done;
        pending[first].iov_len -= done;
      }
    }
    pending.clear();
    return ERROR_SUCCESS;
  };
  for (const auto& section : data.sections) {
    if (section.text.empty()) continue;
    pending.push_back(iovec{const_cast<char*>(section.text.data()), section.text.size()});
    if (pending.size() == IOV_MAX) {
      if (DWORD err = flush(); err != ERROR_SUCCESS) return err;
    }
  }
  return flush();
}

// Puts the new file `temp` in place of `host` atomically. Exchanging the two
// names and then removing the old file is what readers see as a rename, but
// spares the file system the early write-back it starts when a rename
// replaces a file (about a millisecond for a file of a few megabytes). Where
// the exchange is not supported, a plain rename does the same job.
DWORD SwapIntoPlace(const std::string& temp, const std::string& host) {
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, host.c_str(), RENAME_EXCHANGE) == 0) {
    ::unlink(temp.c_str());  // now the old contents
    return ERROR_SUCCESS;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOENT && errno != ENOTSUP) {
    return ErrorFromErrno(errno);
  }
  return ::rename(temp.c_str(), host.c_str()) == 0 ? ERROR_SUCCESS : ErrorFromErrno(errno);
}

// The temporary file a writer replaces `host` through: its process and
// thread in the name, so that one left by a killed writer can be told apart.
std::string TemporaryName(const std::string& host) {
  return host + ".~" + std::to_string(::getpid()) + "-" + std::to_string(::gettid());
}

// The writer's process of a temporary name "<file>.~<pid>-<tid>"; 0 when the
// name is none.
pid_t TemporaryWriter(std::string_view name) {
  const size_t mark = name.rfind(".~");
  if (mark == std::string_view::npos) return 0;
  const std::string_view tail = name.substr(mark + 2);
  const size_t dash = tail.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash + 1 == tail.size()) return 0;
  long long pid = 0;
  for (size_t i = 0; i < tail.size(); ++i) {
    if (i == dash) continue;
    if (tail[i] < '0' || tail[i] > '9') return 0;
    if (i < dash) pid = pid * 10 + (tail[i] - '0');
    if (pid > INT_MAX) return 0;
  }
  return static_cast<pid_t>(pid);
}

// Writes the file's new contents to a temporary file beside `host` and
// renames it over `host`. The new file stays open in `*pin`. No fsync: the
// file must survive a crash of the process, not of the host, and syncing
// megabytes would cost more than a dial-in may take.
DWORD ReplaceFile(const std::string& host, const ProfileData& data, mode_t mode, UniqueFd* pin,
                  FileIdentity* id) {
  const std::string temp = TemporaryName(host);
  UniqueFd fd(::open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!fd.valid()) return ErrorFromErrno(errno);
  DWORD err = ::fchmod(fd.get(), mode & 07770) == 0 ? ERROR_SUCCESS : ErrorFromErrno(errno);
  if (err == ERROR_SUCCESS) err = WriteSections(fd.get(), data);
  struct stat st;
  if (err == ERROR_SUCCESS && ::fstat(fd.get(), &st) != 0) err = ErrorFromErrno(errno);
  if (err == ERROR_SUCCESS) err = SwapIntoPlace(temp, host);
  if (err != ERROR_SUCCESS) {
    ::unlink(temp.c_str());
    return err;
  }
  *id = IdentityOf(st);
  *pin = std::move(fd);
  return ERROR_SUCCESS;
}

// Puts the planned lines where they belong in the file open on `fd`, whose
// identity was `before`. The modification time is then set past the old one
// by at least a nanosecond: the file keeps its inode and often its size, and
// the clock that stamps writes is coarse, so without this another process
// could take the changed file for the version it has cached.
DWORD WriteInPlace(int fd, const WritePlan& plan, const FileIdentity& before, FileIdentity* after) {
  for (const auto& [offset, bytes] : plan.writes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                 static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        const DWORD err = ErrorFromErrno(errno);
        // An append cut short (a full disk) must not leave half a line.
        if (::ftruncate(fd, before.size) != 0) return ErrorFromErrno(errno);
        return err;
      }
      done += static_cast<size_t>(n);
    }
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) return ErrorFromErrno(errno);
  if (IdentityOf(st).mtimeNs <= before.mtimeNs) {
    const int64_t ns = before.mtimeNs + 1;
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)}};
    if (::futimens(fd, times) != 0 || ::fstat(fd, &st) != 0) return ErrorFromErrno(errno);
  }
  *after = IdentityOf(st);
  return ERROR_SUCCESS;
}

// What a caller changes in a profile: sets `*changed` when there is anything
// to write, or returns an error having changed nothing.
using Mutation = std::function<DWORD(ProfileData&, WritePlan&, bool* changed)>;

// One locked read-modify-write of a file.
// The fault a test set (SetProfileWriteFaultForTesting).
struct WriteFault {
  std::mutex mutex;  // guards name and error
  std::string name;
  DWORD error = ERROR_SUCCESS;
};
WriteFault& TheWriteFault() {
  static WriteFault fault;
  return fault;
}

DWORD InjectedWriteFault(const std::string& host) {
  WriteFault& f = TheWriteFault();
  std::lock_guard lock(f.mutex);
  if (f.name.empty()) return ERROR_SUCCESS;
  const size_t slash = host.find_last_of('/');
  return EqualsIgnoringCase(slash == std::string::npos ? host : host.substr(slash + 1), f.name) ? f.error
                                                                                                : ERROR_SUCCESS;
}

DWORD ModifyProfile(const std::string& host, bool creates, const Mutation& mutate) {
  if (DWORD err = InjectedWriteFault(host); err != ERROR_SUCCESS) return err;
  FileLock lock;
  bool created = false;
  struct stat st;
  if (DWORD err = lock.Acquire(host, creates, &created, &st); err != ERROR_SUCCESS) {
    // Deleting from a file that does not exist leaves nothing to do.
    return !creates && err == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : err;
  }
  const FileIdentity id = IdentityOf(st);

  ParseCache::Entry entry;
  // Keeps the data alive until the gate below is released, whoever evicts it
  // from the cache meanwhile.
  std::shared_ptr<ProfileData> keep;
  std::unique_lock<std::shared_mutex> inPlace;
  if (!Cache().Take(host, id, &entry)) {
    entry = ParseCache::Entry{};
    DWORD err = ParseOpenFile(lock.fd(), st, &entry.data);
    if (err == ERROR_READ_FAULT) err = ERROR_SHARING_VIOLATION;  // changed behind our lock
    if (err != ERROR_SUCCESS) return err;
  } else {
    keep = entry.data;
    inPlace = std::unique_lock<std::shared_mutex>(keep->gate.mutex, std::try_to_lock);
    // A reader of this process still looks at it: change a copy.
    if (!inPlace.owns_lock()) entry.data = std::make_shared<ProfileData>(*entry.data);
  }

  ProfileData& data = *entry.data;
  WritePlan plan;
  bool changed = false;
  if (DWORD err = mutate(data, plan, &changed); err != ERROR_SUCCESS || !changed) {
    // A mutation that fails leaves the data as it was: it goes back into the cache.
    if (entry.pin.valid()) Cache().Put(host, std::move(entry));
    if (created) ::unlink(host.c_str());
    return err;
  }

  if (!plan.rewrite && !plan.writes.empty()) {
    FileIdentity after;
    if (DWORD err = WriteInPlace(lock.fd(), plan, id, &after); err != ERROR_SUCCESS) return err;
    // The pin gets a descriptor of its own: one sharing the lock's would keep
    // the file locked for as long as the cache holds it.
    UniqueFd pin = entry.pin.valid() ? std::move(entry.pin) : UniqueFd(::open(host.c_str(), O_RDONLY | O_CLOEXEC));
    Cache().Put(host, ParseCache::Entry{after, std::move(entry.data), std::move(pin), 0});
    return ERROR_SUCCESS;
  }

  Compact(data);
  data.RecomputeOffsets();
  if (data.size <= kOnePage && static_cast<uint64_t>(st.st_size) <= kOnePage) {
    // A small file (the logged-in users, the status counters) is rewritten
    // where it stands: one write within one page, which a killed process
    // either makes whole or not at all, costs far less than a new file.
    WritePlan whole;
    std::string text;
    text.reserve(static_cast<size_t>(std::max<uint64_t>(data.size, static_cast<uint64_t>(st.st_size))));
    for (const auto& section : data.sections) text += section.text;
    // Until the file is cut to its new length, what is left of the old text
    // reads as one blank line.
    if (text.size() < static_cast<size_t>(st.st_size)) {
      text.append(static_cast<size_t>(st.st_size) - text.size() - 1, ' ').push_back('\n');
    }
    whole.Put(0, text);
    FileIdentity after;
    if (DWORD err = WriteInPlace(lock.fd(), whole, id, &after); err != ERROR_SUCCESS) return err;
    if (static_cast<uint64_t>(after.size) != data.size) {
      if (::ftruncate(lock.fd(), static_cast<off_t>(data.size)) != 0) return ErrorFromErrno(errno);
      struct stat cut;
      if (::fstat(lock.fd(), &cut) != 0) return ErrorFromErrno(errno);
      after = IdentityOf(cut);
    }
    UniqueFd pin = entry.pin.valid() ? std::move(entry.pin) : UniqueFd(::open(host.c_str(), O_RDONLY | O_CLOEXEC));
    Cache().Put(host, ParseCache::Entry{after, std::move(entry.data), std::move(pin), 0});
    return ERROR_SUCCESS;
  }
  UniqueFd pin;
  FileIdentity newId;
  if (DWORD err = ReplaceFile(host, data, st.st_mode, &pin, &newId); err != ERROR_SUCCESS) {
    // Leave no empty file behind that only this failed write created. We hold
    // its lock, so the name still refers to it.
    if (created) ::unlink(host.c_str());
    return err;
  }
  Cache().Put(host, ParseCache::Entry{newId, std::move(entry.data), std::move(pin), 0});
  return ERROR_SUCCESS;
}

DWORD ApplyChecked(std::string_view file, const std::vector<ProfileChange>& changes) {
  std::vector<ProfileChange> checked(changes.size());
  for (size_t i = 0; i < changes.size(); ++i) {
    if (DWORD err = Validate(changes[i], &checked[i]); err != ERROR_SUCCESS) return err;
  }
  std::string host;
  if (DWORD err = ResolvePath(file, &host); err != ERROR_SUCCESS) return err;
  if (checked.empty()) return ERROR_SUCCESS;
  bool creates = false;
  for (const auto& c : checked) creates = creates || (!c.key.empty() && c.value);
  return ModifyProfile(host, creates, [&](ProfileData& data, WritePlan& plan, bool* changed) {
    for (const auto& c : checked) *changed = ApplyChange(data, c, plan) || *changed;
    return ERROR_SUCCESS;
  });
}

// ----------------------------------------------------------------- reads

// A parsed file held for reading: a writer of this process changes it in
// place only once no such view is left.
class ProfileView {
 public:
  ProfileView() = default;
  explicit ProfileView(std::shared_ptr<const ProfileData> data)
      : data_(std::move(data)), reading_(data_->gate.mutex) {}
  explicit operator bool() const { return data_ != nullptr; }
  const ProfileData* operator->() const { return data_.get(); }
  const ProfileData& operator*() const { return *data_; }

 private:
  std::shared_ptr<const ProfileData> data_;
  std::shared_lock<std::shared_mutex> reading_;
};

ProfileView Load(std::string_view file) {
  std::string host;
  if (ResolvePath(file, &host) != ERROR_SUCCESS) return ProfileView();
  std::shared_ptr<const ProfileData> data;
  if (LoadProfile(host, &data) != ERROR_SUCCESS || !data) return ProfileView();
  return ProfileView(std::move(data));
}

// The value of a key; false when file, section or key are missing.
bool LookupValue(std::string_view file, std::string_view section, std::string_view key,
                 std::string* value) {
  const auto data = Load(file);
  if (!data) return false;
  const Section* s = data->Find(Trim(section));
  if (!s) return false;
  const KeyLine* k = s->FindKey(Trim(key));
  if (!k) return false;
  value->assign(s->Value(*k));
  return true;
}

std::vector<std::string> KeyNames(const Section& s) {
  std::vector<std::string> names;
  names.reserve(s.keys.size());
  for (const auto& k : s.keys) {
    if (k.first) names.emplace_back(s.KeyName(k));
  }
  return names;
}

std::vector<std::string> SectionNames(const ProfileData& d) {
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

// Buffer rules of the Windows calls.
DWORD CopyValue(std::string_view value, char* buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  const size_t n = std::min<size_t>(value.size(), size - 1);
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return static_cast<DWORD>(n);
}

// Each name NUL-terminated, an extra NUL at the end; when it does not fit, as
// much as fits in size - 2 characters followed by two NULs.
DWORD CopyList(const std::vector<std::string>& names, char* buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  size_t needed = 0;
  for (const auto& n : names) needed += n.size() + 1;
  if (needed + 1 <= size) {
    char* p = buffer;
    for (const auto& n : names) {
      std::memcpy(p, n.data(), n.size());
      p += n.size();
      *p++ = '\0';
    }
    *p = '\0';
    return static_cast<DWORD>(needed);
  }
  const size_t room = size - 2;
  size_t done = 0;
  for (const auto& n : names) {
    if (done >= room) break;
    const size_t take = std::min(n.size() + 1, room - done);
    std::memcpy(buffer + done, n.c_str(), take);  // c_str() supplies the NUL
    done += take;
  }
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

// A default standing in for a list is copied as a value; the second NUL
// (when it fits) lets a caller walk it as a one-name list.
DWORD CopyDefaultAsList(std::string_view def, char* buffer, DWORD size) {
  const DWORD n = CopyValue(def, buffer, size);
  if (buffer && n + 1 < size) buffer[n + 1] = '\0';
  return n;
}

}  // namespace

// ------------------------------------------------------------ interface

std::string ProfileGetString(std::string_view file, std::string_view section,
                             std::string_view key, std::string_view defaultValue) {
  std::string value;
  if (LookupValue(file, section, key, &value)) return value;
  return std::string(defaultValue);
}

std::optional<std::vector<std::string>> ProfileListKeys(std::string_view file,
                                                        std::string_view section) {
  const auto data = Load(file);
  if (!data) return std::nullopt;
  const Section* s = data->Find(Trim(section));
  if (!s) return std::nullopt;
  return KeyNames(*s);
}

std::optional<std::vector<std::pair<std::string, std::string>>> ProfileReadSection(
    std::string_view file, std::string_view section) {
  const auto data = Load(file);
  if (!data) return std::nullopt;
  const Section* s = data->Find(Trim(section));
  if (!s) return std::nullopt;
  std::vector<std::pair<std::string, std::string>> pairs;
  pairs.reserve(s->keys.size());
  for (const auto& k : s->keys) {
    if (k.first) pairs.emplace_back(s->KeyName(k), s->Value(k));
  }
  return pairs;
}

std::optional<std::string> ProfileSectionName(std::string_view file, std::string_view section) {
  const auto data = Load(file);
  if (!data) return std::nullopt;
  const Section* s = data->Find(Trim(section));
  if (!s) return std::nullopt;
  return s->name;
}

std::optional<std::vector<ProfileSectionData>> ProfileReadAll(std::string_view file) {
  const auto data = Load(file);
  if (!data) return std::nullopt;
  std::vector<ProfileSectionData> out;
  out.reserve(data->index.size());
  for (uint32_t i = 0; i < data->sections.size(); ++i) {
    const Section& s = data->sections[i];
    if (!s.hasHeader || s.name.empty()) continue;
    auto it = data->index.find(s.name);
    if (it == data->index.end() || it->second != i) continue;
    ProfileSectionData& d = out.emplace_back();
    d.name = s.name;
    d.values.reserve(s.keys.size());
    for (const auto& k : s.keys) {
      if (k.first) d.values.emplace_back(s.KeyName(k), s.Value(k));
    }
  }
  return out;
}

std::optional<std::vector<std::string>> ProfileListSections(std::string_view file) {
  const auto data = Load(file);
  if (!data) return std::nullopt;
  return SectionNames(*data);
}

DWORD ProfileWriteString(std::string_view file, std::string_view section, std::string_view key,
                         std::string_view value) {
  if (key.empty()) return ERROR_INVALID_PARAMETER;
  return ApplyChecked(file, {ProfileChange{std::string(section), std::string(key), std::string(value)}});
}

DWORD ProfileDeleteKey(std::string_view file, std::string_view section, std::string_view key) {
  if (key.empty()) return ERROR_INVALID_PARAMETER;
  return ApplyChecked(file, {ProfileChange{std::string(section), std::string(key), std::nullopt}});
}

DWORD ProfileDeleteSection(std::string_view file, std::string_view section) {
  return ApplyChecked(file, {ProfileChange{std::string(section), std::string(), std::nullopt}});
}

DWORD ProfileApply(std::string_view file, const std::vector<ProfileChange>& changes) {
  return ApplyChecked(file, changes);
}

namespace {

// Checks a record's names and value as a single write would (trimmed) and
// finds the file it goes to.
DWORD PrepareRecord(std::string_view file, std::string_view section, std::string_view key,
                    std::string_view value, ProfileChange* out, std::string* host) {
  if (key.empty()) return ERROR_INVALID_PARAMETER;
  if (DWORD err = Validate(ProfileChange{std::string(section), std::string(key), std::string(value)}, out);
      err != ERROR_SUCCESS) {
    return err;
  }
  return host ? ResolvePath(file, host) : ERROR_SUCCESS;
}

}  // namespace

DWORD ProfileRotate(std::string_view file, std::string_view rotatedName, uint64_t maxBytes,
                    bool* rotated) {
  *rotated = false;
  std::string host, rotatedHost;
  if (DWORD err = ResolvePath(file, &host); err != ERROR_SUCCESS) return err;
  if (DWORD err = ResolvePath(rotatedName, &rotatedHost); err != ERROR_SUCCESS) return err;
  FileLock lock;
  bool created = false;
  struct stat st;
  if (DWORD err = lock.Acquire(host, false, &created, &st); err != ERROR_SUCCESS) {
    return err == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : err;
  }
  if (static_cast<uint64_t>(st.st_size) <= maxBytes) return ERROR_SUCCESS;
  if (::rename(host.c_str(), rotatedHost.c_str()) != 0) return ErrorFromErrno(errno);
  Cache().Drop(host);
  Cache().Drop(rotatedHost);
  *rotated = true;
  return ERROR_SUCCESS;
}

int ProfileRemoveStaleTemporaries(std::string_view folder, int* failed) {
  if (failed) *failed = 0;
  std::string host;
  if (ResolvePath(folder, &host) != ERROR_SUCCESS) return 0;
  DIR* dir = ::opendir(host.c_str());
  if (!dir) return 0;
  int removed = 0;
  while (const dirent* e = ::readdir(dir)) {
    const pid_t writer = TemporaryWriter(e->d_name);
    if (writer <= 0 || ::kill(writer, 0) == 0 || errno != ESRCH) continue;  // alive, or not ours to judge
    if (::unlinkat(::dirfd(dir), e->d_name, 0) == 0) {
      ++removed;
    } else if (failed) {
      ++*failed;
    }
  }
  ::closedir(dir);
  return removed;
}

DWORD ProfileAppendRecord(std::string_view file, std::string_view section, std::string_view key,
                          std::string_view value) {
  ProfileChange c;
  std::string host;
  if (DWORD err = PrepareRecord(file, section, key, value, &c, &host); err != ERROR_SUCCESS) return err;
  return ModifyProfile(host, true, [&](ProfileData& data, WritePlan& plan, bool* changed) {
    const DWORD err = AppendRecord(data, c.section, c.key, *c.value, plan);
    *changed = err == ERROR_SUCCESS;
    return err;
  });
}

DWORD ProfileAppendRecordAtFreeKey(std::string_view file, std::string_view section,
                                   const std::function<std::string(int)>& keyFor, int first,
                                   int maxTries, std::string_view value, std::string* used) {
  std::vector<ProfileChange> candidates;
  std::string host;
  for (int n = first; n < first + maxTries; ++n) {
    ProfileChange c;
    if (DWORD err = PrepareRecord(file, section, keyFor(n), value, &c, n == first ? &host : nullptr);
        err != ERROR_SUCCESS) {
      return err;
    }
    candidates.push_back(std::move(c));
  }
  if (candidates.empty()) return ERROR_INVALID_PARAMETER;
  return ModifyProfile(host, true, [&](ProfileData& data, WritePlan& plan, bool* changed) {
    for (const ProfileChange& c : candidates) {
      const DWORD err = AppendRecord(data, c.section, c.key, *c.value, plan);
      if (err == ERROR_ALREADY_EXISTS) continue;
      *changed = err == ERROR_SUCCESS;
      if (*changed) *used = c.key;
      return err;
    }
    return ERROR_ALREADY_EXISTS;
  });
}

bool ProfileRecordExists(std::string_view file, std::string_view section, std::string_view key) {
  const auto data = Load(file);
  if (!data) return false;
  const Section* s = data->Find(Trim(section));
  const Section* part = nullptr;
  return s && data->FindInParts(*s, Trim(key), &part) != nullptr;
}

std::optional<std::vector<std::pair<std::string, std::string>>> ProfileReadRecords(
    std::string_view file, std::string_view section) {
  const auto data = Load(file);
  if (!data) return std::nullopt;
  const Section* s = data->Find(Trim(section));
  if (!s) return std::nullopt;
  std::vector<std::pair<std::string, std::string>> pairs;
  if (s->parts.empty()) {
    pairs.reserve(s->keys.size());
    for (const auto& k : s->keys) {
      if (k.first) pairs.emplace_back(s->KeyName(k), s->Value(k));
    }
    return pairs;
  }
  for (const uint32_t p : s->parts) {
    const Section& part = data->sections[p];
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

void SetProfileWriteFaultForTesting(std::string_view name, DWORD error) {
  WriteFault& f = TheWriteFault();
  std::lock_guard lock(f.mutex);
  f.name = std::string(name);
  f.error = error;
}

DWORD ProfileReplaceRecord(std::string_view file, std::string_view section, std::string_view key,
                           std::string_view value) {
  ProfileChange c;
  std::string host;
  if (DWORD err = PrepareRecord(file, section, key, value, &c, &host); err != ERROR_SUCCESS) return err;
  if (!ProfileRecordExists(file, c.section, c.key)) return ERROR_FILE_NOT_FOUND;
  return ModifyProfile(host, false, [&](ProfileData& data, WritePlan& plan, bool* changed) {
    return ReplaceRecord(data, c.section, c.key, *c.value, plan, changed);
  });
}

DWORD GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                              char* buffer, DWORD size, const char* fileName) {
  const std::string_view def = defaultValue ? defaultValue : "";
  if (!fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return CopyValue(def, buffer, size);
  }
  if (!section || !key) {
    const auto data = Load(fileName);
    std::optional<std::vector<std::string>> names;
    if (data && !section) {
      names = SectionNames(*data);
    } else if (data) {
      if (const Section* s = data->Find(Trim(section))) names = KeyNames(*s);
    }
    SetLastError(names ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    return names ? CopyList(*names, buffer, size) : CopyDefaultAsList(def, buffer, size);
  }
  std::string value;
  const bool found = LookupValue(fileName, section, key, &value);
  SetLastError(found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
  return CopyValue(found ? std::string_view(value) : def, buffer, size);
}

BOOL WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* fileName) {
  DWORD err = ERROR_SUCCESS;
  if (!fileName || !section) {
    // All three NULL asks Windows to flush its profile cache; writes here go
    // to disk at once, so there is nothing to flush.
    err = (!section && !key && !value && fileName) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  } else if (!key) {
    err = ProfileDeleteSection(fileName, section);
  } else if (!value) {
    err = ProfileDeleteKey(fileName, section, key);
  } else {
    err = ProfileWriteString(fileName, section, key, value);
  }
  SetLastError(err);
  return err == ERROR_SUCCESS ? TRUE : FALSE;
}

unsigned GetPrivateProfileInt(const char* section, const char* key, int defaultValue,
                              const char* fileName) {
  std::string value;
  if (!section || !key || !fileName || !LookupValue(fileName, section, key, &value) ||
      value.empty()) {
    return static_cast<unsigned>(defaultValue);
  }
  long long n = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') break;
    n = std::min<long long>(n * 10 + (c - '0'), INT_MAX);
  }
  return static_cast<unsigned>(n);
}

DWORD GetPrivateProfileSectionNames(char* buffer, DWORD size, const char* fileName) {
  const auto data = fileName ? Load(fileName) : ProfileView();
  if (!data) return CopyList({}, buffer, size);
  return CopyList(SectionNames(*data), buffer, size);
}

}  // namespace plat
