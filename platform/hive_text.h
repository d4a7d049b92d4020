// Registry hive text without files: the REGEDIT4-style grammar a hive file
// is kept in, and the edits a write makes to it. registry.cc runs these under
// its lock and cache; tests and fuzzers run them on strings.
//
// - ParseHive takes any bytes (nothing is refused: a line it does not
//   understand is kept as it is and written back); FormatHive writes the keys
//   in case-insensitive order, so a parse of its text gives the same hive.
// - Key paths are below the hive file's root ("" is the root), with '\'
//   between names; lookups ignore case, stored names keep theirs. A header
//   more than kMaxKeyDepth keys deep is a line ParseHive does not understand:
//   a key's section names its whole path, so deeper keys would make the text
//   grow with the square of the depth.
// - Out parameters on failure: left as they were (ParseValueLine,
//   ParseSectionHeader).
// - Thread safety: none inside; a HiveData is a value. Const calls on one may
//   run concurrently; an edit needs the caller's exclusion.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/registry_value.h"
#include "platform/text.h"

namespace plat::hive {

// Levels below the root a hive file's key can be, as on NT.
constexpr size_t kMaxKeyDepth = 512;

// One line of a key's section: a value, or a line we keep without understanding it.
struct Line {
  std::optional<RegValue> value;
  std::string raw;
};

struct KeyData {
  std::string path;  // below the hive file's root, stored spelling; "" = root
  std::vector<Line> lines;
};

struct HiveData {
  std::vector<std::string> preamble;  // lines before the first section, header excluded
  std::vector<KeyData> keys;
  std::unordered_map<std::string, size_t> index;  // lower-case path -> keys[]

  void Reindex() {
    index.clear();
    for (size_t i = 0; i < keys.size(); ++i) index[ToLowerAscii(keys[i].path)] = i;
  }
  KeyData* Find(std::string_view path) {
    auto it = index.find(ToLowerAscii(path));
    return it == index.end() ? nullptr : &keys[it->second];
  }
  const KeyData* Find(std::string_view path) const {
    auto it = index.find(ToLowerAscii(path));
    return it == index.end() ? nullptr : &keys[it->second];
  }
};

// ---- key paths

// Collapses repeated and outer '\' separators.
std::string NormalizeKeyPath(std::string_view path);
std::string JoinKey(std::string_view a, std::string_view b);
std::string ParentKey(const std::string& path);
std::string LastComponent(const std::string& path);
// Direct children of `parent`, as stored, sorted case-insensitively.
std::vector<std::string> ChildrenOf(const HiveData& hive, const std::string& parent);
bool IsDescendantOrSelf(const std::string& lowerPath, const std::string& lowerAncestor);
// A key or value name the hive file can hold: no line break, no NUL.
bool StorableName(std::string_view name);

// ---- text

std::string FormatValue(const RegValue& v);
// A value line: "name"=data or @=data. `deleted` is set for "name"=- (import only).
bool ParseValueLine(std::string_view line, RegValue* value, bool* deleted);
// The text's lines, the continuation lines of a hex value joined.
std::vector<std::string> LogicalLines(std::string_view text);
// A section header "[HKEY_...\path]" or "[-HKEY_...\path]".
bool ParseSectionHeader(std::string_view line, bool* deletion, std::string* rootName, std::string* path);
HiveData ParseHive(std::string_view text);
std::string FormatHive(const HiveData& hive, const std::string& rootName);

// ---- edits

// Makes `path` and all its parents exist; returns the stored spelling.
std::string EnsureKey(HiveData& hive, const std::string& path);
// Sets `value` in key `path`, a value of that name keeping its stored
// spelling; false, changing nothing, when the key does not exist.
bool SetValue(HiveData& hive, const std::string& path, const RegValue& value);
// ERROR_KEY_DELETED without the key, ERROR_FILE_NOT_FOUND without the value.
DWORD DeleteValue(HiveData& hive, const std::string& path, std::string_view name);
// Removes key `path`: ERROR_FILE_NOT_FOUND when missing, ERROR_ACCESS_DENIED
// while it has subkeys (as on NT).
DWORD DeleteKey(HiveData& hive, const std::string& path);
// Removes key `path` and everything below it (the root stays).
void DeleteTree(HiveData& hive, const std::string& path);

}  // namespace plat::hive
