// Profile (INI) text without files: the grammar of profile.h read from a
// file's text, and the edits a write makes to it. profile.cc runs these under
// its lock and cache; tests and fuzzers run them on strings.
//
// - Takes any bytes (nothing is refused on read). The edits take names that
//   Validate or ValidateRecord has passed (checked and trimmed); lookups take
//   names as callers give them and trim them.
// - A Profile saves as the concatenation of its sections' texts (Text()).
//   Every edit records in a WritePlan how the file follows: the bytes that
//   change in place (a line replaced by one of the same length, lines added at
//   the end), or that it must be rewritten. Once FinishPlan has run, an
//   in-place plan applied to the old text and cut to `size` gives Text().
// - Lookups see a section's first part only, as the Windows calls do; the
//   record calls see every part (a record file appends a section in parts).
// - Thread safety: none inside; a Profile is a value. Const calls on one
//   Profile may run concurrently; an edit needs the caller's exclusion.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/profile_types.h"
#include "platform/text.h"
#include "platform/win_types.h"

namespace plat::ini {

struct CaseInsensitiveHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const;
};
struct CaseInsensitiveEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return EqualsIgnoringCase(a, b); }
};
// Name -> position of its first occurrence.
using NameIndex = std::unordered_map<std::string, uint32_t, CaseInsensitiveHash, CaseInsensitiveEqual>;

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

struct Section {
  std::string text;
  std::string name;        // as written in the header
  bool hasHeader = false;  // false for the lines before the first header and for deleted sections
  std::vector<KeyLine> keys;
  NameIndex keyIndex;   // only for large sections
  uint64_t offset = 0;  // where `text` starts in the file
  // A section whose name comes again further down (a record file appends
  // that way): on its first part, the index of every part in file order and
  // each key's first part. Ordinary reads see the first part only.
  std::vector<uint32_t> parts;
  NameIndex partOfKey;

  std::string_view KeyName(const KeyLine& k) const {
    return std::string_view(text).substr(k.nameOff, k.nameLen);
  }
  // Without surrounding quotes.
  std::string_view Value(const KeyLine& k) const;
  size_t HeaderEnd() const {
    if (!hasHeader) return 0;
    const size_t nl = text.find('\n');
    return nl == text.npos ? text.size() : nl + 1;
  }
  const KeyLine* FindKey(std::string_view key) const {  // the key's first line
    if (!keyIndex.empty()) {
      auto it = keyIndex.find(key);
      return it == keyIndex.end() ? nullptr : &keys[it->second];
    }
    for (const auto& k : keys) {
      if (k.nameLen == key.size() && EqualsIgnoringCase(KeyName(k), key)) return &k;
    }
    return nullptr;
  }

  void Parse();  // rebuilds the key table from `text`
  // Reads the fields of key line `i` again after its line was replaced by one
  // of the same length ("name=value", padded), its name unchanged.
  void Reindex(size_t i);
  // Adds `line` (ending in a line break) to the end of the text and indexes
  // it, without parsing the rest again.
  void AppendLine(std::string_view line);

 private:
  size_t ParseLine(size_t pos);
  bool NamedBefore(size_t i) const;  // an earlier key line has the name of line i
  void BuildKeyIndex();
};

struct Profile {
  std::vector<Section> sections;  // [0] holds the lines before the first header
  NameIndex index;                // first live section of each name
  std::string eol = "\n";         // line ending for lines we add: the file's own
  bool duplicateSections = false;
  size_t deadSections = 0;
  uint64_t size = 0;  // of the file: every section's text

  const Section* Find(std::string_view name) const {  // `name` trimmed already
    auto it = index.find(name);
    return it == index.end() ? nullptr : &sections[it->second];
  }
  Section* Find(std::string_view name) { return const_cast<Section*>(std::as_const(*this).Find(name)); }
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
  void RebuildIndex();
  void RecomputeOffsets();
};

// Most changes to a file that is already large either replace a line by one
// of the same length (a counter that keeps its width) or add lines at the very
// end (a new record). Those go to the file where they stand; anything else
// rewrites the whole file.
struct WritePlan {
  bool rewrite = false;
  // Every in-place write replaces a key line's value, its name kept.
  bool valuesOnly = true;
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

// ---- Lines (without their line break) ----

// The trimmed name of a section header line; false for other lines.
bool HeaderName(std::string_view line, std::string_view* name);
// The trimmed name and value (quotes still on) of a key line; false for
// comments, blank lines, lines without '=' and empty names.
bool KeyLineParts(std::string_view line, std::string_view* name, std::string_view* value);
// A value without the matching quotes around it.
std::string_view Unquoted(std::string_view value);

Profile Parse(std::string_view text);
std::string Text(const Profile& d);

// ---- Edits (names checked first) ----

// Checks a change and trims its names as reading trims them; the reasons of
// profile.h give ERROR_INVALID_PARAMETER, *out then left as it was.
DWORD Validate(const ProfileChange& in, ProfileChange* out);
// The same for a record: a key is required.
DWORD ValidateRecord(std::string_view section, std::string_view key, std::string_view value,
                     ProfileChange* out);
// A write, key deletion or section deletion; false when it changed nothing.
bool ApplyChange(Profile& d, const ProfileChange& checked, WritePlan& plan);
// ERROR_ALREADY_EXISTS, changing nothing, when any part holds the key.
DWORD AppendRecord(Profile& d, std::string_view section, std::string_view key,
                   std::string_view value, WritePlan& plan);
// ERROR_FILE_NOT_FOUND, changing nothing, when no part holds the key.
DWORD ReplaceRecord(Profile& d, std::string_view section, std::string_view key,
                    std::string_view value, WritePlan& plan);
// After the edits of one write to a file that was `oldSize` bytes: a file
// that stays within one page is rewritten in place, with one write at offset
// 0 (padded to the old length with blanks and a line break, so that until the
// file is cut to `d.size` the rest reads as one blank line, and a last line
// ending in a bare CR gets its LF first); a rewrite of a larger file stays a
// rewrite.
void FinishPlan(Profile& d, WritePlan& plan, uint64_t oldSize);

// ---- Catching up with what another writer changed ----
//
// A cached file follows another process's writes made where they stand
// without a parse of the whole text; each returns false, changing nothing,
// when the change may reach beyond what it can follow (the caller then
// parses the file afresh).

// The ranges [begin, end) of the file, widened to the whole lines they
// touch, sorted and merged.
std::vector<std::pair<uint64_t, uint64_t>> WholeLines(const Profile& d,
                                                      std::vector<std::pair<uint64_t, uint64_t>> ranges);
// Puts each patch's bytes (whole lines, as WholeLines gives them, of the
// length they replace) at its offset. False when a patch would touch a
// header, move a line break or make a header.
bool PatchLines(Profile& d, const std::vector<std::pair<uint64_t, std::string>>& patches);
// Adds text written after the file's old end. False when the old text does
// not end in a line break, or ends in what a deleted section left.
bool AppendText(Profile& d, std::string_view tail);
// Whether AppendText would take text.
bool CanAppendText(const Profile& d);

// ---- Record files without their text ----

// What adding records to a record file needs of it, kept without the file's
// text: which keys each section holds in any of its parts, the last
// section, how the file ends. AppendRecord's bytes follow from it exactly as
// from the parsed file, at a small part of the memory (a day log's key is a
// number of seconds, held as such). Built from the text once, then followed
// by what is appended. Names are looked up as the edits take them (trimmed).
class RecordIndex {
 public:
  static RecordIndex Build(std::string_view text);
  // The same from a file read piece by piece: Feed takes each piece in file
  // order, Finish ends the reading.
  void Feed(std::string_view piece);
  void Finish();

  uint64_t size() const { return size_; }
  // Whether any part of `section` holds `key`.
  bool Holds(std::string_view section, std::string_view key) const;
  // The bytes that AppendRecord would add at the end of the file for a key
  // the section does not hold yet.
  std::string AppendBytes(std::string_view section, std::string_view key, std::string_view value) const;
  // Follows text added at the old end; false, changing nothing, when it
  // continues an open last line.
  bool Append(std::string_view tail);
  // After a change of values where they stand: the file's last byte now.
  void SetLastByte(char c) { lastByte_ = c; }

 private:
  // A numeric key: the second and 0, or n + 1 for "<second>.n".
  struct Number {
    uint64_t second = 0;
    uint32_t sequence = 0;
    auto operator<=>(const Number&) const = default;
  };
  void Scan(std::string_view text);
  uint32_t SectionId(std::string_view name);
  void Insert(uint32_t section, std::string_view key);

  NameIndex sections_;  // name -> id
  // Per section, its numeric keys in order: records come in time order, so
  // nearly all are added at the end.
  std::vector<std::vector<Number>> numbers_;
  std::unordered_map<std::string, bool> otherKeys_;  // "<id>:<lower-cased key>" of the rest
  bool building_ = true;   // keys go to the end unsorted until Finish
  std::string carry_;      // an unfinished last line of the pieces fed so far
  int64_t current_ = -1;  // section of the file's last line; -1 before any header
  uint64_t size_ = 0;
  std::string eol_ = "\n";
  bool eolKnown_ = false;
  char lastByte_ = '\n';
};

// ---- Lookups (names trimmed here) ----

const Section* FindSection(const Profile& d, std::string_view section);
std::optional<std::string> Lookup(const Profile& d, std::string_view section, std::string_view key);
std::vector<std::string> KeyNames(const Section& s);  // each key once, in file order
std::vector<std::pair<std::string, std::string>> Values(const Section& s);
std::vector<std::string> SectionNames(const Profile& d);
std::vector<ProfileSectionData> ReadAll(const Profile& d);
bool RecordExists(const Profile& d, std::string_view section, std::string_view key);
std::optional<std::vector<std::pair<std::string, std::string>>> ReadRecords(
    const Profile& d, std::string_view section);

}  // namespace plat::ini
