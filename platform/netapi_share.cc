// The share table of the current machine, and its publication by the host's
// SMB server (netapi.h).
#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/netapi.h"
#include "platform/path.h"
#include "platform/posix_env.h"
#include "platform/posix_fd.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace plat {

namespace {

DWORD OpenShares(bool create, RegKey* shares) {
  return create ? RegKey::Create(Hive::LocalMachine, kSharesKey, shares)
                : RegKey::Open(Hive::LocalMachine, kSharesKey, shares);
}

// A share value: "Name=value" entries, of which Path= and Remark= are read.
ShareInfo ShareFromValue(const RegKey& shares, const std::string& name) {
  ShareInfo share;
  share.name = name;
  std::vector<std::string> entries;
  if (shares.QueryMultiString(name, &entries) != ERROR_SUCCESS) {
    std::string single;
    if (shares.QueryString(name, &single) == ERROR_SUCCESS) entries.push_back(single);
  }
  for (const auto& e : entries) {
    const size_t eq = e.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = e.substr(0, eq);
    if (EqualsIgnoringCase(key, "Path")) share.path = e.substr(eq + 1);
    if (EqualsIgnoringCase(key, "Remark")) share.remark = e.substr(eq + 1);
  }
  return share;
}

bool HasControl(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) return true;
  }
  return false;
}

// Where the table is published: the include file's host path and the
// command that makes the server reread it. Not publishing when `file` is empty.
struct Publication {
  std::string file;
  std::string command;
  std::string unpublish;
};

DWORD ReadPublication(Publication* out) {
  RegKey params;
  if (RegKey::Open(Hive::LocalMachine, kShareParametersKey, &params) != ERROR_SUCCESS) return ERROR_SUCCESS;
  std::string file;
  if (params.QueryString(kSharePublishFile, &file) != ERROR_SUCCESS || file.empty()) return ERROR_SUCCESS;
  if (DWORD err = ResolvePath(file, &out->file); err != ERROR_SUCCESS) return err;
  params.QueryString(kSharePublishCommand, &out->command);
  params.QueryString(kShareUnpublishCommand, &out->unpublish);
  return ERROR_SUCCESS;
}

// The server's configuration for `shares`.
DWORD IncludeText(const std::vector<ShareInfo>& shares, std::string* text) {
  *text = "# The shares of this machine's share table, rewritten on every change to it.\n";
  for (const auto& s : shares) {
    std::string folder;
    if (DWORD err = ResolvePath(s.path, &folder); err != ERROR_SUCCESS) return err;
    *text += "\n[" + s.name + "]\n  path = " + folder + "\n";
    if (!s.remark.empty()) *text += "  comment = " + s.remark + "\n";
    *text += "  read only = no\n";
  }
  return ERROR_SUCCESS;
}

// Runs one of the server's commands; NERR_ServerNotStarted when it fails.
DWORD RunServerCommand(const std::string& commandLine) {
  if (commandLine.empty()) return ERROR_SUCCESS;
  ProcessOptions options;
  options.wait = true;
  DWORD exitCode = 0;
  if (DWORD err = RunCommandLine(commandLine, options, &exitCode); err != ERROR_SUCCESS) return err;
  return exitCode == 0 ? ERROR_SUCCESS : NERR_ServerNotStarted;
}

// Writes the include file for `shares` and has the server reread it.
DWORD Publish(const Publication& where, const std::vector<ShareInfo>& shares) {
  std::string text;
  if (DWORD err = IncludeText(shares, &text); err != ERROR_SUCCESS) return err;
  if (DWORD err = posix::ReplaceAtomically(where.file, text); err != ERROR_SUCCESS) return err;
  return RunServerCommand(where.command);
}

// Changes the table from `before` to `after` (the registry by `apply`),
// published first: a server that cannot take it leaves everything as it was.
template <typename Apply>
DWORD ChangeTable(const Publication& where, const std::vector<ShareInfo>& before,
                  const std::vector<ShareInfo>& after, Apply apply) {
  if (!where.file.empty()) {
    if (DWORD err = Publish(where, after); err != ERROR_SUCCESS) {
      Publish(where, before);
      return err;
    }
  }
  const DWORD err = apply();
  if (err != ERROR_SUCCESS && !where.file.empty()) Publish(where, before);
  return err;
}

// Serialises changes of the table between processes while it is published:
// an exclusive lock on the include file's folder (the file itself is replaced
// by every change, so a lock on it would not hold).
class TableLock {
 public:
  DWORD Take(const Publication& where) {
    if (where.file.empty()) return ERROR_SUCCESS;
    const size_t slash = where.file.find_last_of('/');
    const std::string folder = slash == 0 ? "/" : where.file.substr(0, slash);
    folder_.reset(posix::Open(folder, O_RDONLY | O_DIRECTORY));
    if (!folder_.valid()) return ErrorFromErrno(errno);
    if (posix::Lock(folder_.get(), LOCK_EX, folder) != 0) return ErrorFromErrno(errno);
    return ERROR_SUCCESS;
  }

 private:
  posix::UniqueFd folder_;
};

}  // namespace

DWORD NetShareEnum(std::vector<ShareInfo>* shares) {
  shares->clear();
  RegKey key;
  if (OpenShares(false, &key) != ERROR_SUCCESS) return ERROR_SUCCESS;
  std::vector<RegValue> values;
  if (DWORD err = key.ListValues(&values); err != ERROR_SUCCESS) return err;
  for (const auto& v : values) shares->push_back(ShareFromValue(key, v.name));
  return ERROR_SUCCESS;
}

DWORD NetShareGetInfo(std::string_view name, ShareInfo* share) {
  RegKey key;
  RegValue value;
  if (OpenShares(false, &key) != ERROR_SUCCESS || key.QueryValue(name, &value) != ERROR_SUCCESS) {
    return NERR_NetNameNotFound;
  }
  *share = ShareFromValue(key, value.name);
  return ERROR_SUCCESS;
}

DWORD NetShareAdd(const ShareInfo& share) {
  if (share.name.empty() || share.name.find_first_of("\\/[]") != std::string::npos ||
      HasControl(share.name) || HasControl(share.path) || HasControl(share.remark)) {
    return ERROR_INVALID_NAME;
  }
  std::string path = share.path;
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  const bool drivePath = path.size() >= 2 && path[1] == ':';
  if (!drivePath || !DirectoryExists(path)) return NERR_UnknownDevDir;

  Publication where;
  if (DWORD err = ReadPublication(&where); err != ERROR_SUCCESS) return err;
  TableLock lock;
  if (DWORD err = lock.Take(where); err != ERROR_SUCCESS) return err;
  std::vector<ShareInfo> before;
  if (DWORD err = NetShareEnum(&before); err != ERROR_SUCCESS) return err;
  for (const auto& s : before) {
    if (EqualsIgnoringCase(s.name, share.name)) return NERR_DuplicateShare;
  }
  std::vector<ShareInfo> after = before;
  after.push_back(ShareInfo{share.name, path, share.remark});
  return ChangeTable(where, before, after, [&] {
    RegKey key;
    if (DWORD err = OpenShares(true, &key); err != ERROR_SUCCESS) return err;
    return key.SetMultiString(share.name, {"Path=" + path, "Remark=" + share.remark});
  });
}

DWORD NetShareDel(std::string_view name) {
  Publication where;
  if (DWORD err = ReadPublication(&where); err != ERROR_SUCCESS) return err;
  TableLock lock;
  if (DWORD err = lock.Take(where); err != ERROR_SUCCESS) return err;
  ShareInfo gone;
  if (DWORD err = NetShareGetInfo(name, &gone); err != ERROR_SUCCESS) return err;
  std::vector<ShareInfo> before;
  if (DWORD err = NetShareEnum(&before); err != ERROR_SUCCESS) return err;
  std::vector<ShareInfo> after;
  for (const auto& s : before) {
    if (!EqualsIgnoringCase(s.name, gone.name)) after.push_back(s);
  }
  const DWORD err = ChangeTable(where, before, after, [&] {
    RegKey key;
    if (DWORD err = OpenShares(false, &key); err != ERROR_SUCCESS) return err;
    return key.DeleteValue(gone.name);
  });
  if (err != ERROR_SUCCESS || where.file.empty() || where.unpublish.empty()) return err;
  // The share is gone from the table and the configuration; a server that
  // could not end its connections to it is reported.
  return RunServerCommand(where.unpublish + " " + JoinCommandLine({gone.name}));
}

}  // namespace plat
