#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/posix_fd.h"
#include "platform/request_scope.h"
#include "platform/text.h"

namespace plat {

namespace {

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

const char* kHiveFileName[] = {"HKLM.reg", "HKU.reg", "HKU.reg"};
constexpr const char* kCurrentUserPrefix = ".DEFAULT";

std::string HivePrefixName(Hive h) {
  return h == Hive::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_USERS";
}

// ---------------------------------------------------------------- key paths

std::string NormalizeKeyPath(std::string_view path) {
  std::string out, part;
  auto flush = [&] {
    if (part.empty()) return;
    if (!out.empty()) out += '\\';
    out += part;
    part.clear();
  };
  for (char c : path) {
    if (c == '\\') {
      flush();
    } else {
      part += c;
    }
  }
  flush();
  return out;
}

std::string JoinKey(std::string_view a, std::string_view b) {
  if (a.empty()) return std::string(b);
  if (b.empty()) return std::string(a);
  return std::string(a) + "\\" + std::string(b);
}

std::string ParentKey(const std::string& path) {
  const auto slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string LastComponent(const std::string& path) {
  const auto slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return ToLowerAscii(a) < ToLowerAscii(b);
}

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

std::string QuoteString(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

bool NeedsHex(std::string_view s) {
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7f) return true;
  }
  return false;
}

std::string HexBytes(std::string_view data) {
  std::string out;
  char buf[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(data[i]));
    if (i) out += ',';
    out += buf;
  }
  return out;
}

std::string FormatValue(const RegValue& v) {
  std::string line = v.name.empty() ? std::string("@") : QuoteString(v.name);
  line += '=';
  if (v.type == REG_SZ && !NeedsHex(v.data)) {
    line += QuoteString(v.data);
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    DWORD d = 0;
    for (int i = 3; i >= 0; --i) d = (d << 8) | static_cast<unsigned char>(v.data[i]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", d);
    line += buf;
  } else if (v.type == REG_BINARY) {
    line += "hex:" + HexBytes(v.data);
  } else {
    // The type in hexadecimal, as the parser reads it.
    char type[16];
    std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(v.type));
    line += type + HexBytes(v.data);
  }
  return line;
}

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

// A value line: "name"=data or @=data. `deleted` is set for "name"=- (import only).
bool ParseValueLine(std::string_view line, RegValue* value, bool* deleted) {
  *deleted = false;
  size_t pos = 0;
  if (line.empty()) return false;
  if (line[0] == '@') {
    value->name.clear();
    pos = 1;
  } else if (!ParseQuoted(line, &pos, &value->name)) {
    return false;
  }
  if (pos >= line.size() || line[pos] != '=') return false;
  std::string_view data = line.substr(pos + 1);
  if (data == "-") {
    *deleted = true;
    return true;
  }
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
  *deletion = !inner.empty() && inner[0] == '-';
  if (*deletion) inner.remove_prefix(1);
  const auto slash = inner.find('\\');
  *rootName = std::string(inner.substr(0, slash));
  *path = slash == std::string_view::npos ? std::string() : NormalizeKeyPath(inner.substr(slash + 1));
  return !rootName->empty();
}

// Makes `path` and all its parents exist; returns the stored spelling.
std::string EnsureKey(HiveData& hive, const std::string& path) {
  if (const KeyData* k = hive.Find(path)) return k->path;
  std::string parent = path.empty() ? std::string() : EnsureKey(hive, ParentKey(path));
  std::string stored = JoinKey(parent, LastComponent(path));
  hive.keys.push_back(KeyData{stored, {}});
  hive.index[ToLowerAscii(stored)] = hive.keys.size() - 1;
  return stored;
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
    if (ParseSectionHeader(line, &deletion, &rootName, &path) && !deletion) {
      // A key's parents exist, even when the file has no section for them.
      current = hive.Find(EnsureKey(hive, path));
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
  std::vector<const KeyData*> order;
  for (const auto& k : hive.keys) order.push_back(&k);
  std::sort(order.begin(), order.end(), [](const KeyData* a, const KeyData* b) {
    return ToLowerAscii(a->path) < ToLowerAscii(b->path);
  });
  std::string out = "REGEDIT4\n";
  for (const auto& p : hive.preamble) out += p + "\n";
  for (const KeyData* k : order) {
    out += "\n[" + JoinKey(rootName, k->path) + "]\n";
    for (const auto& l : k->lines) out += (l.value ? FormatValue(*l.value) : l.raw) + "\n";
  }
  return out;
}

// ---------------------------------------------------------------- hive files

using posix::FileIdentity;
using posix::IdentityOf;

struct CachedHive {
  FileIdentity identity;
  std::shared_ptr<const HiveData> data;
};

// Guards the parsed-hive cache shared by all threads of the process.
std::mutex cacheMutex;
std::map<std::string, CachedHive> hiveCache;

std::shared_ptr<const HiveData> Cached(const std::string& file, const FileIdentity& id) {
  std::lock_guard<std::mutex> lock(cacheMutex);
  auto it = hiveCache.find(file);
  if (it != hiveCache.end() && it->second.identity == id) return it->second.data;
  return nullptr;
}

void Remember(const std::string& file, const FileIdentity& id, std::shared_ptr<const HiveData> d) {
  scope::NoteIdentity(file, id);
  std::lock_guard<std::mutex> lock(cacheMutex);
  hiveCache[file] = CachedHive{id, std::move(d)};
}


// The hive as it is on disk now, or as this request saw it first (Freshness::
// kAsSeen; see RequestScope). A missing file reads as an empty hive.
enum class Freshness { kAsSeen, kNow };
DWORD LoadHive(const std::string& file, std::shared_ptr<const HiveData>* out,
               Freshness freshness = Freshness::kAsSeen) {
  if (FileIdentity seen; freshness == Freshness::kAsSeen && scope::FindIdentity(file, &seen)) {
    if (auto cached = Cached(file, seen)) {
      *out = std::move(cached);
      return ERROR_SUCCESS;
    }
  }
  for (int attempt = 0; attempt < 5; ++attempt) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ENOENT) {
        scope::Forget(file);
        *out = std::make_shared<const HiveData>(ParseHive(""));
        return ERROR_SUCCESS;
      }
      return ErrorFromErrno(errno);
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
      const DWORD err = ErrorFromErrno(errno);
      ::close(fd);
      return err;
    }
    const FileIdentity id = IdentityOf(st);
    if (auto cached = Cached(file, id)) {
      scope::NoteIdentity(file, id);
      ::close(fd);
      *out = cached;
      return ERROR_SUCCESS;
    }
    std::string text;
    const DWORD err = posix::ReadToEnd(fd, &text);
    ::close(fd);
    if (err != ERROR_SUCCESS) return err;
    if (static_cast<off_t>(text.size()) != st.st_size) continue;  // replaced while reading
    auto parsed = std::make_shared<const HiveData>(ParseHive(text));
    Remember(file, id, parsed);
    *out = parsed;
    return ERROR_SUCCESS;
  }
  return ERROR_READ_FAULT;
}

// Holds the exclusive lock of a hive file for one read-modify-write.
class HiveLock {
 public:
  ~HiveLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  DWORD Acquire(const std::string& file) {
    for (;;) {
      fd_ = posix::OpenPrivate(file, O_RDWR | O_CREAT);
      if (fd_ < 0) return ErrorFromErrno(errno);
      while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) return ErrorFromErrno(errno);
      }
      // The file we locked may have been replaced by another writer's rename.
      struct stat held, named;
      if (::fstat(fd_, &held) == 0 && ::stat(file.c_str(), &named) == 0 &&
          held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
        return ERROR_SUCCESS;
      }
      ::close(fd_);
      fd_ = -1;
    }
  }

 private:
  int fd_ = -1;
};

DWORD WriteHiveFile(const std::string& file, const std::string& rootName, const HiveData& hive) {
  const std::string text = FormatHive(hive, rootName);
  const std::string temp = file + ".tmp." + std::to_string(::getpid()) + "." +
                           std::to_string(static_cast<unsigned long>(::gettid()));
  const int fd = posix::OpenPrivate(temp, O_WRONLY | O_CREAT | O_TRUNC);
  if (fd < 0) return ErrorFromErrno(errno);
  DWORD err = posix::WriteFully(fd, text);
  struct stat st;
  if (err == ERROR_SUCCESS && ::fstat(fd, &st) != 0) err = ErrorFromErrno(errno);
  ::close(fd);
  if (err == ERROR_SUCCESS && ::rename(temp.c_str(), file.c_str()) != 0) err = ErrorFromErrno(errno);
  if (err != ERROR_SUCCESS) {
    ::unlink(temp.c_str());
    return err;
  }
  Remember(file, IdentityOf(st), std::make_shared<const HiveData>(hive));
  return ERROR_SUCCESS;
}

// Read-modify-write of one hive under its lock. `change` edits a private copy
// and returns a Win32 code; nothing is written unless it succeeds.
template <typename Change>
DWORD ModifyHive(const std::string& file, const std::string& rootName, Change change) {
  HiveLock lock;
  if (DWORD err = lock.Acquire(file); err != ERROR_SUCCESS) return err;
  std::shared_ptr<const HiveData> current;
  if (DWORD err = LoadHive(file, &current, Freshness::kNow); err != ERROR_SUCCESS) return err;
  HiveData copy = *current;
  if (DWORD err = change(copy); err != ERROR_SUCCESS) return err;
  return WriteHiveFile(file, rootName, copy);
}

std::string DwordBytes(DWORD d) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((d >> (8 * i)) & 0xff);
  return s;
}

}  // namespace

// Access to a key's hive on behalf of RegKey (friend of RegKey).
class RegistryAccess {
 public:
  static std::string StoredPath(const RegKey& k) {
    return k.hive_ == Hive::CurrentUser ? JoinKey(kCurrentUserPrefix, k.path_) : k.path_;
  }
  static std::string RootName(const RegKey& k) { return HivePrefixName(k.hive_); }

  static DWORD MakeKey(Hive hive, const std::string& hiveFile, const std::string& path, RegKey* out) {
    out->hive_ = hive;
    out->hiveFile_ = hiveFile;
    out->path_ = path;
    return ERROR_SUCCESS;
  }

  // The hive and this key's data; ERROR_KEY_DELETED when the key is gone.
  static DWORD Load(const RegKey& k, std::shared_ptr<const HiveData>* hive, const KeyData** key) {
    if (!k.valid()) return ERROR_INVALID_HANDLE;
    if (DWORD err = LoadHive(k.hiveFile_, hive); err != ERROR_SUCCESS) return err;
    *key = (*hive)->Find(StoredPath(k));
    if (!*key) {
      // The current user's root springs into being on first use.
      if (k.hive_ == Hive::CurrentUser && k.path_.empty()) {
        static const KeyData empty;
        *key = &empty;
        return ERROR_SUCCESS;
      }
      return ERROR_KEY_DELETED;
    }
    return ERROR_SUCCESS;
  }

  static DWORD OpenSub(const RegKey& k, std::string_view subkey, bool create, RegKey* out) {
    if (!k.valid()) return ERROR_INVALID_HANDLE;
    const std::string rel = NormalizeKeyPath(subkey);
    const std::string full = JoinKey(StoredPath(k), rel);
    std::string stored;
    if (create) {
      if (!StorableName(rel)) return ERROR_INVALID_PARAMETER;
      const DWORD err = ModifyHive(k.hiveFile_, RootName(k), [&](HiveData& h) {
        stored = EnsureKey(h, full);
        return ERROR_SUCCESS;
      });
      if (err != ERROR_SUCCESS) return err;
    } else {
      std::shared_ptr<const HiveData> hive;
      if (DWORD err = LoadHive(k.hiveFile_, &hive); err != ERROR_SUCCESS) return err;
      const KeyData* found = hive->Find(full);
      if (!found) {
        if (k.hive_ == Hive::CurrentUser && full == kCurrentUserPrefix) {
          stored = full;
        } else {
          return ERROR_FILE_NOT_FOUND;
        }
      } else {
        stored = found->path;
      }
    }
    std::string own = stored;
    if (k.hive_ == Hive::CurrentUser) {
      const std::string prefix = std::string(kCurrentUserPrefix);
      own = own.size() > prefix.size() ? own.substr(prefix.size() + 1) : std::string();
    }
    return MakeKey(k.hive_, k.hiveFile_, own, out);
  }

  static DWORD DeleteSub(const RegKey& k, std::string_view subkey) {
    if (!k.valid()) return ERROR_INVALID_HANDLE;
    const std::string full = JoinKey(StoredPath(k), NormalizeKeyPath(subkey));
    if (NormalizeKeyPath(subkey).empty()) return ERROR_INVALID_PARAMETER;
    return ModifyHive(k.hiveFile_, RootName(k), [&](HiveData& h) -> DWORD {
      const KeyData* key = h.Find(full);
      if (!key) return ERROR_FILE_NOT_FOUND;
      if (!ChildrenOf(h, key->path).empty()) return ERROR_ACCESS_DENIED;
      const std::string lower = ToLowerAscii(full);
      h.keys.erase(std::remove_if(h.keys.begin(), h.keys.end(),
                                  [&](const KeyData& d) { return ToLowerAscii(d.path) == lower; }),
                   h.keys.end());
      h.Reindex();
      return ERROR_SUCCESS;
    });
  }

  static DWORD Set(const RegKey& k, const RegValue& value) {
    if (!k.valid()) return ERROR_INVALID_HANDLE;
    if (!StorableName(value.name)) return ERROR_INVALID_PARAMETER;
    const std::string path = StoredPath(k);
    return ModifyHive(k.hiveFile_, RootName(k), [&](HiveData& h) -> DWORD {
      KeyData* key = h.Find(path);
      if (!key) {
        if (!(k.hive_ == Hive::CurrentUser && k.path_.empty())) return ERROR_KEY_DELETED;
        EnsureKey(h, path);
        key = h.Find(path);
      }
      for (auto& l : key->lines) {
        if (l.value && EqualsIgnoringCase(l.value->name, value.name)) {
          const std::string name = l.value->name;
          l.value = value;
          l.value->name = name;
          return ERROR_SUCCESS;
        }
      }
      key->lines.push_back(Line{value, {}});
      return ERROR_SUCCESS;
    });
  }

  static DWORD Delete(const RegKey& k, std::string_view name) {
    if (!k.valid()) return ERROR_INVALID_HANDLE;
    const std::string path = StoredPath(k);
    return ModifyHive(k.hiveFile_, RootName(k), [&](HiveData& h) -> DWORD {
      KeyData* key = h.Find(path);
      if (!key) return ERROR_KEY_DELETED;
      auto it = std::find_if(key->lines.begin(), key->lines.end(), [&](const Line& l) {
        return l.value && EqualsIgnoringCase(l.value->name, name);
      });
      if (it == key->lines.end()) return ERROR_FILE_NOT_FOUND;
      key->lines.erase(it);
      return ERROR_SUCCESS;
    });
  }

  static DWORD Children(const RegKey& k, std::vector<std::string>* names) {
    std::shared_ptr<const HiveData> hive;
    const KeyData* key = nullptr;
    if (DWORD err = Load(k, &hive, &key); err != ERROR_SUCCESS) return err;
    *names = ChildrenOf(*hive, StoredPath(k));
    return ERROR_SUCCESS;
  }

  static DWORD Values(const RegKey& k, std::vector<RegValue>* values) {
    std::shared_ptr<const HiveData> hive;
    const KeyData* key = nullptr;
    if (DWORD err = Load(k, &hive, &key); err != ERROR_SUCCESS) return err;
    values->clear();
    for (const auto& l : key->lines) {
      if (l.value) values->push_back(*l.value);
    }
    return ERROR_SUCCESS;
  }

  static DWORD Export(const RegKey& k, std::string* text) {
    std::shared_ptr<const HiveData> hive;
    const KeyData* key = nullptr;
    if (DWORD err = Load(k, &hive, &key); err != ERROR_SUCCESS) return err;
    HiveData part;
    const std::string lower = ToLowerAscii(StoredPath(k));
    for (const auto& d : hive->keys) {
      if (IsDescendantOrSelf(ToLowerAscii(d.path), lower)) part.keys.push_back(d);
    }
    part.Reindex();
    *text = FormatHive(part, RootName(k));
    return ERROR_SUCCESS;
  }

  static DWORD Import(const std::string& machineRoot, std::string_view text) {
    const auto lines = LogicalLines(text);
    size_t first = 0;
    while (first < lines.size() && lines[first].empty()) ++first;
    if (first >= lines.size() || lines[first] != "REGEDIT4") return ERROR_INVALID_DATA;

    // Edits are grouped per hive file and applied under one lock each.
    struct Edit {
      bool deleteTree = false;
      std::string path;
      std::vector<std::pair<RegValue, bool>> values;  // value, deleted
    };
    std::map<std::string, std::vector<Edit>> perHive;  // root name -> edits
    Edit* current = nullptr;
    for (size_t i = first + 1; i < lines.size(); ++i) {
      const std::string& line = lines[i];
      if (line.empty() || line[0] == ';') continue;
      bool deletion = false;
      std::string rootName, path;
      if (line[0] == '[') {
        if (!ParseSectionHeader(line, &deletion, &rootName, &path) || !StorableName(path)) {
          return ERROR_INVALID_DATA;
        }
        Hive hive;
        if (!ParseHiveName(rootName, &hive)) return ERROR_INVALID_DATA;
        if (hive == Hive::CurrentUser) path = JoinKey(kCurrentUserPrefix, path);
        auto& edits = perHive[HivePrefixName(hive)];
        edits.push_back(Edit{deletion, path, {}});
        current = deletion ? nullptr : &edits.back();
        continue;
      }
      RegValue v;
      bool del = false;
      if (!current || !ParseValueLine(line, &v, &del) || !StorableName(v.name)) {
        return ERROR_INVALID_DATA;
      }
      current->values.emplace_back(std::move(v), del);
    }
    for (const auto& hiveEdits : perHive) {
      const std::string& rootName = hiveEdits.first;
      const std::vector<Edit>& edits = hiveEdits.second;
      const std::string file = RegistryDir(machineRoot) + "/" +
                               (rootName == "HKEY_LOCAL_MACHINE" ? "HKLM.reg" : "HKU.reg");
      const DWORD err = ModifyHive(file, rootName, [&](HiveData& h) -> DWORD {
        for (const auto& e : edits) {
          if (e.deleteTree) {
            const std::string lower = ToLowerAscii(e.path);
            h.keys.erase(std::remove_if(h.keys.begin(), h.keys.end(),
                                        [&](const KeyData& d) {
                                          return !d.path.empty() &&
                                                 IsDescendantOrSelf(ToLowerAscii(d.path), lower);
                                        }),
                         h.keys.end());
            h.Reindex();
            continue;
          }
          const std::string stored = EnsureKey(h, e.path);
          KeyData* key = h.Find(stored);
          for (const auto& edit : e.values) {
            const RegValue& v = edit.first;
            const bool del = edit.second;
            auto it = std::find_if(key->lines.begin(), key->lines.end(), [&](const Line& l) {
              return l.value && EqualsIgnoringCase(l.value->name, v.name);
            });
            if (del) {
              if (it != key->lines.end()) key->lines.erase(it);
            } else if (it != key->lines.end()) {
              it->value = v;
            } else {
              key->lines.push_back(Line{v, {}});
            }
          }
        }
        return ERROR_SUCCESS;
      });
      if (err != ERROR_SUCCESS) return err;
    }
    return ERROR_SUCCESS;
  }
};

// The folder of the machine whose registry `machine` ("\\NAME", "NAME", or
// empty for our own) names; a remote machine must be up.
static DWORD RegistryMachineRoot(std::string_view machine, std::string* root) {
  while (!machine.empty() && (machine.front() == '\\' || machine.front() == '/')) {
    machine.remove_prefix(1);
  }
  if (!machine.empty()) return FindMachine(machine, root, true);
  *root = CurrentMachineRoot();
  return root->empty() ? ERROR_PATH_NOT_FOUND : ERROR_SUCCESS;
}

bool ParseHiveName(std::string_view text, Hive* hive) {
  if (EqualsIgnoringCase(text, "HKLM") || EqualsIgnoringCase(text, "HKEY_LOCAL_MACHINE")) {
    *hive = Hive::LocalMachine;
  } else if (EqualsIgnoringCase(text, "HKU") || EqualsIgnoringCase(text, "HKEY_USERS")) {
    *hive = Hive::Users;
  } else if (EqualsIgnoringCase(text, "HKCU") || EqualsIgnoringCase(text, "HKEY_CURRENT_USER")) {
    *hive = Hive::CurrentUser;
  } else {
    return false;
  }
  return true;
}

const char* HiveName(Hive hive) {
  switch (hive) {
    case Hive::LocalMachine: return "HKEY_LOCAL_MACHINE";
    case Hive::Users: return "HKEY_USERS";
    case Hive::CurrentUser: return "HKEY_CURRENT_USER";
  }
  return "";
}

DWORD RegKey::Connect(std::string_view machine, Hive hive, RegKey* out) {
  std::string root;
  if (DWORD err = RegistryMachineRoot(machine, &root); err != ERROR_SUCCESS) return err;
  return ConnectRoot(root, hive, out);
}

DWORD RegKey::ConnectRoot(const std::string& machineRoot, Hive hive, RegKey* out) {
  if (machineRoot.empty()) return ERROR_PATH_NOT_FOUND;
  const std::string file = RegistryDir(machineRoot) + "/" + kHiveFileName[static_cast<int>(hive)];
  return RegistryAccess::MakeKey(hive, file, "", out);
}

DWORD RegKey::Open(Hive hive, std::string_view subkey, RegKey* out) {
  RegKey root;
  if (DWORD err = Connect("", hive, &root); err != ERROR_SUCCESS) return err;
  return root.OpenSubKey(subkey, out);
}

DWORD RegKey::Create(Hive hive, std::string_view subkey, RegKey* out) {
  RegKey root;
  if (DWORD err = Connect("", hive, &root); err != ERROR_SUCCESS) return err;
  return root.CreateSubKey(subkey, out);
}

DWORD RegKey::OpenSubKey(std::string_view subkey, RegKey* out) const {
  return RegistryAccess::OpenSub(*this, subkey, false, out);
}

DWORD RegKey::CreateSubKey(std::string_view subkey, RegKey* out) const {
  return RegistryAccess::OpenSub(*this, subkey, true, out);
}

DWORD RegKey::DeleteSubKey(std::string_view subkey) const {
  return RegistryAccess::DeleteSub(*this, subkey);
}

DWORD RegKey::QueryValue(std::string_view name, RegValue* value) const {
  std::shared_ptr<const HiveData> hive;
  const KeyData* key = nullptr;
  if (DWORD err = RegistryAccess::Load(*this, &hive, &key); err != ERROR_SUCCESS) return err;
  for (const auto& l : key->lines) {
    if (l.value && EqualsIgnoringCase(l.value->name, name)) {
      *value = *l.value;
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

DWORD RegKey::QueryDword(std::string_view name, DWORD* value) const {
  RegValue v;
  if (DWORD err = QueryValue(name, &v); err != ERROR_SUCCESS) return err;
  if (v.type != REG_DWORD || v.data.size() != 4) return ERROR_INVALID_DATA;
  DWORD d = 0;
  for (int i = 3; i >= 0; --i) d = (d << 8) | static_cast<unsigned char>(v.data[i]);
  *value = d;
  return ERROR_SUCCESS;
}

DWORD RegKey::QueryString(std::string_view name, std::string* value) const {
  RegValue v;
  if (DWORD err = QueryValue(name, &v); err != ERROR_SUCCESS) return err;
  if (v.type != REG_SZ && v.type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  *value = v.data;
  // A terminator that came in through binary data is not part of the text.
  if (auto nul = value->find('\0'); nul != std::string::npos) value->resize(nul);
  return ERROR_SUCCESS;
}

DWORD RegKey::QueryMultiString(std::string_view name, std::vector<std::string>* values) const {
  RegValue v;
  if (DWORD err = QueryValue(name, &v); err != ERROR_SUCCESS) return err;
  if (v.type != REG_MULTI_SZ) return ERROR_INVALID_DATA;
  values->clear();
  size_t start = 0;
  while (start < v.data.size()) {
    const size_t end = v.data.find('\0', start);
    const std::string item = v.data.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (item.empty()) break;
    values->push_back(item);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

DWORD RegKey::SetValue(const RegValue& value) const { return RegistryAccess::Set(*this, value); }

DWORD RegKey::SetDword(std::string_view name, DWORD value) const {
  return SetValue(RegValue{std::string(name), REG_DWORD, DwordBytes(value)});
}

DWORD RegKey::SetString(std::string_view name, std::string_view value) const {
  return SetValue(RegValue{std::string(name), REG_SZ, std::string(value)});
}

DWORD RegKey::SetMultiString(std::string_view name, const std::vector<std::string>& values) const {
  std::string data;
  for (const auto& v : values) {
    if (v.empty() || v.find('\0') != std::string::npos) return ERROR_INVALID_PARAMETER;
    data += v;
    data += '\0';
  }
  data += '\0';
  return SetValue(RegValue{std::string(name), REG_MULTI_SZ, data});
}

DWORD RegKey::DeleteValue(std::string_view name) const { return RegistryAccess::Delete(*this, name); }

DWORD RegKey::EnumKey(DWORD index, std::string* name) const {
  std::vector<std::string> names;
  if (DWORD err = ListSubKeys(&names); err != ERROR_SUCCESS) return err;
  if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
  *name = names[index];
  return ERROR_SUCCESS;
}

DWORD RegKey::EnumValue(DWORD index, RegValue* value) const {
  std::vector<RegValue> values;
  if (DWORD err = ListValues(&values); err != ERROR_SUCCESS) return err;
  if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
  *value = values[index];
  return ERROR_SUCCESS;
}

DWORD RegKey::ListSubKeys(std::vector<std::string>* names) const {
  return RegistryAccess::Children(*this, names);
}

DWORD RegKey::ListValues(std::vector<RegValue>* values) const {
  return RegistryAccess::Values(*this, values);
}

std::string RegKey::FullName() const { return JoinKey(HiveName(hive_), path_); }

DWORD RegReadDword(std::string_view subkey, std::string_view name, DWORD* value) {
  RegKey key;
  if (DWORD err = RegKey::Open(Hive::LocalMachine, subkey, &key); err != ERROR_SUCCESS) return err;
  return key.QueryDword(name, value);
}

DWORD RegReadString(std::string_view subkey, std::string_view name, std::string* value) {
  RegKey key;
  if (DWORD err = RegKey::Open(Hive::LocalMachine, subkey, &key); err != ERROR_SUCCESS) return err;
  return key.QueryString(name, value);
}

DWORD RegWriteDword(std::string_view subkey, std::string_view name, DWORD value) {
  RegKey key;
  if (DWORD err = RegKey::Create(Hive::LocalMachine, subkey, &key); err != ERROR_SUCCESS) return err;
  return key.SetDword(name, value);
}

DWORD RegWriteString(std::string_view subkey, std::string_view name, std::string_view value) {
  RegKey key;
  if (DWORD err = RegKey::Create(Hive::LocalMachine, subkey, &key); err != ERROR_SUCCESS) return err;
  return key.SetString(name, value);
}

DWORD RegExportText(const RegKey& key, std::string* text) { return RegistryAccess::Export(key, text); }

DWORD RegImportText(std::string_view machine, std::string_view text) {
  std::string root;
  if (DWORD err = RegistryMachineRoot(machine, &root); err != ERROR_SUCCESS) return err;
  return RegistryAccess::Import(root, text);
}

}  // namespace plat
