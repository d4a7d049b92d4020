#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/posix_env.h"
#include "platform/registry.h"
#include "platform/text.h"

extern char** environ;

namespace plat {

namespace {

constexpr const char* kSystemDirectory = "C:\\WINNT\\system32";
constexpr const char* kWindowsDirectory = "C:\\WINNT";
// Where the system environment lives, as on Windows.
constexpr const char* kEnvironmentKey =
    "System\\CurrentControlSet\\Control\\Session Manager\\Environment";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool HasDirectoryPart(std::string_view name) {
  return name.find_first_of("\\/:") != std::string_view::npos;
}

// The last component of a path, '\' or '/' separated.
std::string_view LastComponent(std::string_view path) {
  const auto sep = path.find_last_of("\\/");
  return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

bool HasExtension(std::string_view name) {
  return LastComponent(name).find('.') != std::string_view::npos;
}

bool EndsWithExe(std::string_view name) {
  return name.size() > 4 && EqualsIgnoringCase(name.substr(name.size() - 4), ".exe");
}

// The names a program may carry in one folder: "x.exe" first, then "x", which
// is how our own Linux binaries are named (and what "x.exe" links to).
// Windows knows no execute permission, so a file with the name asked for is
// found as it is (a module may be searched this way too); the Linux name
// without extension counts only when it is executable, so that a data file
// "net" does not hide the program NET.
struct Candidate {
  std::string name;
  bool mustBeExecutable;
};

std::vector<Candidate> CandidateNames(std::string_view name) {
  const std::string n(name);
  if (!HasExtension(name)) return {{n + ".exe", false}, {n, true}};
  if (EndsWithExe(name)) return {{n, false}, {n.substr(0, n.size() - 4), true}};
  return {{n, false}};
}

bool IsCandidateFile(const std::string& hostPath, const Candidate& candidate) {
  struct stat st;
  return ::stat(hostPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         (!candidate.mustBeExecutable || ::access(hostPath.c_str(), X_OK) == 0);
}

// ResolvePath against machine `root` rather than the current one. Only drive
// C: depends on the machine; Z:, UNC and relative paths mean the same thing
// from every machine of the network.
DWORD ResolveOnMachine(const std::string& root, std::string_view windowsPath, std::string* host) {
  const bool driveC = windowsPath.size() >= 2 && windowsPath[1] == ':' &&
                      (windowsPath[0] == 'C' || windowsPath[0] == 'c');
  if (root.empty() || !driveC || root == CurrentMachineRoot()) {
    return ResolvePath(windowsPath, host);
  }
  std::vector<std::string> parts;
  std::string current;
  for (char c : windowsPath.substr(2)) {
    if (!IsSeparator(c)) {
      current += c;
      continue;
    }
    if (!current.empty()) parts.push_back(std::move(current));
    current.clear();
  }
  if (!current.empty()) parts.push_back(std::move(current));

  std::string path = DriveCDir(root);
  std::vector<std::string> kept;
  for (auto& p : parts) {
    if (p == ".") continue;
    if (p == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    kept.push_back(std::move(p));
  }
  for (const auto& p : kept) path += "/" + posix::FindEntryIgnoringCase(path, p);
  *host = path;
  return ERROR_SUCCESS;
}

// Looks for the program in one folder given by its Windows name.
bool FindInWindowsFolder(const std::string& root, const std::string& folder,
                         const std::vector<Candidate>& names, std::string* hostPath) {
  if (folder.empty()) return false;
  const std::string prefix = IsSeparator(folder.back()) ? folder : folder + "\\";
  for (const auto& c : names) {
    std::string host;
    if (ResolveOnMachine(root, prefix + c.name, &host) == ERROR_SUCCESS && IsCandidateFile(host, c)) {
      *hostPath = host;
      return true;
    }
  }
  return false;
}

bool FindInHostFolder(const std::string& folder, const std::vector<Candidate>& names,
                      std::string* hostPath) {
  if (folder.empty()) return false;
  for (const auto& c : names) {
    const std::string host = folder + "/" + posix::FindEntryIgnoringCase(folder, c.name);
    if (IsCandidateFile(host, c)) {
      *hostPath = host;
      return true;
    }
  }
  return false;
}

std::string ModuleHostPath() { return GetProgramHostPath(); }

std::string ExecutableFile() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// The name the program was executed under, when it still names the running
// file: a relative name is trusted only while the working folder is the one
// it was started in.
std::string ExecutedName() {
  const char* executed = reinterpret_cast<const char*>(::getauxval(AT_EXECFN));
  if (!executed || !*executed) return {};
  std::string path = executed;
  if (path.front() != '/') {
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd)) return {};
    path = std::string(cwd) + "/" + path;
  }
  struct stat named, running;
  if (::stat(path.c_str(), &named) != 0 || ::stat("/proc/self/exe", &running) != 0 ||
      named.st_dev != running.st_dev || named.st_ino != running.st_ino) {
    return {};
  }
  return std::filesystem::path(path).lexically_normal().string();
}

// Replaces %SystemRoot% and %windir% (any case) by the Windows directory.
std::string ExpandSystemRoot(const std::string& text) {
  const std::string lower = ToLowerAscii(text);
  std::string out;
  for (size_t i = 0; i < text.size();) {
    bool replaced = false;
    for (const std::string_view variable : {"%systemroot%", "%windir%"}) {
      if (lower.compare(i, variable.size(), variable) == 0) {
        out += kWindowsDirectory;
        i += variable.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out += text[i++];
  }
  return out;
}

// The folders of the machine's PATH (the system environment's Path value in
// its registry), as Windows paths; empty when it has none.
std::vector<std::string> MachinePath(const std::string& root) {
  std::vector<std::string> folders;
  RegKey hklm, environment;
  std::string value;
  if (root.empty() || RegKey::ConnectRoot(root, Hive::LocalMachine, &hklm) != ERROR_SUCCESS ||
      hklm.OpenSubKey(kEnvironmentKey, &environment) != ERROR_SUCCESS ||
      environment.QueryString("Path", &value) != ERROR_SUCCESS) {
    return folders;
  }
  std::string_view rest = value;
  while (!rest.empty()) {
    const auto semicolon = rest.find(';');
    const std::string folder = ExpandSystemRoot(std::string(rest.substr(0, semicolon)));
    if (!folder.empty()) folders.push_back(folder);
    if (semicolon == std::string_view::npos) break;
    rest.remove_prefix(semicolon + 1);
  }
  return folders;
}

DWORD ResolveProgramOn(const std::string& root, std::string_view programName,
                       std::string* hostPath) {
  if (programName.empty()) return ERROR_FILE_NOT_FOUND;
  const std::vector<Candidate> names = CandidateNames(programName);
  if (HasDirectoryPart(programName)) {
    for (const auto& c : names) {
      std::string host;
      if (ResolveOnMachine(root, c.name, &host) == ERROR_SUCCESS && IsCandidateFile(host, c)) {
        *hostPath = host;
        return ERROR_SUCCESS;
      }
    }
    return ERROR_FILE_NOT_FOUND;
  }

  // The application folder is the folder of the file we run from, whatever
  // machine the child is meant for.
  const std::string module = ModuleHostPath();
  if (FindInHostFolder(module.substr(0, module.rfind('/')), names, hostPath)) {
    return ERROR_SUCCESS;
  }
  if (FindInWindowsFolder(std::string(), GetCurrentDirectory(), names, hostPath) ||
      FindInWindowsFolder(root, kSystemDirectory, names, hostPath) ||
      FindInWindowsFolder(root, kWindowsDirectory, names, hostPath)) {
    return ERROR_SUCCESS;
  }
  // The machine's own PATH, never the host's: a program of the machine must
  // not find what the host happens to have (say, a build folder on PATH).
  for (const std::string& folder : MachinePath(root)) {
    if (FindInWindowsFolder(root, folder, names, hostPath)) return ERROR_SUCCESS;
  }
  return ERROR_FILE_NOT_FOUND;
}

// Carries the command line, as written, to the program started with it.
constexpr const char* kCommandLineVariable = "PORTULON_COMMAND_LINE";

// The child's environment: ours, with the machine and the extra variables
// replacing any of the same name.
std::vector<std::string> ChildEnvironment(const ProcessOptions& options,
                                         std::string_view commandLine) {
  std::vector<std::pair<std::string, std::string>> overrides = options.environment;
  overrides.emplace_back(kCommandLineVariable, std::string(commandLine));
  if (!options.machineRoot.empty()) overrides.emplace_back("PORTULON_MACHINE", options.machineRoot);
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) env.emplace_back(*e);
  for (const auto& [name, value] : overrides) {
    const std::string prefix = name + "=";
    std::erase_if(env, [&prefix](const std::string& s) { return s.compare(0, prefix.size(), prefix) == 0; });
    env.push_back(prefix + value);
  }
  return env;
}

std::vector<char*> PointersTo(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Owns the posix_spawn file actions for the life of one spawn.
class SpawnActions {
 public:
  SpawnActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
  ~SpawnActions() {
    if (ok_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  bool ok() const { return ok_; }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  bool ok_ = false;
};

DWORD ExitCodeOf(int status) {
  if (WIFEXITED(status)) return static_cast<DWORD>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return 128 + static_cast<DWORD>(WTERMSIG(status));
  return ERROR_GEN_FAILURE;
}

int WaitFor(pid_t pid, int* status) {
  while (::waitpid(pid, status, 0) < 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = commandLine.size();
  while (i < n && IsBlank(commandLine[i])) ++i;
  if (i == n) return args;

  // The program name knows no escapes: a Windows file name holds no quote,
  // and "C:\Program Files\x\" must keep its backslash.
  {
    std::string arg;
    bool quoted = false;
    for (; i < n && (quoted || !IsBlank(commandLine[i])); ++i) {
      if (commandLine[i] == '"') {
        quoted = !quoted;
      } else {
        arg += commandLine[i];
      }
    }
    args.push_back(std::move(arg));
  }

  while (true) {
    while (i < n && IsBlank(commandLine[i])) ++i;
    if (i == n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(commandLine[i]))) {
      const char c = commandLine[i];
      if (c == '\\') {
        size_t backslashes = 0;
        while (i < n && commandLine[i] == '\\') {
          ++backslashes;
          ++i;
        }
        if (i < n && commandLine[i] == '"') {
          // 2n backslashes and a quote: n backslashes, the quote delimits;
          // 2n+1: n backslashes and a literal quote.
          arg.append(backslashes / 2, '\\');
          if (backslashes % 2 == 1) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(backslashes, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < n && commandLine[i + 1] == '"') {
          arg += '"';  // "" inside quotes is one literal quote; still quoted
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg += c;
      ++i;
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::string JoinCommandLine(const std::vector<std::string>& args) {
  std::string out;
  for (size_t a = 0; a < args.size(); ++a) {
    const std::string& arg = args[a];
    if (a > 0) out += ' ';
    const bool needsQuotes =
        arg.empty() || arg.find_first_of(" \t\n\v\"") != std::string::npos;
    if (!needsQuotes) {
      out += arg;
      continue;
    }
    if (a == 0) {
      // The program name is taken literally between quotes (see above).
      out += '"' + arg + '"';
      continue;
    }
    out += '"';
    size_t backslashes = 0;
    for (char c : arg) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      if (c == '"') {
        out.append(backslashes * 2 + 1, '\\');
      } else {
        out.append(backslashes, '\\');
      }
      backslashes = 0;
      out += c;
    }
    out.append(backslashes * 2, '\\');  // they precede the closing quote
    out += '"';
  }
  return out;
}

std::string GetModuleFileName() {
  const std::string host = ModuleHostPath();
  return host.empty() ? std::string() : HostToWindowsPath(host);
}

std::string GetProgramHostPath() {
  // Fixed for the life of the process; worked out once.
  static const std::string path = [] {
    std::string executed = ExecutedName();
    return executed.empty() ? ExecutableFile() : executed;
  }();
  return path;
}

std::string GetCommandLine(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  // The variable is inherited further down: it is ours only when it splits
  // into exactly the arguments we got.
  if (const char* written = std::getenv(kCommandLineVariable)) {
    std::vector<std::string> split = SplitCommandLine(written);
    if (split.size() == args.size() &&
        std::equal(split.begin() + (split.empty() ? 0 : 1), split.end(), args.begin() + (args.empty() ? 0 : 1))) {
      return written;
    }
  }
  return JoinCommandLine(args);
}

DWORD ResolveProgram(std::string_view programName, std::string* hostPath) {
  return ResolveProgramOn(CurrentMachineRoot(), programName, hostPath);
}

DWORD RunCommandLine(std::string_view commandLine, const ProcessOptions& options,
                     DWORD* exitCode, DWORD* processId) {
  std::vector<std::string> args = SplitCommandLine(commandLine);
  if (args.empty()) return ERROR_INVALID_PARAMETER;
  const std::string root = options.machineRoot.empty() ? CurrentMachineRoot() : options.machineRoot;
  std::string program;
  if (DWORD err = ResolveProgramOn(root, args[0], &program); err != ERROR_SUCCESS) return err;

  std::string directory;
  if (!options.currentDirectory.empty()) {
    if (DWORD err = ResolveOnMachine(root, options.currentDirectory, &directory);
        err != ERROR_SUCCESS) {
      return err;
    }
    struct stat st;
    if (::stat(directory.c_str(), &st) != 0) return ERROR_DIRECTORY;
    if (!S_ISDIR(st.st_mode)) return ERROR_DIRECTORY;
  }

  SpawnActions actions;
  if (!actions.ok()) return ERROR_NOT_ENOUGH_MEMORY;
  // No console: the child reads nothing of ours, and writes nowhere unless asked.
  int rc = ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  if (rc == 0 && !options.inheritOutput) {
    rc = ::posix_spawn_file_actions_addopen(actions.get(), 1, "/dev/null", O_WRONLY, 0);
    if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(actions.get(), 1, 2);
  }
  // Handles of ours, opened with or without O_CLOEXEC, stay ours.
  if (rc == 0) rc = ::posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);
  if (rc == 0 && !directory.empty()) {
    rc = ::posix_spawn_file_actions_addchdir_np(actions.get(), directory.c_str());
  }
  if (rc != 0) return ErrorFromErrno(rc);

  std::vector<std::string> env = ChildEnvironment(options, commandLine);
  std::vector<char*> argv = PointersTo(args);
  std::vector<char*> envp = PointersTo(env);
  pid_t pid = 0;
  rc = ::posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), envp.data());
  if (rc != 0) return ErrorFromErrno(rc);
  if (processId) *processId = static_cast<DWORD>(pid);

  if (!options.wait) {
    // Nobody will ask for the exit code; a waiting thread collects it as soon
    // as the child ends, so no zombie lingers (and a dead child reads as gone
    // to kill(pid, 0)). It waits for this pid only, never for others' children.
    try {
      std::thread([pid] {
        int status = 0;
        WaitFor(pid, &status);
      }).detach();
    } catch (const std::system_error&) {
      // No thread to spare: the child is still running and stays ours; it
      // becomes a zombie when it ends before we do, nothing worse.
    }
    return ERROR_SUCCESS;
  }
  int status = 0;
  if (int err = WaitFor(pid, &status); err != 0) return ErrorFromErrno(err);
  if (exitCode) *exitCode = ExitCodeOf(status);
  return ERROR_SUCCESS;
}

}  // namespace plat
