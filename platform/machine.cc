#include "platform/machine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "platform/errors.h"
#include "platform/posix_env.h"
#include "platform/request_scope.h"
#include "platform/text.h"

namespace plat {

namespace {

// Guards the machine root given by SetCurrentMachineRoot, read by every path
// and registry operation.
std::mutex rootMutex;
std::string cachedRoot;
bool rootKnown = false;

constexpr const char* kDownMarker = "machine.down";

std::string StripTrailingSlashes(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string ParentFolder(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool IsMachineFolder(const std::string& root) {
  struct stat st;
  return ::stat((RegistryDir(root) + "/HKLM.reg").c_str(), &st) == 0;
}

}  // namespace

std::string CurrentMachineRoot() {
  std::lock_guard<std::mutex> lock(rootMutex);
  if (rootKnown) return cachedRoot;
  // Not cached: a module loaded into a process carries its own copy of this
  // layer, and must follow the machine the process switches to.
  const char* env = std::getenv("PORTULON_MACHINE");
  return env ? StripTrailingSlashes(env) : std::string();
}

void SetCurrentMachineRoot(const std::string& root) {
  std::lock_guard<std::mutex> lock(rootMutex);
  cachedRoot = StripTrailingSlashes(root);
  rootKnown = true;
  ::setenv("PORTULON_MACHINE", cachedRoot.c_str(), 1);
}

std::string NetworkRoot() {
  if (const char* env = std::getenv("PORTULON_NETWORK"); env && *env) {
    return StripTrailingSlashes(env);
  }
  const std::string root = CurrentMachineRoot();
  return root.empty() ? std::string() : ParentFolder(root);
}

DWORD FindMachine(std::string_view name, std::string* root, bool mustBeUp) {
  // A machine that was there and up is taken as such for the rest of a request.
  const std::string key =
      scope::Active() && mustBeUp ? "machine:" + NetworkRoot() + "|" + ToLowerAscii(name) : std::string();
  if (!key.empty() && scope::Recall(key, root)) return ERROR_SUCCESS;
  std::string found;
  if (name.empty() || name == ".") {
    found = CurrentMachineRoot();
    if (found.empty()) return ERROR_BAD_NETPATH;
  } else {
    if (name.find_first_of("/\\") != std::string_view::npos || name == "..") {
      return ERROR_BAD_NETPATH;
    }
    const std::string network = NetworkRoot();
    if (network.empty()) return ERROR_BAD_NETPATH;
    const std::string entry = posix::FindEntryIgnoringCase(network, name);
    found = network + "/" + entry;
    if (!IsMachineFolder(found)) return ERROR_BAD_NETPATH;
  }
  if (mustBeUp && IsMachineDown(found)) return ERROR_BAD_NETPATH;
  if (!key.empty()) scope::Remember(key, found);
  *root = found;
  return ERROR_SUCCESS;
}

bool IsMachineDown(const std::string& root) {
  struct stat st;
  return ::stat((root + "/" + kDownMarker).c_str(), &st) == 0;
}

DWORD SetMachineDown(const std::string& root, bool down) {
  if (!IsMachineFolder(root)) return ERROR_BAD_NETPATH;
  const std::string marker = root + "/" + kDownMarker;
  if (down) {
    FILE* f = std::fopen(marker.c_str(), "w");
    if (!f) return ErrorFromErrno(errno);
    std::fclose(f);
    return ERROR_SUCCESS;
  }
  if (::unlink(marker.c_str()) != 0 && errno != ENOENT) return ErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

std::string RegistryDir(const std::string& root) { return root + "/registry"; }
std::string DriveCDir(const std::string& root) { return root + "/drive_c"; }
std::string EventLogDir(const std::string& root) { return root + "/eventlog"; }
std::string PipesDir(const std::string& root) { return root + "/pipes"; }
std::string ServicesDir(const std::string& root) { return root + "/services"; }

}  // namespace plat
