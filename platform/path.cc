#include "platform/path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/posix_env.h"
#include "platform/posix_fd.h"
#include "platform/registry.h"
#include "platform/request_scope.h"
#include "platform/smb_client.h"

namespace plat {

namespace {

// Guards the process's Windows current directory once it has been set;
// until then it follows the host working directory.
std::mutex cwdMutex;
std::string explicitCwd;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::vector<std::string> SplitComponents(std::string_view path) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (IsSeparator(c)) {
      if (!current.empty()) parts.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(std::move(current));
  return parts;
}

// Applies "." and ".." to components. With `confined`, ".." above the first
// component is an error (a UNC path must stay inside its share); otherwise it
// stays at the root, as on a drive.
bool Normalize(std::vector<std::string>* parts, bool confined) {
  std::vector<std::string> out;
  for (auto& p : *parts) {
    if (p == ".") continue;
    if (p == "..") {
      if (out.empty()) {
        if (confined) return false;
        continue;
      }
      out.pop_back();
      continue;
    }
    out.push_back(std::move(p));
  }
  *parts = std::move(out);
  return true;
}

bool Exists(const std::string& hostPath) {
  struct stat st;
  return ::lstat(hostPath.c_str(), &st) == 0;
}

// Walks `parts` below the host folder `base`, matching existing components
// case-insensitively.
std::string WalkIgnoringCase(const std::string& base, const std::vector<std::string>& parts) {
  std::string exact = base;
  for (const auto& p : parts) exact += "/" + p;
  if (parts.empty() || Exists(exact)) return exact;

  std::string current = base;
  bool dirExists = true;
  for (const auto& p : parts) {
    if (dirExists) {
      const std::string exactPart = current + "/" + p;
      if (Exists(exactPart)) {
        current = exactPart;
        continue;
      }
      std::string stored;
      dirExists = posix::FindEntryIgnoringCase(current, p, &stored);
      current += "/" + (dirExists ? stored : p);
    } else {
      current += "/" + p;
    }
  }
  return current;
}

std::string JoinHost(const std::string& base, const std::vector<std::string>& parts) {
  if (base != "/") return WalkIgnoringCase(base, parts);
  const std::string joined = WalkIgnoringCase(std::string(), parts);
  return joined.empty() ? std::string("/") : joined;
}

DWORD ResolveUnc(std::string_view path, std::string* hostPath);

// Resolves a drive path ("C:\..." or "Z:\...") on machine `root`.
DWORD ResolveDrive(char drive, std::string_view rest, const std::string& root,
                   std::string* hostPath) {
  std::vector<std::string> parts = SplitComponents(rest);
  Normalize(&parts, false);
  const char d = static_cast<char>(std::toupper(static_cast<unsigned char>(drive)));
  if (d == 'Z') {
    *hostPath = JoinHost("/", parts);
    return ERROR_SUCCESS;
  }
  if (d == 'C') {
    if (root.empty()) return ERROR_PATH_NOT_FOUND;
    *hostPath = JoinHost(DriveCDir(root), parts);
    return ERROR_SUCCESS;
  }
  return ERROR_PATH_NOT_FOUND;
}

bool IsDrivePath(std::string_view p) {
  return p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':';
}

// The share's folder on its machine, as a Windows path ("C:\Program Files\...").
DWORD LookupShare(std::string_view machine, std::string_view share, std::string* sharePath) {
  RegKey hklm;
  if (DWORD err = RegKey::Connect(machine, Hive::LocalMachine, &hklm); err != ERROR_SUCCESS) {
    return err;
  }
  RegKey shares;
  if (hklm.OpenSubKey(kSharesKey, &shares) != ERROR_SUCCESS) return ERROR_BAD_NET_NAME;
  std::vector<std::string> entries;
  if (shares.QueryMultiString(share, &entries) != ERROR_SUCCESS) {
    std::string single;
    if (shares.QueryString(share, &single) != ERROR_SUCCESS) return ERROR_BAD_NET_NAME;
    entries.push_back(single);
  }
  for (const auto& e : entries) {
    if (e.size() > 5 && EqualsIgnoringCase(e.substr(0, 5), "Path=")) {
      *sharePath = e.substr(5);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_BAD_NET_NAME;
}

// A share's folder found once, good while the machine's HKLM hive (which holds
// the share table) is the same file version and the machine is not down. A
// data file on a share is opened many times per second; looking the share up
// afresh each time meant a dozen file-system calls and a hive lookup.
struct ShareFolder {
  std::string root;       // the machine folder
  std::string hostPath;   // the share's folder on the host
  posix::FileIdentity hive;
};

class ShareFolderCache {
 public:
  bool Find(const std::string& key, ShareFolder* out) {
    ShareFolder entry;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = entries_.find(key);
      if (it == entries_.end()) return false;
      entry = it->second;
    }
    posix::FileIdentity hive;
    if (!posix::IdentityOfPath(RegistryDir(entry.root) + "/HKLM.reg", &hive) || !(hive == entry.hive) ||
        IsMachineDown(entry.root)) {
      return false;
    }
    *out = std::move(entry);
    return true;
  }
  void Put(const std::string& key, ShareFolder entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.size() > 256) entries_.clear();
    entries_.insert_or_assign(key, std::move(entry));
  }

 private:
  std::mutex mutex_;  // guards entries_
  std::unordered_map<std::string, ShareFolder> entries_;  // "network|machine|share", lower case
};

ShareFolderCache& ShareFolders() {
  static ShareFolderCache cache;
  return cache;
}

DWORD ResolveShare(const std::string& machine, const std::string& share, ShareFolder* out) {
  const std::string key = NetworkRoot() + "|" + ToLowerAscii(machine) + "|" + ToLowerAscii(share);
  // Looked at once per request; its parts joined by a character no name holds.
  const std::string scopeKey = scope::Active() ? "share:" + key : std::string();
  if (!scopeKey.empty()) {
    std::string joined;
    if (scope::Recall(scopeKey, &joined)) {
      const size_t cut = joined.find('\n');
      out->root = joined.substr(0, cut);
      out->hostPath = joined.substr(cut + 1);
      return ERROR_SUCCESS;
    }
  }
  if (ShareFolders().Find(key, out)) {
    if (!scopeKey.empty()) scope::Remember(scopeKey, out->root + "\n" + out->hostPath);
    return ERROR_SUCCESS;
  }
  std::string root;
  if (DWORD err = FindMachine(machine, &root, true); err != ERROR_SUCCESS) return err;
  // The hive's identity is taken before the lookup: a change made meanwhile
  // makes the entry stale at once rather than hiding it.
  posix::FileIdentity hive;
  const bool haveHive = posix::IdentityOfPath(RegistryDir(root) + "/HKLM.reg", &hive);
  std::string sharePath;
  if (DWORD err = LookupShare(machine, share, &sharePath); err != ERROR_SUCCESS) return err;
  if (!IsDrivePath(sharePath)) return ERROR_BAD_NET_NAME;
  std::string shareHost;
  if (DWORD err = ResolveDrive(sharePath[0], sharePath.substr(2), root, &shareHost);
      err != ERROR_SUCCESS) {
    return err;
  }
  *out = ShareFolder{root, shareHost, hive};
  if (haveHive) ShareFolders().Put(key, *out);
  if (!scopeKey.empty()) scope::Remember(scopeKey, out->root + "\n" + out->hostPath);
  return ERROR_SUCCESS;
}

// Whether the current machine has a network logon, and so is a host of a
// real network (one stat, about a microsecond).
bool HasNetworkLogon(const std::string& self) {
  return !self.empty() && Exists(self + "/" + smb::kLogonFileName);
}

// True when a UNC path of `machine` leads over SMB: this machine has a
// network logon, and `machine` is no machine folder of the network (up or
// down) or is this machine itself. A host's own shares are reached through
// its server as the other hosts reach them, so that the locks the server
// enforces between hosts hold for its own processes too.
bool OnAnotherHost(const std::string& machine) {
  const std::string self = CurrentMachineRoot();
  if (!HasNetworkLogon(self)) return false;
  const size_t slash = self.find_last_of('/');
  if (EqualsIgnoringCase(machine, slash == std::string::npos ? self : self.substr(slash + 1))) return true;
  std::string root;
  return FindMachine(machine, &root, false) != ERROR_SUCCESS;
}

// "smb://HOST/SHARE/a/b" of a UNC path of another host.
DWORD RemoteUrl(const std::string& machine, const std::string& share, const std::string& rest,
                std::string* url) {
  std::vector<std::string> parts = SplitComponents(rest);
  if (!Normalize(&parts, true)) return ERROR_ACCESS_DENIED;
  *url = "smb://" + machine + "/" + share;
  for (const auto& p : parts) *url += "/" + p;
  return ERROR_SUCCESS;
}

DWORD ResolveUnc(std::string_view path, std::string* hostPath) {
  std::string machine, share, rest;
  if (!SplitUncPath(path, &machine, &share, &rest) || share.empty()) return ERROR_BAD_NETPATH;
  if (OnAnotherHost(machine)) return ERROR_NOT_SUPPORTED;
  ShareFolder folder;
  if (DWORD err = ResolveShare(machine, share, &folder); err != ERROR_SUCCESS) return err;
  std::vector<std::string> restParts = SplitComponents(rest);
  if (!Normalize(&restParts, true)) return ERROR_ACCESS_DENIED;
  *hostPath = WalkIgnoringCase(folder.hostPath, restParts);
  return ERROR_SUCCESS;
}

}  // namespace

bool SplitUncPath(std::string_view path, std::string* machine, std::string* share,
                  std::string* rest) {
  if (path.size() < 3 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return false;
  std::string_view tail = path.substr(2);
  size_t i = 0;
  while (i < tail.size() && !IsSeparator(tail[i])) ++i;
  if (i == 0) return false;  // no machine: the parts stay as they were
  *machine = std::string(tail.substr(0, i));
  while (i < tail.size() && IsSeparator(tail[i])) ++i;
  size_t j = i;
  while (j < tail.size() && !IsSeparator(tail[j])) ++j;
  *share = std::string(tail.substr(i, j - i));
  *rest = j < tail.size() ? std::string(tail.substr(j)) : std::string();
  return true;
}

DWORD ResolvePath(std::string_view windowsPath, std::string* hostPath) {
  if (windowsPath.empty()) return ERROR_INVALID_NAME;
  const bool unc =
      windowsPath.size() >= 2 && IsSeparator(windowsPath[0]) && IsSeparator(windowsPath[1]);
  if (unc || IsDrivePath(windowsPath)) {
    const bool inScope = scope::Active();
    const std::string key = inScope ? "path:" + std::string(windowsPath) : std::string();
    if (inScope && scope::Recall(key, hostPath)) return ERROR_SUCCESS;
    const DWORD err =
        unc ? ResolveUnc(windowsPath, hostPath)
            : ResolveDrive(windowsPath[0], windowsPath.substr(2), CurrentMachineRoot(), hostPath);
    if (inScope && err == ERROR_SUCCESS) scope::Remember(key, *hostPath);
    return err;
  }
  const std::string cwd = GetCurrentDirectory();
  if (IsSeparator(windowsPath[0])) {
    // Root of the current drive (or of the current share).
    std::string m, s, r;
    if (SplitUncPath(cwd, &m, &s, &r)) {
      return ResolveUnc("\\\\" + m + "\\" + s + std::string(windowsPath), hostPath);
    }
    if (!IsDrivePath(cwd)) return ERROR_PATH_NOT_FOUND;
    return ResolveDrive(cwd[0], windowsPath, CurrentMachineRoot(), hostPath);
  }
  return ResolvePath(cwd + "\\" + std::string(windowsPath), hostPath);
}

DWORD ResolveLocation(std::string_view windowsPath, FileLocation* location) {
  location->remote = false;
  const DWORD err = ResolvePath(windowsPath, &location->path);
  std::string machine, share, rest;
  if (err != ERROR_NOT_SUPPORTED || !SplitUncPath(windowsPath, &machine, &share, &rest)) return err;
  location->remote = true;
  return RemoteUrl(machine, share, rest, &location->path);
}

std::string HostToWindowsPath(const std::string& hostPath) {
  std::string root = CurrentMachineRoot();
  std::string drive = root.empty() ? std::string() : DriveCDir(root);
  auto toBackslashes = [](std::string s) {
    for (auto& c : s) {
      if (c == '/') c = '\\';
    }
    return s;
  };
  if (!drive.empty()) {
    if (hostPath == drive) return "C:\\";
    if (hostPath.compare(0, drive.size() + 1, drive + "/") == 0) {
      return "C:\\" + toBackslashes(hostPath.substr(drive.size() + 1));
    }
  }
  if (hostPath.empty() || hostPath[0] != '/') return toBackslashes(hostPath);
  return "Z:" + toBackslashes(hostPath);
}

std::string GetCurrentDirectory() {
  {
    std::lock_guard<std::mutex> lock(cwdMutex);
    if (!explicitCwd.empty()) return explicitCwd;
  }
  char buf[4096];
  if (!::getcwd(buf, sizeof buf)) return "C:\\";
  return HostToWindowsPath(buf);
}

DWORD SetCurrentDirectory(std::string_view windowsPath) {
  std::string absolute(windowsPath);
  if (!(IsDrivePath(absolute) || (absolute.size() > 1 && IsSeparator(absolute[0]) &&
                                  IsSeparator(absolute[1])))) {
    absolute = GetCurrentDirectory() + "\\" + absolute;
  }
  std::string host;
  if (DWORD err = ResolvePath(absolute, &host); err != ERROR_SUCCESS) return err;
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) return ERROR_PATH_NOT_FOUND;
  if (!S_ISDIR(st.st_mode)) return ERROR_DIRECTORY;
  if (::chdir(host.c_str()) != 0) return ErrorFromErrno(errno);
  while (absolute.size() > 3 && IsSeparator(absolute.back())) absolute.pop_back();
  std::lock_guard<std::mutex> lock(cwdMutex);
  explicitCwd = absolute;
  return ERROR_SUCCESS;
}

}  // namespace plat
