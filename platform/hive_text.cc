#include "platform/hive_text.h"

#include <algorithm>

#include "platform/errors.h"
#include "platform/text.h"

namespace plat::hive {

// ---------------------------------------------------------------- key paths

std::string NormalizeKeyPath(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) {
      if (!out.empty()) out += '\\';
      out.append(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return out;
}

std::string JoinKey(std::string_view a, std::string_view b) {
  if (a.empty()) return std::string(b);
  if (b.empty()) return std::string(a);
  std::string out;
  out.reserve(a.size() + 1 + b.size());
  return out.append(a).append(1, '\\').append(b);
}

std::string ParentKey(const std::string& path) {
  const auto slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string LastComponent(const std::string& path) {
  const auto slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return ToLowerAscii(a) < ToLowerAscii(b);
}

}  // namespace

// Direct children of `parent`, as stored, sorted case-insensitively.
std::vector<std::string> ChildrenOf(const HiveData& hive, const std::string& parent) {
  std::vector<std::string> names;
  const std::string lowerParent = ToLowerAscii(parent);
  for (const auto& k : hive.keys) {
    if (k.path.empty()) continue;
    if (ToLowerAscii(ParentKey(k.path)) == lowerParent) names.push_back(LastComponent(k.path));
  }
  std::sort(names.begin(), names.end(), LessIgnoringCase);
  return names;
}

bool IsDescendantOrSelf(const std::string& lowerPath, const std::string& lowerAncestor) {
  if (lowerAncestor.empty()) return true;
  return lowerPath == lowerAncestor ||
         (lowerPath.size() > lowerAncestor.size() &&
          lowerPath.compare(0, lowerAncestor.size(), lowerAncestor) == 0 &&
          lowerPath[lowerAncestor.size()] == '\\');
}

// A key or value name the hive file can hold: a line break would end its
// line and start another (a forged key or value), and a NUL could not be
// passed back through the Windows calls.
bool StorableName(std::string_view name) {
  return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// ---------------------------------------------------------------- text format

namespace {

void AppendQuoted(std::string& out, std::string_view s) {
  out += '"';
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

bool NeedsHex(std::string_view s) {
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7f) return true;
  }
  return false;
}

void AppendHexBytes(std::string& out, std::string_view data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < data.size(); ++i) {
    const auto b = static_cast<unsigned char>(data[i]);
    if (i) out += ',';
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
}

// A value's line, put straight into the hive's text: a hive is written whole
// on every change, one string per value line cost more than the rest.
void AppendValue(std::string& line, const RegValue& v) {
  if (v.name.empty()) {
    line += '@';
  } else {
    AppendQuoted(line, v.name);
  }
  line += '=';
  if (v.type == REG_SZ && !NeedsHex(v.data)) {
    AppendQuoted(line, v.data);
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    DWORD d = 0;
    for (int i = 3; i >= 0; --i) d = (d << 8) | static_cast<unsigned char>(v.data[i]);
    line += plat::FormatText("dword:%08x", d);
  } else if (v.type == REG_BINARY) {
    line += "hex:";
    AppendHexBytes(line, v.data);
  } else {
    // The type in hexadecimal, as the parser reads it.
    line += plat::FormatText("hex(%x):", static_cast<unsigned>(v.type));
    AppendHexBytes(line, v.data);
  }
}

}  // namespace

std::string FormatValue(const RegValue& v) {
  std::string line;
  AppendValue(line, v);
  return line;
}

namespace {

// Parses a quoted string at s[pos] (which must be '"'); advances pos past it.
bool ParseQuoted(std::string_view s, size_t* pos, std::string* out) {
  if (*pos >= s.size() || s[*pos] != '"') return false;
  out->clear();
  for (size_t i = *pos + 1; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      out->push_back(s[++i]);
    } else if (s[i] == '"') {
      *pos = i + 1;
      return true;
    } else {
      out->push_back(s[i]);
    }
  }
  return false;
}

bool ParseHex(std::string_view s, std::string* out) {
  out->clear();
  std::string digits;
  for (char c : s) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits += c;
      if (digits.size() > 2) return false;
    } else if (c == ',' || c == ' ' || c == '\t') {
      if (!digits.empty()) out->push_back(static_cast<char>(std::stoi(digits, nullptr, 16)));
      digits.clear();
    } else {
      return false;
    }
  }
  if (!digits.empty()) out->push_back(static_cast<char>(std::stoi(digits, nullptr, 16)));
  return true;
}

// The data of a value line after its '=' (not "-").
bool ParseValueData(std::string_view data, RegValue* value) {
  if (!data.empty() && data[0] == '"') {
    size_t p = 0;
    std::string text;
    if (!ParseQuoted(data, &p, &text) || p != data.size()) return false;
    value->type = REG_SZ;
    value->data = text;
    return true;
  }
  if (data.substr(0, 6) == "dword:") {
    std::string_view hex = data.substr(6);
    if (hex.empty() || hex.size() > 8) return false;
    DWORD d = 0;
    for (char c : hex) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
      d = (d << 4) | static_cast<DWORD>(std::stoi(std::string(1, c), nullptr, 16));
    }
    value->type = REG_DWORD;
    value->data.assign(4, '\0');
    for (int i = 0; i < 4; ++i) value->data[i] = static_cast<char>((d >> (8 * i)) & 0xff);
    return true;
  }
  if (data.substr(0, 4) == "hex:") {
    value->type = REG_BINARY;
    return ParseHex(data.substr(4), &value->data);
  }
  if (data.substr(0, 4) == "hex(") {
    const auto close = data.find("):");
    if (close == std::string_view::npos) return false;
    const std::string typeText(data.substr(4, close - 4));
    if (typeText.empty() || typeText.size() > 8) return false;
    for (char c : typeText) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    value->type = static_cast<DWORD>(std::stoul(typeText, nullptr, 16));
    return ParseHex(data.substr(close + 2), &value->data);
  }
  return false;
}

}  // namespace

// A value line: "name"=data or @=data. `deleted` is set for "name"=- (import only).
bool ParseValueLine(std::string_view line, RegValue* out, bool* deleted) {
  // Parsed aside, so that a line that fails leaves *out as it was.
  RegValue parsed;
  RegValue* value = &parsed;
  size_t pos = 0;
  if (line.empty()) return false;
  if (line[0] == '@') {
    pos = 1;
  } else if (!ParseQuoted(line, &pos, &value->name)) {
    return false;
  }
  if (pos >= line.size() || line[pos] != '=') return false;
  std::string_view data = line.substr(pos + 1);
  if (data == "-") {
    *deleted = true;
    out->name = std::move(parsed.name);
    return true;
  }
  if (!ParseValueData(data, value)) return false;
  *deleted = false;
  *out = std::move(parsed);
  return true;
}

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

// A line that can carry on a hex value cut with '\': hex digits, commas and
// blanks, itself perhaps ending in '\'.
bool IsHexContinuation(std::string_view line) {
  if (line.empty()) return false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (std::isxdigit(static_cast<unsigned char>(c)) || c == ',' || c == ' ' || c == '\t') continue;
    if (c == '\\' && i + 1 == line.size()) continue;
    return false;
  }
  return true;
}

}  // namespace

// Splits text into logical lines, joining the continuation lines of a hex
// value whose line ends in '\'. Only a line of hex digits carries a value on:
// anything else (a key's header above all) starts a line of its own, and the
// cut line keeps its '\', so that it is written back as it was read.
std::vector<std::string> LogicalLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string pending;  // a hex value cut with '\', without it
  bool continuing = false;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(start, end - start));
    std::string current;
    if (continuing && IsHexContinuation(line)) {
      current = std::move(pending) + std::string(line);
    } else {
      if (continuing) lines.push_back(std::move(pending) + '\\');
      current = std::string(line);
    }
    continuing = !current.empty() && current.back() == '\\' &&
                 current.find("=hex") != std::string::npos;
    if (continuing) {
      current.pop_back();
      pending = std::move(current);
    } else {
      lines.push_back(std::move(current));
    }
    if (end == text.size()) break;
    start = end + 1;
  }
  if (continuing) lines.push_back(std::move(pending) + '\\');
  return lines;
}

// Parses a section header "[HKEY_...\path]"; sets hive prefix name and path.
bool ParseSectionHeader(std::string_view line, bool* deletion, std::string* rootName,
                        std::string* path) {
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
  std::string_view inner = line.substr(1, line.size() - 2);
  const bool minus = !inner.empty() && inner[0] == '-';
  if (minus) inner.remove_prefix(1);
  const auto slash = inner.find('\\');
  if (slash == 0 || inner.empty()) return false;  // no root name
  *deletion = minus;
  *rootName = std::string(inner.substr(0, slash));
  *path = slash == std::string_view::npos ? std::string() : NormalizeKeyPath(inner.substr(slash + 1));
  return true;
}

// Makes `path` and all its parents exist; returns the stored spelling. From
// the deepest key that exists down, so that the path is folded once and a deep
// path costs no deep recursion.
namespace {

// EnsureKey's work; returns the key's index.
size_t EnsureKeyIndex(HiveData& hive, const std::string& path) {
  const std::string lower = ToLowerAscii(path);
  size_t have = lower.size();  // the longest prefix that is a key
  auto it = hive.index.find(lower);
  while (it == hive.index.end() && have > 0) {
    const size_t slash = lower.rfind('\\', have - 1);
    have = slash == std::string::npos ? 0 : slash;
    it = hive.index.find(lower.substr(0, have));
  }
  size_t at = 0;
  if (it != hive.index.end()) {
    at = it->second;
  } else {  // not even the root
    hive.keys.push_back(KeyData{"", {}});
    at = hive.keys.size() - 1;
    hive.index[""] = at;
  }
  while (have < path.size()) {
    const size_t from = have == 0 ? 0 : have + 1;
    size_t to = path.find('\\', from);
    if (to == std::string::npos) to = path.size();
    std::string stored = JoinKey(hive.keys[at].path, std::string_view(path).substr(from, to - from));
    hive.keys.push_back(KeyData{std::move(stored), {}});
    at = hive.keys.size() - 1;
    hive.index[lower.substr(0, to)] = at;
    have = to;
  }
  return at;
}

}  // namespace

std::string EnsureKey(HiveData& hive, const std::string& path) {
  return hive.keys[EnsureKeyIndex(hive, path)].path;
}

HiveData ParseHive(std::string_view text) {
  HiveData hive;
  KeyData* current = nullptr;
  bool sawHeader = false;
  for (auto& line : LogicalLines(text)) {
    if (!sawHeader && line == "REGEDIT4") {
      sawHeader = true;
      continue;
    }
    if (line.empty()) continue;
    bool deletion = false;
    std::string rootName, path;
    if (ParseSectionHeader(line, &deletion, &rootName, &path) && !deletion &&
        std::count(path.begin(), path.end(), '\\') < static_cast<std::ptrdiff_t>(kMaxKeyDepth)) {
      // A key's parents exist, even when the file has no section for them.
      current = &hive.keys[EnsureKeyIndex(hive, path)];
      continue;
    }
    RegValue v;
    bool del = false;
    Line l;
    if (current && line[0] != ';' && ParseValueLine(line, &v, &del) && !del) {
      l.value = std::move(v);
    } else {
      l.raw = line;
    }
    if (current) {
      current->lines.push_back(std::move(l));
    } else {
      hive.preamble.push_back(line);
    }
  }
  if (!hive.Find("")) {
    hive.keys.insert(hive.keys.begin(), KeyData{"", {}});
    hive.Reindex();
  }
  return hive;
}

std::string FormatHive(const HiveData& hive, const std::string& rootName) {
  // Each path folded once, not once per comparison.
  std::vector<std::pair<std::string, const KeyData*>> order;
  order.reserve(hive.keys.size());
  for (const auto& k : hive.keys) order.emplace_back(ToLowerAscii(k.path), &k);
  std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  // A kept line that ends in '\' was cut from nothing that carried it on (a
  // blank line, which is not kept, stood after it): a blank line after it
  // again keeps it from taking up the next line, which could make a value
  // appear on the next read.
  auto endLine = [](std::string& out, size_t start) {
    const bool cut = out.size() > start && out.back() == '\\';
    out.push_back('\n');
    if (cut) out.push_back('\n');
  };
  std::string out = "REGEDIT4\n";
  for (const auto& p : hive.preamble) {
    const size_t start = out.size();
    endLine(out.append(p), start);
  }
  for (const auto& [lower, k] : order) {
    out.append("\n[").append(rootName);
    if (!k->path.empty()) out.append(rootName.empty() ? "" : "\\").append(k->path);
    out.append("]\n");
    for (const auto& l : k->lines) {
      const size_t start = out.size();
      if (l.value) {
        AppendValue(out, *l.value);
      } else {
        out.append(l.raw);
      }
      endLine(out, start);
    }
  }
  return out;
}

// ---------------------------------------------------------------- edits

bool SetValue(HiveData& hive, const std::string& path, const RegValue& value) {
  KeyData* key = hive.Find(path);
  if (!key) return false;
  for (auto& l : key->lines) {
    if (l.value && EqualsIgnoringCase(l.value->name, value.name)) {
      const std::string name = l.value->name;
      l.value = value;
      l.value->name = name;
      return true;
    }
  }
  key->lines.push_back(Line{value, {}});
  return true;
}

DWORD DeleteValue(HiveData& hive, const std::string& path, std::string_view name) {
  KeyData* key = hive.Find(path);
  if (!key) return ERROR_KEY_DELETED;
  auto it = std::find_if(key->lines.begin(), key->lines.end(),
                         [&](const Line& l) { return l.value && EqualsIgnoringCase(l.value->name, name); });
  if (it == key->lines.end()) return ERROR_FILE_NOT_FOUND;
  key->lines.erase(it);
  return ERROR_SUCCESS;
}

DWORD DeleteKey(HiveData& hive, const std::string& path) {
  const KeyData* key = hive.Find(path);
  if (!key) return ERROR_FILE_NOT_FOUND;
  if (!ChildrenOf(hive, key->path).empty()) return ERROR_ACCESS_DENIED;
  const std::string lower = ToLowerAscii(path);
  std::erase_if(hive.keys, [&](const KeyData& d) { return ToLowerAscii(d.path) == lower; });
  hive.Reindex();
  return ERROR_SUCCESS;
}

void DeleteTree(HiveData& hive, const std::string& path) {
  const std::string lower = ToLowerAscii(path);
  std::erase_if(hive.keys,
                [&](const KeyData& d) { return !d.path.empty() && IsDescendantOrSelf(ToLowerAscii(d.path), lower); });
  hive.Reindex();
}

}  // namespace plat::hive
