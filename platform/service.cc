#include "platform/service.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/posix_env.h"
#include "platform/posix_fd.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace plat {

namespace {

using Clock = std::chrono::steady_clock;

// What the manager hands to the service process it starts.
constexpr const char* kNameVariable = "PORTULON_SERVICE_NAME";
constexpr const char* kStateVariable = "PORTULON_SERVICE_STATE";

// Files in a service's state folder.
constexpr const char* kStatusFile = "status";
// One line per status the service reported since its last start.
constexpr const char* kJournalFile = "status.log";
constexpr const char* kControlSocket = "control";
constexpr const char* kArgsFile = "args";
constexpr const char* kStartLockFile = "start.lock";

constexpr int kStartTimeoutMs = 30000;
constexpr int kControlReplyTimeoutMs = 30000;
// A connected manager sends its control code at once; a silent one is a start probe.
constexpr int kControlReadTimeoutMs = 5000;
constexpr int kPollIntervalMs = 20;
// After SERVICE_STOPPED the dispatcher gives the main function this long to
// return before leaving it running on its own.
constexpr int kMainReturnGraceMs = 2000;

constexpr const char* kLocalSystem = "LocalSystem";

// ------------------------------------------------------------------ small RAII

using posix::UniqueFd;


// An exclusive lock on a file or folder, held for the object's lifetime.
class FileLock {
 public:
  DWORD Acquire(const std::string& path, bool directory) {
    return file_.Open(path, directory ? (O_RDONLY | O_DIRECTORY) : (O_RDWR | O_CREAT), LOCK_EX);
  }

 private:
  posix::LockedFile file_;  // closing it drops the lock
};

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}


// ------------------------------------------------------------------ processes

struct ProcessStat {
  bool exists = false;
  bool zombie = false;
  unsigned long long startTime = 0;  // clock ticks since boot
};

// Reads /proc/<pid>/stat: the state (field 3) and the start time (field 22),
// which together tell a live service from a reused pid.
ProcessStat ReadProcessStat(long pid) {
  ProcessStat result;
  if (pid <= 0) return result;
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return result;
  char buf[1024];
  ssize_t n;
  do {
    n = ::read(fd.get(), buf, sizeof buf - 1);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return result;
  buf[n] = '\0';
  // The command name (field 2) may hold blanks and parentheses: skip to the last ')'.
  const char* p = std::strrchr(buf, ')');
  if (!p) return result;
  result.exists = true;
  ++p;
  int field = 2;
  const char* token = p;
  while (*token) {
    while (*token == ' ') ++token;
    if (!*token) break;
    ++field;
    if (field == 3) result.zombie = *token == 'Z' || *token == 'X';
    if (field == 22) {
      result.startTime = std::strtoull(token, nullptr, 10);
      break;
    }
    while (*token && *token != ' ') ++token;
  }
  return result;
}

bool ProcessAlive(long pid, unsigned long long startTime) {
  const ProcessStat st = ReadProcessStat(pid);
  if (!st.exists || st.zombie) return false;
  return startTime == 0 || st.startTime == startTime;
}

// ------------------------------------------------------------------ state folder

bool ValidServiceName(std::string_view name) {
  if (name.empty() || name.size() > 256 || name == "." || name == "..") return false;
  for (char c : name) {
    if (c == '\\' || c == '/' || c == '\0' || c == '\n' || c == '\r') return false;
  }
  return true;
}

std::string StateDir(const std::string& machineRoot, std::string_view name) {
  return ServicesDir(machineRoot) + "/" + ToLowerAscii(name);
}

DWORD EnsureStateDir(const std::string& dir) {
  const std::string parent = dir.substr(0, dir.rfind('/'));
  if (::mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST) return ErrorFromErrno(errno);
  // The control socket inside must not be reachable by other local users.
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return ErrorFromErrno(errno);
  if (::chmod(dir.c_str(), 0700) != 0) return ErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

DWORD WriteFileAtomically(const std::string& dir, const char* name, std::string_view contents) {
  posix::ReplaceOptions options;
  options.mode = 0600;
  return posix::ReplaceAtomically(dir + "/" + name, contents, options);
}

DWORD ReadSmallFile(const std::string& path, std::string* contents) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return ErrorFromErrno(errno);
  return posix::ReadToEnd(fd.get(), contents);
}

// ------------------------------------------------------------------ status file

struct StatusRecord {
  SERVICE_STATUS status;
  long pid = 0;
  unsigned long long startTime = 0;
};

std::string FormatStatus(const StatusRecord& r) {
  const SERVICE_STATUS& s = r.status;
  return FormatText(
      "Type=%u\nCurrentState=%u\nControlsAccepted=%u\nWin32ExitCode=%u\n"
      "ServiceSpecificExitCode=%u\nCheckPoint=%u\nWaitHint=%u\nPid=%ld\nStartTime=%llu\n",
      s.dwServiceType, s.dwCurrentState, s.dwControlsAccepted, s.dwWin32ExitCode,
      s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint, r.pid, r.startTime);
}

StatusRecord ParseStatus(const std::string& text) {
  StatusRecord r;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const char* value = line.c_str() + eq + 1;
    const auto dword = static_cast<DWORD>(std::strtoul(value, nullptr, 10));
    SERVICE_STATUS& s = r.status;
    if (key == "Type") s.dwServiceType = dword;
    else if (key == "CurrentState") s.dwCurrentState = dword;
    else if (key == "ControlsAccepted") s.dwControlsAccepted = dword;
    else if (key == "Win32ExitCode") s.dwWin32ExitCode = dword;
    else if (key == "ServiceSpecificExitCode") s.dwServiceSpecificExitCode = dword;
    else if (key == "CheckPoint") s.dwCheckPoint = dword;
    else if (key == "WaitHint") s.dwWaitHint = dword;
    else if (key == "Pid") r.pid = std::strtol(value, nullptr, 10);
    else if (key == "StartTime") r.startTime = std::strtoull(value, nullptr, 10);
  }
  return r;
}

// The status as last written, without looking at the process. A missing file
// is a service that never ran: stopped.
StatusRecord ReadStatusFile(const std::string& dir) {
  std::string text;
  if (ReadSmallFile(dir + "/" + kStatusFile, &text) != ERROR_SUCCESS) return StatusRecord();
  return ParseStatus(text);
}

StatusRecord AsStopped(StatusRecord r) {
  r.status.dwCurrentState = SERVICE_STOPPED;
  r.status.dwControlsAccepted = 0;
  r.status.dwCheckPoint = 0;
  r.status.dwWaitHint = 0;
  r.pid = 0;
  r.startTime = 0;
  return r;
}

// The status as the manager reports it: a service whose process is gone is
// stopped, whatever it wrote last (its exit codes stay).
StatusRecord ReadLiveStatus(const std::string& dir) {
  StatusRecord r = ReadStatusFile(dir);
  if (r.status.dwCurrentState != SERVICE_STOPPED && !ProcessAlive(r.pid, r.startTime)) {
    return AsStopped(r);
  }
  if (r.status.dwCurrentState == SERVICE_STOPPED) r.pid = 0;
  return r;
}

// Status writes of the manager and of the service process exclude each other
// through a lock on the state folder.
DWORD WriteStatusLocked(const std::string& dir, const StatusRecord& r) {
  FileLock lock;
  if (DWORD err = lock.Acquire(dir, true); err != ERROR_SUCCESS) return err;
  return WriteFileAtomically(dir, kStatusFile, FormatStatus(r));
}

std::string FormatJournalLine(const SERVICE_STATUS& s) {
  return FormatText("%u %u %u %u %u %u %u\n", s.dwCurrentState, s.dwCheckPoint, s.dwWaitHint,
                    s.dwControlsAccepted, s.dwWin32ExitCode, s.dwServiceSpecificExitCode,
                    s.dwServiceType);
}

void AppendJournal(const std::string& dir, const SERVICE_STATUS& s) {
  const int fd = ::open((dir + "/" + kJournalFile).c_str(),
                        O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const std::string line = FormatJournalLine(s);
  // One write of a short line: appends from several writers never interleave.
  [[maybe_unused]] const ssize_t n = ::write(fd, line.data(), line.size());
  ::close(fd);
}

// ------------------------------------------------------------------ control socket

// Connects to the dispatcher of the service in `dir`; an invalid descriptor
// when nothing listens there.
UniqueFd ConnectControl(const std::string& dir) {
  posix::UnixAddress addr;
  if (addr.Set(dir, kControlSocket) != ERROR_SUCCESS) return UniqueFd();
  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return UniqueFd();
  int rc;
  do {
    rc = ::connect(fd.get(), addr.get(), addr.size());
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return UniqueFd();
  return fd;
}

// ------------------------------------------------------------------ database

DWORD OpenServicesKey(const std::string& machineRoot, RegKey* services) {
  RegKey hklm;
  if (DWORD err = RegKey::ConnectRoot(machineRoot, Hive::LocalMachine, &hklm); err != ERROR_SUCCESS) {
    return err;
  }
  return hklm.CreateSubKey(kServicesKey, services);
}

bool IsServiceKey(const RegKey& key) {
  RegValue value;
  return key.QueryValue("ImagePath", &value) == ERROR_SUCCESS;
}

// Opens the key of an existing service; ERROR_SERVICE_DOES_NOT_EXIST for a
// missing key or one without an ImagePath.
DWORD OpenServiceKey(const std::string& machineRoot, std::string_view name, RegKey* key) {
  if (!ValidServiceName(name)) return ERROR_SERVICE_DOES_NOT_EXIST;
  RegKey services;
  if (DWORD err = OpenServicesKey(machineRoot, &services); err != ERROR_SUCCESS) return err;
  const DWORD err = services.OpenSubKey(name, key);
  if (err == ERROR_FILE_NOT_FOUND || err == ERROR_KEY_DELETED) return ERROR_SERVICE_DOES_NOT_EXIST;
  if (err != ERROR_SUCCESS) return err;
  return IsServiceKey(*key) ? ERROR_SUCCESS : ERROR_SERVICE_DOES_NOT_EXIST;
}

std::string StoredName(const RegKey& key) {
  const std::string& path = key.path();
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void ReadConfig(const RegKey& key, ServiceConfig* config) {
  ServiceConfig c;
  c.name = StoredName(key);
  key.QueryDword("Type", &c.type);
  key.QueryDword("Start", &c.startType);
  key.QueryDword("ErrorControl", &c.errorControl);
  key.QueryString("ImagePath", &c.binaryPath);
  if (key.QueryString("DisplayName", &c.displayName) != ERROR_SUCCESS) c.displayName = c.name;
  if (key.QueryString("ObjectName", &c.account) != ERROR_SUCCESS || c.account.empty()) {
    c.account = kLocalSystem;
  }
  *config = c;
}

bool ValidSettings(DWORD startType, DWORD errorControl) {
  return (startType == SERVICE_NO_CHANGE || startType <= SERVICE_DISABLED) &&
         (errorControl == SERVICE_NO_CHANGE || errorControl <= 3);
}

// DOMAIN\name or .\name, both parts present.
bool ValidAccountForm(std::string_view account) {
  const size_t slash = account.find('\\');
  return slash != std::string_view::npos && slash > 0 && slash + 1 < account.size() &&
         account.find('\\', slash + 1) == std::string_view::npos;
}

DWORD DeleteKeyTree(const RegKey& parent, const std::string& name) {
  RegKey key;
  if (DWORD err = parent.OpenSubKey(name, &key); err != ERROR_SUCCESS) return err;
  std::vector<std::string> children;
  if (DWORD err = key.ListSubKeys(&children); err != ERROR_SUCCESS) return err;
  for (const auto& child : children) {
    if (DWORD err = DeleteKeyTree(key, child); err != ERROR_SUCCESS) return err;
  }
  return parent.DeleteSubKey(name);
}

// The machine's system directory, where services start.
std::string SystemDirectoryOf(const std::string& machineRoot) {
  std::string windows = "C:\\WINNT";
  RegKey hklm, version;
  if (RegKey::ConnectRoot(machineRoot, Hive::LocalMachine, &hklm) == ERROR_SUCCESS &&
      hklm.OpenSubKey(kWindowsVersionKey, &version) == ERROR_SUCCESS) {
    std::string root;
    if (version.QueryString("SystemRoot", &root) == ERROR_SUCCESS && !root.empty()) windows = root;
  }
  while (!windows.empty() && windows.back() == '\\') windows.pop_back();
  return windows + "\\system32";
}

// Launches a service's command line. An unquoted one with blanks in its
// program name ("C:\Program Files\Portulon\plsvc.exe") is read as Windows
// reads it: each blank in turn may end the program name, shortest first.
DWORD LaunchImage(const std::string& imagePath, const ProcessOptions& options, DWORD* pid) {
  DWORD err = RunCommandLine(imagePath, options, nullptr, pid);
  if (err != ERROR_FILE_NOT_FOUND || imagePath.empty() || imagePath.front() == '"') return err;
  size_t blank = imagePath.find(' ');
  while (blank != std::string::npos && err == ERROR_FILE_NOT_FOUND) {
    blank = imagePath.find(' ', blank + 1);
    const std::string program = imagePath.substr(0, blank);
    const std::string rest = blank == std::string::npos ? std::string() : imagePath.substr(blank);
    err = RunCommandLine("\"" + program + "\"" + rest, options, nullptr, pid);
  }
  return err;
}

// Start parameters travel in a file of the state folder, each followed by a NUL.
std::string EncodeArgs(const std::vector<std::string>& args) {
  std::string text;
  for (const auto& a : args) {
    text += a;
    text += '\0';
  }
  return text;
}

std::vector<std::string> DecodeArgs(const std::string& text) {
  std::vector<std::string> args;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\0', pos);
    if (end == std::string::npos) end = text.size();
    args.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return args;
}

// ------------------------------------------------------------------ service side

// The dispatcher of this process, when the control manager started it.
struct DispatcherState {
  std::mutex mutex;  // guards every member below
  std::condition_variable mainDone;
  bool active = false;
  SERVICE_STATUS_HANDLE handle = 0;  // changes with each dispatcher run
  std::string stateDir;
  HandlerFunction handler = nullptr;
  bool stopped = false;       // SERVICE_STOPPED was reported
  bool mainReturned = false;
  int wakeFd = -1;            // write end of the pipe that wakes the dispatcher
  unsigned long long startTime = 0;
  SERVICE_STATUS_HANDLE nextHandle = 1;
};

DispatcherState& Dispatcher() {
  static DispatcherState state;
  return state;
}

void WakeDispatcherLocked(DispatcherState& d) {
  if (d.wakeFd < 0) return;
  const char byte = 1;
  // A full pipe already holds a wake-up.
  [[maybe_unused]] const ssize_t n = ::write(d.wakeFd, &byte, 1);
}

// The dispatcher's control socket. Closing removes the socket file, unless a
// newer run of the service has bound the name since.
class ControlListener {
 public:
  ControlListener() = default;
  ~ControlListener() { Close(); }
  ControlListener(const ControlListener&) = delete;
  ControlListener& operator=(const ControlListener&) = delete;

  // Replaces whatever socket an earlier run left behind.
  DWORD Bind(const std::string& dir) {
    path_ = dir + "/" + kControlSocket;
    ::unlink(path_.c_str());
    posix::UnixAddress addr;
    if (DWORD err = addr.Set(dir, kControlSocket); err != ERROR_SUCCESS) return err;
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return ErrorFromErrno(errno);
    if (::bind(fd.get(), addr.get(), addr.size()) != 0) {
      return ErrorFromErrno(errno);
    }
    fd_ = std::move(fd);
    // The folder (0700) already keeps others out; the mode says so as well.
    ::chmod(path_.c_str(), 0600);
    struct stat st;
    if (::stat(path_.c_str(), &st) == 0) {
      device_ = st.st_dev;
      inode_ = st.st_ino;
    }
    return ERROR_SUCCESS;
  }

  DWORD Listen() { return ::listen(fd_.get(), 16) == 0 ? ERROR_SUCCESS : ErrorFromErrno(errno); }

  void Close() {
    if (!fd_.valid()) return;
    struct stat st;
    if (::stat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_) {
      ::unlink(path_.c_str());
    }
    fd_.reset();
  }

  int fd() const { return fd_.get(); }

 private:
  UniqueFd fd_;
  std::string path_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

// Accepts one connection on the control socket and runs its control code
// through the handler on this thread.
void ServeControl(int listenFd) {
  UniqueFd conn(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC));
  if (!conn.valid()) return;
  if (!posix::WaitReadable(conn.get(), kControlReadTimeoutMs)) return;
  DWORD control = 0;
  ssize_t n;
  do {
    n = ::recv(conn.get(), &control, sizeof control, 0);
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(sizeof control)) return;  // a start probe, or garbage

  HandlerFunction handler;
  {
    DispatcherState& d = Dispatcher();
    std::lock_guard<std::mutex> lock(d.mutex);
    handler = d.handler;
  }
  DWORD result = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  if (handler) {
    handler(control);
    result = ERROR_SUCCESS;
  }
  ::send(conn.get(), &result, sizeof result, MSG_NOSIGNAL);
}

}  // namespace

// ------------------------------------------------------------------ ServiceManager

DWORD ServiceManager::Open(std::string_view machine, ServiceManager* out) {
  while (!machine.empty() && (machine.front() == '\\' || machine.front() == '/')) {
    machine.remove_prefix(1);
  }
  std::string root;
  if (DWORD err = FindMachine(machine, &root, false); err != ERROR_SUCCESS) return err;
  // A down machine refuses remote callers; its own processes still reach it.
  if (root != CurrentMachineRoot() && IsMachineDown(root)) return ERROR_BAD_NETPATH;
  *out = ServiceManager();
  out->machineRoot_ = root;
  return ERROR_SUCCESS;
}

DWORD ServiceManager::CreateService(const ServiceConfig& config, std::string_view password,
                                    ServiceHandle* out) const {
  (void)password;  // only the account's form is checked; there is no one to ask about passwords
  if (!valid()) return ERROR_INVALID_HANDLE;
  if (!ValidServiceName(config.name)) return ERROR_INVALID_NAME;
  if (config.binaryPath.empty() || !ValidSettings(config.startType, config.errorControl) ||
      config.startType == SERVICE_NO_CHANGE || config.errorControl == SERVICE_NO_CHANGE) {
    return ERROR_INVALID_PARAMETER;
  }
  const std::string account = config.account.empty() ? kLocalSystem : config.account;
  if (!EqualsIgnoringCase(account, kLocalSystem) && !ValidAccountForm(account)) {
    return ERROR_INVALID_SERVICE_ACCOUNT;
  }
  RegKey services;
  if (DWORD err = OpenServicesKey(machineRoot_, &services); err != ERROR_SUCCESS) return err;
  RegKey key;
  // A key without an ImagePath (left by an uninstall, or holding only
  // parameters) is no service and may become one.
  if (services.OpenSubKey(config.name, &key) == ERROR_SUCCESS && IsServiceKey(key)) {
    return ERROR_SERVICE_EXISTS;
  }
  if (DWORD err = services.CreateSubKey(config.name, &key); err != ERROR_SUCCESS) return err;
  DWORD err = key.SetDword("Type", config.type);
  if (err == ERROR_SUCCESS) err = key.SetDword("Start", config.startType);
  if (err == ERROR_SUCCESS) err = key.SetDword("ErrorControl", config.errorControl);
  if (err == ERROR_SUCCESS) {
    err = key.SetString("DisplayName", config.displayName.empty() ? StoredName(key) : config.displayName);
  }
  if (err == ERROR_SUCCESS) err = key.SetString("ObjectName", account);
  // ImagePath last: only a completely written key reads as a service.
  if (err == ERROR_SUCCESS) err = key.SetString("ImagePath", config.binaryPath);
  if (err != ERROR_SUCCESS) return err;
  if (out) {
    *out = ServiceHandle();
    out->machineRoot_ = machineRoot_;
    out->name_ = StoredName(key);
  }
  return ERROR_SUCCESS;
}

DWORD ServiceManager::OpenService(std::string_view name, ServiceHandle* out) const {
  if (!valid()) return ERROR_INVALID_HANDLE;
  RegKey key;
  if (DWORD err = OpenServiceKey(machineRoot_, name, &key); err != ERROR_SUCCESS) return err;
  *out = ServiceHandle();
  out->machineRoot_ = machineRoot_;
  out->name_ = StoredName(key);
  return ERROR_SUCCESS;
}

DWORD ServiceManager::EnumServices(std::vector<std::string>* names) const {
  if (!valid()) return ERROR_INVALID_HANDLE;
  RegKey services;
  if (DWORD err = OpenServicesKey(machineRoot_, &services); err != ERROR_SUCCESS) return err;
  std::vector<std::string> keys;
  if (DWORD err = services.ListSubKeys(&keys); err != ERROR_SUCCESS) return err;
  names->clear();
  for (const auto& k : keys) {
    RegKey key;
    if (services.OpenSubKey(k, &key) == ERROR_SUCCESS && IsServiceKey(key)) names->push_back(k);
  }
  return ERROR_SUCCESS;
}

// ------------------------------------------------------------------ ServiceHandle

DWORD ServiceHandle::Start(const std::vector<std::string>& args) const {
  if (!valid()) return ERROR_INVALID_HANDLE;
  RegKey key;
  if (DWORD err = OpenServiceKey(machineRoot_, name_, &key); err != ERROR_SUCCESS) return err;
  ServiceConfig config;
  ReadConfig(key, &config);
  if (config.startType == SERVICE_DISABLED) return ERROR_SERVICE_DISABLED;

  const std::string dir = StateDir(machineRoot_, name_);
  if (DWORD err = EnsureStateDir(dir); err != ERROR_SUCCESS) return err;
  // One start at a time, from whichever process.
  FileLock startLock;
  if (DWORD err = startLock.Acquire(dir + "/" + kStartLockFile, false); err != ERROR_SUCCESS) {
    return err;
  }
  if (ReadLiveStatus(dir).status.dwCurrentState != SERVICE_STOPPED) {
    return ERROR_SERVICE_ALREADY_RUNNING;
  }
  if (DWORD err = WriteFileAtomically(dir, kArgsFile, EncodeArgs(args)); err != ERROR_SUCCESS) {
    return err;
  }
  ::unlink((dir + "/" + kJournalFile).c_str());

  ProcessOptions options;
  options.wait = false;
  options.currentDirectory = SystemDirectoryOf(machineRoot_);
  options.machineRoot = machineRoot_;
  options.environment = {{kNameVariable, name_}, {kStateVariable, dir + "/"}};
  DWORD pid = 0;
  if (DWORD err = LaunchImage(config.binaryPath, options, &pid); err != ERROR_SUCCESS) {
    return err;
  }
  const unsigned long long startTime = ReadProcessStat(pid).startTime;
  {
    FileLock statusLock;
    if (DWORD err = statusLock.Acquire(dir, true); err != ERROR_SUCCESS) return err;
    // The service may already have reported for itself; that is newer.
    if (ReadStatusFile(dir).pid != static_cast<long>(pid)) {
      StatusRecord pending;
      pending.status.dwCurrentState = SERVICE_START_PENDING;
      pending.status.dwWaitHint = 2000;
      pending.pid = pid;
      pending.startTime = startTime;
      WriteFileAtomically(dir, kStatusFile, FormatStatus(pending));
    }
  }

  const auto deadline = Clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  for (;;) {
    if (ConnectControl(dir).valid()) return ERROR_SUCCESS;
    if (!ProcessAlive(pid, startTime) || RemainingMs(deadline) == 0) break;
    SleepMs(kPollIntervalMs);
  }
  // A service that connected, reported and ended at once (say, with
  // SERVICE_STOPPED and its exit code) did start: its own status stands.
  std::string journal;
  if (!ProcessAlive(pid, startTime) &&
      ReadSmallFile(dir + "/" + kJournalFile, &journal) == ERROR_SUCCESS && !journal.empty()) {
    return ERROR_SUCCESS;
  }
  // Never connected: a program left hanging is ended, so that the state stays true.
  if (ProcessAlive(pid, startTime)) ::kill(static_cast<pid_t>(pid), SIGKILL);
  StatusRecord stopped;
  stopped.status.dwWin32ExitCode = ERROR_SERVICE_REQUEST_TIMEOUT;
  WriteStatusLocked(dir, stopped);
  return ERROR_SERVICE_REQUEST_TIMEOUT;
}

DWORD ServiceHandle::Control(DWORD control, SERVICE_STATUS* status) const {
  if (!valid()) return ERROR_INVALID_HANDLE;
  const bool userDefined = control >= 128 && control <= 255;
  if (!userDefined && (control < SERVICE_CONTROL_STOP || control > SERVICE_CONTROL_SHUTDOWN)) {
    return ERROR_INVALID_PARAMETER;
  }
  const std::string dir = StateDir(machineRoot_, name_);
  StatusRecord current = ReadLiveStatus(dir);
  if (status) *status = current.status;
  const SERVICE_STATUS& s = current.status;
  if (s.dwCurrentState == SERVICE_STOPPED) return ERROR_SERVICE_NOT_ACTIVE;

  // As the control manager does: refuse what the service does not accept,
  // and anything but interrogate while it starts or stops.
  if (control != SERVICE_CONTROL_INTERROGATE) {
    if (s.dwCurrentState == SERVICE_START_PENDING || s.dwCurrentState == SERVICE_STOP_PENDING) {
      return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    }
    DWORD needed = 0;
    if (control == SERVICE_CONTROL_STOP) needed = SERVICE_ACCEPT_STOP;
    if (control == SERVICE_CONTROL_PAUSE || control == SERVICE_CONTROL_CONTINUE) {
      needed = SERVICE_ACCEPT_PAUSE_CONTINUE;
    }
    if (control == SERVICE_CONTROL_SHUTDOWN) needed = SERVICE_ACCEPT_SHUTDOWN;
    if ((s.dwControlsAccepted & needed) != needed) return ERROR_INVALID_SERVICE_CONTROL;
  }

  UniqueFd fd = ConnectControl(dir);
  auto stateNow = [&dir, status]() {
    const StatusRecord now = ReadLiveStatus(dir);
    if (status) *status = now.status;
    return now.status.dwCurrentState;
  };
  if (!fd.valid()) {
    return stateNow() == SERVICE_STOPPED ? ERROR_SERVICE_NOT_ACTIVE : ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  }
  if (::send(fd.get(), &control, sizeof control, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof control)) {
    return stateNow() == SERVICE_STOPPED ? ERROR_SERVICE_NOT_ACTIVE : ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  }
  if (!posix::WaitReadable(fd.get(), kControlReplyTimeoutMs)) {
    stateNow();
    return ERROR_SERVICE_REQUEST_TIMEOUT;
  }
  DWORD result = 0;
  ssize_t n;
  do {
    n = ::recv(fd.get(), &result, sizeof result, 0);
  } while (n < 0 && errno == EINTR);
  const DWORD state = stateNow();
  if (n != static_cast<ssize_t>(sizeof result)) {
    // The process went away while handling the control: done if it is stopped.
    return state == SERVICE_STOPPED ? ERROR_SUCCESS : ERROR_SERVICE_REQUEST_TIMEOUT;
  }
  return result;
}

DWORD ServiceHandle::QueryStatusHistory(std::vector<SERVICE_STATUS>* history) const {
  if (!valid()) return ERROR_INVALID_HANDLE;
  history->clear();
  std::string text;
  const DWORD err = ReadSmallFile(StateDir(machineRoot_, name_) + "/" + kJournalFile, &text);
  if (err == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (err != ERROR_SUCCESS) return err;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) break;  // a line still being written
    SERVICE_STATUS s;
    if (std::sscanf(text.c_str() + pos, "%u %u %u %u %u %u %u", &s.dwCurrentState, &s.dwCheckPoint,
                    &s.dwWaitHint, &s.dwControlsAccepted, &s.dwWin32ExitCode,
                    &s.dwServiceSpecificExitCode, &s.dwServiceType) == 7) {
      history->push_back(s);
    }
    pos = end + 1;
  }
  return ERROR_SUCCESS;
}

DWORD ServiceHandle::QueryStatus(SERVICE_STATUS* status) const {
  if (!valid()) return ERROR_INVALID_HANDLE;
  *status = ReadLiveStatus(StateDir(machineRoot_, name_)).status;
  return ERROR_SUCCESS;
}

DWORD ServiceHandle::QueryConfig(ServiceConfig* config) const {
  if (!valid()) return ERROR_INVALID_HANDLE;
  RegKey key;
  if (DWORD err = OpenServiceKey(machineRoot_, name_, &key); err != ERROR_SUCCESS) return err;
  ReadConfig(key, config);
  return ERROR_SUCCESS;
}

DWORD ServiceHandle::ChangeConfig(DWORD type, DWORD startType, DWORD errorControl,
                                  std::string_view binaryPath, std::string_view displayName) const {
  if (!valid()) return ERROR_INVALID_HANDLE;
  if (!ValidSettings(startType, errorControl)) return ERROR_INVALID_PARAMETER;
  RegKey key;
  if (DWORD err = OpenServiceKey(machineRoot_, name_, &key); err != ERROR_SUCCESS) return err;
  DWORD err = ERROR_SUCCESS;
  if (type != SERVICE_NO_CHANGE) err = key.SetDword("Type", type);
  if (err == ERROR_SUCCESS && startType != SERVICE_NO_CHANGE) err = key.SetDword("Start", startType);
  if (err == ERROR_SUCCESS && errorControl != SERVICE_NO_CHANGE) {
    err = key.SetDword("ErrorControl", errorControl);
  }
  if (err == ERROR_SUCCESS && !binaryPath.empty()) err = key.SetString("ImagePath", binaryPath);
  if (err == ERROR_SUCCESS && !displayName.empty()) err = key.SetString("DisplayName", displayName);
  return err;
}

DWORD ServiceHandle::Delete() const {
  if (!valid()) return ERROR_INVALID_HANDLE;
  RegKey key, services;
  if (DWORD err = OpenServiceKey(machineRoot_, name_, &key); err != ERROR_SUCCESS) return err;
  if (DWORD err = OpenServicesKey(machineRoot_, &services); err != ERROR_SUCCESS) return err;
  const DWORD err = DeleteKeyTree(services, StoredName(key));
  return err == ERROR_FILE_NOT_FOUND ? ERROR_SERVICE_DOES_NOT_EXIST : err;
}

DWORD ServiceHandle::ProcessId() const {
  if (!valid()) return 0;
  const StatusRecord r = ReadLiveStatus(StateDir(machineRoot_, name_));
  return r.status.dwCurrentState == SERVICE_STOPPED ? 0 : static_cast<DWORD>(r.pid);
}

DWORD WaitForServiceState(const ServiceHandle& service, DWORD state, DWORD timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    SERVICE_STATUS status;
    if (service.QueryStatus(&status) == ERROR_SUCCESS && status.dwCurrentState == state) {
      return ERROR_SUCCESS;
    }
    const int left = RemainingMs(deadline);
    if (left == 0) return ERROR_SERVICE_REQUEST_TIMEOUT;
    SleepMs(left < kPollIntervalMs ? left : kPollIntervalMs);
  }
}

namespace {

// How long a starting service may stay START_PENDING before it counts as hung.
constexpr int kAutoStartTimeoutMs = 60000;

// Waits until the service leaves START_PENDING. ERROR_SUCCESS when it runs;
// its exit code (or ERROR_SERVICE_NOT_ACTIVE) when it stopped instead;
// ERROR_SERVICE_REQUEST_TIMEOUT when it is still starting.
DWORD WaitWhileStarting(const ServiceHandle& service) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kAutoStartTimeoutMs);
  for (;;) {
    SERVICE_STATUS status;
    if (DWORD err = service.QueryStatus(&status); err != ERROR_SUCCESS) return err;
    if (status.dwCurrentState == SERVICE_STOPPED) {
      if (status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR ||
          status.dwWin32ExitCode == ERROR_SUCCESS) {
        return ERROR_SERVICE_NOT_ACTIVE;
      }
      return status.dwWin32ExitCode;
    }
    if (status.dwCurrentState != SERVICE_START_PENDING) return ERROR_SUCCESS;
    const int left = RemainingMs(deadline);
    if (left == 0) return ERROR_SERVICE_REQUEST_TIMEOUT;
    SleepMs(left < kPollIntervalMs ? left : kPollIntervalMs);
  }
}

}  // namespace

DWORD StartAutomaticServices(std::string_view machine) {
  ServiceManager manager;
  if (DWORD err = ServiceManager::Open(machine, &manager); err != ERROR_SUCCESS) return err;
  std::vector<std::string> names;
  if (DWORD err = manager.EnumServices(&names); err != ERROR_SUCCESS) return err;
  DWORD first = ERROR_SUCCESS;
  for (const auto& name : names) {
    ServiceHandle service;
    ServiceConfig config;
    SERVICE_STATUS status;
    DWORD err = manager.OpenService(name, &service);
    if (err == ERROR_SUCCESS) err = service.QueryConfig(&config);
    if (err == ERROR_SUCCESS && config.startType != SERVICE_AUTO_START) continue;
    if (err == ERROR_SUCCESS) err = service.QueryStatus(&status);
    if (err == ERROR_SUCCESS && status.dwCurrentState != SERVICE_STOPPED) continue;
    if (err == ERROR_SUCCESS) err = service.Start();
    // As at boot, the next service starts only once this one reports running.
    if (err == ERROR_SUCCESS) err = WaitWhileStarting(service);
    if (err != ERROR_SUCCESS && first == ERROR_SUCCESS) first = err;
  }
  return first;
}

// ------------------------------------------------------------------ service side

DWORD StartServiceCtrlDispatcher(const SERVICE_TABLE_ENTRY* table) {
  auto fail = [](DWORD err) {
    SetLastError(err);
    return err;
  };
  const char* nameEnv = std::getenv(kNameVariable);
  if (!nameEnv || !*nameEnv) return fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  if (!table || !table[0].serviceName || !table[0].serviceProc) return fail(ERROR_INVALID_PARAMETER);
  const std::string name = nameEnv;
  std::string dir;
  if (const char* stateEnv = std::getenv(kStateVariable); stateEnv && *stateEnv) {
    dir = stateEnv;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  } else {
    dir = StateDir(CurrentMachineRoot(), name);
  }

  DispatcherState& d = Dispatcher();
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.active) return fail(ERROR_SERVICE_ALREADY_RUNNING);
  }
  // Programs this service starts were not started by the control manager.
  ::unsetenv(kNameVariable);
  ::unsetenv(kStateVariable);

  if (DWORD err = EnsureStateDir(dir); err != ERROR_SUCCESS) return fail(err);
  ControlListener listener;
  if (DWORD err = listener.Bind(dir); err != ERROR_SUCCESS) return fail(err);
  int wakePipe[2];
  if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) return fail(ErrorFromErrno(errno));
  UniqueFd wakeRead(wakePipe[0]);
  UniqueFd wakeWrite(wakePipe[1]);

  std::vector<std::string> args{name};
  std::string argsText;
  if (ReadSmallFile(dir + "/" + kArgsFile, &argsText) == ERROR_SUCCESS) {
    for (auto& a : DecodeArgs(argsText)) args.push_back(std::move(a));
    ::unlink((dir + "/" + kArgsFile).c_str());
  }

  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.active = true;
    d.handle = d.nextHandle++;
    d.stateDir = dir;
    d.handler = nullptr;
    d.stopped = false;
    d.mainReturned = false;
    d.wakeFd = wakeWrite.get();
    d.startTime = ReadProcessStat(::getpid()).startTime;
  }
  // Only now may the manager connect: it takes the connection as "started".
  if (DWORD err = listener.Listen(); err != ERROR_SUCCESS) {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.active = false;
    d.wakeFd = -1;
    return fail(err);
  }

  const ServiceMainFunction serviceMain = table[0].serviceProc;
  std::thread mainThread([serviceMain, args]() mutable {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    serviceMain(static_cast<DWORD>(args.size()), argv.data());
    DispatcherState& state = Dispatcher();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.mainReturned = true;
    state.mainDone.notify_all();
    WakeDispatcherLocked(state);
  });

  for (;;) {
    {
      std::lock_guard<std::mutex> lock(d.mutex);
      if (d.stopped || d.mainReturned) break;
    }
    pollfd fds[2] = {{listener.fd(), POLLIN, 0}, {wakeRead.get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents & POLLIN) {
      char drain[64];
      while (::read(wakeRead.get(), drain, sizeof drain) > 0) {
      }
    }
    if (fds[0].revents & POLLIN) ServeControl(listener.fd());
  }
  listener.Close();

  bool joinable;
  {
    std::unique_lock<std::mutex> lock(d.mutex);
    d.mainDone.wait_for(lock, std::chrono::milliseconds(kMainReturnGraceMs),
                        [&d] { return d.mainReturned; });
    joinable = d.mainReturned;
    // A main function that returned without saying so has stopped all the same.
    if (!d.stopped) WriteStatusLocked(dir, AsStopped(ReadStatusFile(dir)));
    d.active = false;
    d.handler = nullptr;
    d.wakeFd = -1;
  }
  if (joinable) {
    mainThread.join();
  } else {
    mainThread.detach();  // it reported SERVICE_STOPPED; the process may end under it
  }
  return ERROR_SUCCESS;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandler(std::string_view serviceName, HandlerFunction handler) {
  (void)serviceName;  // an own-process service answers to whatever name it was started under
  DispatcherState& d = Dispatcher();
  std::lock_guard<std::mutex> lock(d.mutex);
  if (!d.active) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return 0;
  }
  if (!handler) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  d.handler = handler;
  return d.handle;
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS& status) {
  if (status.dwCurrentState < SERVICE_STOPPED || status.dwCurrentState > SERVICE_PAUSED) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  DispatcherState& d = Dispatcher();
  std::lock_guard<std::mutex> lock(d.mutex);
  if (!d.active || handle == 0 || handle != d.handle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  StatusRecord r;
  r.status = status;
  r.pid = ::getpid();
  r.startTime = d.startTime;
  if (DWORD err = WriteStatusLocked(d.stateDir, r); err != ERROR_SUCCESS) {
    SetLastError(err);
    return FALSE;
  }
  AppendJournal(d.stateDir, status);
  if (status.dwCurrentState == SERVICE_STOPPED) {
    d.stopped = true;
    WakeDispatcherLocked(d);
  }
  return TRUE;
}

}  // namespace plat
