#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "platform/errors.h"
#include "platform/hive_text.h"
#include "platform/machine.h"
#include "platform/posix_env.h"
#include "platform/posix_fd.h"
#include "platform/request_scope.h"
#include "platform/text.h"

namespace plat {

namespace {

using namespace hive;

const char* kHiveFileName[] = {"HKLM.reg", "HKU.reg", "HKU.reg"};
constexpr const char* kCurrentUserPrefix = ".DEFAULT";

std::string HivePrefixName(Hive h) {
  return h == Hive::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_USERS";
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
    const int fd = posix::Open(file, O_RDONLY);
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

DWORD WriteHiveFile(const std::string& file, const std::string& rootName, const HiveData& hive) {
  struct stat st;
  if (DWORD err = posix::ReplaceAtomically(file, FormatHive(hive, rootName), {}, &st); err != ERROR_SUCCESS) {
    return err;
  }
  Remember(file, IdentityOf(st), std::make_shared<const HiveData>(hive));
  return ERROR_SUCCESS;
}

// Read-modify-write of one hive under its lock. `change` edits a private copy
// and returns a Win32 code; nothing is written unless it succeeds.
template <typename Change>
DWORD ModifyHive(const std::string& file, const std::string& rootName, Change change) {
  // Every process of every machine that writes this hive takes its lock.
  posix::LockedFile lock;
  if (DWORD err = lock.Open(file, O_RDWR | O_CREAT, LOCK_EX); err != ERROR_SUCCESS) return err;
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
    return ModifyHive(k.hiveFile_, RootName(k), [&](HiveData& h) { return DeleteKey(h, full); });
  }

  static DWORD Set(const RegKey& k, const RegValue& value) {
    if (!k.valid()) return ERROR_INVALID_HANDLE;
    if (!StorableName(value.name)) return ERROR_INVALID_PARAMETER;
    const std::string path = StoredPath(k);
    return ModifyHive(k.hiveFile_, RootName(k), [&](HiveData& h) -> DWORD {
      // The current user's root springs into being on first use.
      if (k.hive_ == Hive::CurrentUser && k.path_.empty()) EnsureKey(h, path);
      return SetValue(h, path, value) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
    });
  }

  static DWORD Delete(const RegKey& k, std::string_view name) {
    if (!k.valid()) return ERROR_INVALID_HANDLE;
    const std::string path = StoredPath(k);
    return ModifyHive(k.hiveFile_, RootName(k), [&](HiveData& h) { return DeleteValue(h, path, name); });
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
            DeleteTree(h, e.path);
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
