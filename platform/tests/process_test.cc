#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"

namespace plat {
namespace {

namespace fs = std::filesystem;

using testing::ReadHostFile;

// The helper program sits beside this test program.
std::string HelperHostPath() { return fs::read_symlink("/proc/self/exe").parent_path() / "argv_helper"; }

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { out_ = net.network() + "/out"; }

  // Runs the helper with `args`, waiting; returns its exit code.
  DWORD RunHelper(const std::vector<std::string>& args, ProcessOptions options = {}) {
    std::vector<std::string> argv = {HostToWindowsPath(HelperHostPath())};
    argv.insert(argv.end(), args.begin(), args.end());
    options.wait = true;
    DWORD code = 9999;
    EXPECT_EQ(RunCommandLine(JoinCommandLine(argv), options, &code), ERROR_SUCCESS);
    return code;
  }

  // An executable copy of the helper at a host path.
  static void InstallHelper(const std::string& hostPath) {
    fs::create_directories(fs::path(hostPath).parent_path());
    fs::copy_file(HelperHostPath(), hostPath, fs::copy_options::overwrite_existing);
  }

  testing::TempNetwork net;
  std::string out_;
};

TEST(CommandLineTest, SplitsAsWindowsDoes) {
  using Args = std::vector<std::string>;
  const std::pair<const char*, Args> cases[] = {
      {"", {}},
      {"   \t ", {}},
      {"prog a b", {"prog", "a", "b"}},
      {"  prog \t a  b  ", {"prog", "a", "b"}},
      {"\"C:\\Program Files\\x.exe\" arg", {"C:\\Program Files\\x.exe", "arg"}},
      {"\"C:\\dir\\\" next", {"C:\\dir\\", "next"}},  // the program name has no escapes
      {"p \"a b\" c", {"p", "a b", "c"}},
      {"p a\\\\b", {"p", "a\\\\b"}},       // backslashes before no quote stay
      {"p a\\\"b", {"p", "a\"b"}},         // \" is a quote
      {"p a\\\\\\\"b", {"p", "a\\\"b"}},   // 3 backslashes + quote: one backslash, a quote
      {"p \"a\\\\\" b", {"p", "a\\", "b"}},  // 2 backslashes + quote: one, the quote closes
      {"p \"\" x \"\"", {"p", "", "x", ""}},
      {"p \"a\"\"b c\"", {"p", "a\"b c"}},  // "" inside quotes is a quote, still quoted
      {"p a\"b c\"d", {"p", "ab cd"}},
      {"p \"open ended", {"p", "open ended"}},
  };
  for (const auto& [line, expected] : cases) {
    EXPECT_EQ(SplitCommandLine(line), expected) << "command line: " << line;
  }
}

TEST(CommandLineTest, JoinIsTheInverseOfSplit) {
  const std::vector<std::vector<std::string>> cases = {
      {"prog", "a", "b"},
      {"C:\\Program Files\\Portulon\\plsvc.exe", "-console"},
      {"C:\\dir\\", "", "a b", "tab\there", "new\nline"},
      {"p", "quote\"inside", "\"", "\\\"", "trailing\\", "trailing space\\", "a\\\\\"b"},
      {"p", "%PATH%", "$(x)", "; rm -rf x", "'single'"},
  };
  for (const auto& args : cases) {
    EXPECT_EQ(SplitCommandLine(JoinCommandLine(args)), args) << JoinCommandLine(args);
  }
  EXPECT_EQ(JoinCommandLine({"net", "START", "PLSvc"}), "net START PLSvc");
}

TEST_F(ProcessTest, ProgramsAreFoundInWindowsOrder) {
  const std::string system32 = DriveCDir(net.root()) + "/WINNT/system32";
  const std::string windows = DriveCDir(net.root()) + "/WINNT";
  std::string found;

  // The application folder comes before the system directory.
  InstallHelper(system32 + "/ARGV_HELPER.EXE");
  ASSERT_EQ(ResolveProgram("argv_helper", &found), ERROR_SUCCESS);
  EXPECT_EQ(found, HelperHostPath());

  // ".exe" implied, names compared ignoring case, with or without the extension.
  InstallHelper(system32 + "/sysonly.exe");
  for (const char* name : {"SysOnly", "SYSONLY.EXE", "C:\\winnt\\SYSTEM32\\sysonly"}) {
    ASSERT_EQ(ResolveProgram(name, &found), ERROR_SUCCESS) << name;
    EXPECT_EQ(found, system32 + "/sysonly.exe") << name;
  }
  // A name with a path is looked up there only.
  EXPECT_EQ(ResolveProgram("C:\\WINNT\\sysonly", &found), ERROR_FILE_NOT_FOUND);

  // The system directory before the Windows directory, which is searched too.
  InstallHelper(windows + "/both.exe");
  InstallHelper(windows + "/winonly.exe");
  ASSERT_EQ(ResolveProgram("winonly", &found), ERROR_SUCCESS);
  EXPECT_EQ(found, windows + "/winonly.exe");
  InstallHelper(system32 + "/both.exe");
  ASSERT_EQ(ResolveProgram("both", &found), ERROR_SUCCESS);
  EXPECT_EQ(found, system32 + "/both.exe");

  // The current directory before the system directory.
  InstallHelper(DriveCDir(net.root()) + "/work/both.exe");
  const std::string previous = GetCurrentDirectory();
  ASSERT_EQ(SetCurrentDirectory("C:\\work"), ERROR_SUCCESS);
  const DWORD inCwd = ResolveProgram("both", &found);
  ASSERT_EQ(SetCurrentDirectory(previous), ERROR_SUCCESS);
  ASSERT_EQ(inCwd, ERROR_SUCCESS);
  EXPECT_EQ(found, DriveCDir(net.root()) + "/work/both.exe");

  // The machine's PATH last; a Linux program has no extension, and a file
  // without one that cannot run is no program. A name with its extension
  // needs no execute bit.
  const std::string pathDir = net.network() + "/pathdir";
  const std::string dataDir = DriveCDir(net.root()) + "/datadir";
  const std::string toolsDir = DriveCDir(net.root()) + "/tools";
  InstallHelper(pathDir + "/onpath");  // on the host's PATH only
  InstallHelper(toolsDir + "/onpath");
  fs::create_directories(dataDir);
  std::ofstream(dataDir + "/onpath") << "data";
  std::ofstream(system32 + "/module.dll") << "not executable";
  ASSERT_EQ(ResolveProgram("MODULE.DLL", &found), ERROR_SUCCESS);
  EXPECT_EQ(found, system32 + "/module.dll");
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", (pathDir + ":" + oldPath).c_str(), 1);
  // What sits only on the host's PATH is not the machine's.
  const DWORD hostOnly = ResolveProgram("onpath.exe", &found);
  EXPECT_EQ(hostOnly, ERROR_FILE_NOT_FOUND) << found;
  RegKey environment;
  ASSERT_EQ(RegKey::Create(Hive::LocalMachine,
                           "System\\CurrentControlSet\\Control\\Session Manager\\Environment",
                           &environment),
            ERROR_SUCCESS);
  ASSERT_EQ(environment.SetString("Path", "%SystemRoot%\\system32;C:\\nonexistent;C:\\datadir;"
                                          "C:\\tools;%SYSTEMROOT%"),
            ERROR_SUCCESS);
  const DWORD onPath = ResolveProgram("onpath.exe", &found);
  ::setenv("PATH", oldPath.c_str(), 1);
  ASSERT_EQ(onPath, ERROR_SUCCESS);
  EXPECT_EQ(found, toolsDir + "/onpath");

  EXPECT_EQ(ResolveProgram("no_such_program_anywhere", &found), ERROR_FILE_NOT_FOUND);
}

TEST_F(ProcessTest, ModuleFileNameIsTheWindowsNameOfTheRunningProgram) {
  std::string host;
  ASSERT_EQ(ResolvePath(GetModuleFileName(), &host), ERROR_SUCCESS);
  EXPECT_EQ(host, fs::read_symlink("/proc/self/exe").string());
}

TEST_F(ProcessTest, WaitedChildReportsItsExitCode) {
  EXPECT_EQ(RunHelper({"exit", "0"}), 0u);
  EXPECT_EQ(RunHelper({"exit", "7"}), 7u);
  EXPECT_EQ(RunHelper({"exit", "255"}), 255u);
  EXPECT_EQ(RunHelper({"signal", "9"}), 128u + 9);
  EXPECT_EQ(RunHelper({"signal", "15"}), 128u + 15);
}

// Points our stdout and stderr at a file for as long as it lives.
class CaptureOutput {
 public:
  explicit CaptureOutput(const std::string& file) {
    std::fflush(stdout);
    std::fflush(stderr);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    savedOut_ = ::dup(1);
    savedErr_ = ::dup(2);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::close(fd);
  }
  ~CaptureOutput() {
    ::dup2(savedOut_, 1);
    ::dup2(savedErr_, 2);
    ::close(savedOut_);
    ::close(savedErr_);
  }
  CaptureOutput(const CaptureOutput&) = delete;
  CaptureOutput& operator=(const CaptureOutput&) = delete;

 private:
  int savedOut_ = -1;
  int savedErr_ = -1;
};

TEST_F(ProcessTest, HiddenChildWritesNothingToOurOutput) {
  const std::string captured = net.network() + "/captured";
  {
    CaptureOutput capture(captured);
    RunHelper({"print", "hidden-text"});
  }
  EXPECT_EQ(ReadHostFile(captured), "");
  {
    CaptureOutput capture(captured);
    ProcessOptions options;
    options.inheritOutput = true;
    RunHelper({"print", "shown-text"}, options);
  }
  EXPECT_EQ(ReadHostFile(captured), "shown-text\nshown-text\n");
}

TEST_F(ProcessTest, ArgumentsArriveUnchangedWithoutAShell) {
  const std::vector<std::string> args = {
      "; rm -rf x", "$(touch pwned)", "`touch pwned`", "\"quoted\"", "%PATH%", "a b", "",
      "back\\slash\\", "*", "'single'", "|&<>", "\\\"", "new\nline", "C:\\Program Files\\"};
  const std::string work = DriveCDir(net.root()) + "/work";
  fs::create_directories(work);
  std::vector<std::string> argv = {"argv", out_};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessOptions options;
  options.currentDirectory = "C:\\work";
  ASSERT_EQ(RunHelper(argv, options), 0u);

  std::vector<std::string> received;
  std::string all = ReadHostFile(out_);
  for (size_t start = 0, end; (end = all.find('\0', start)) != std::string::npos; start = end + 1) {
    received.push_back(all.substr(start, end - start));
  }
  EXPECT_EQ(received, args);
  EXPECT_FALSE(fs::exists(work + "/pwned"));
  EXPECT_FALSE(fs::exists(work + "/x"));
}

TEST_F(ProcessTest, ChildInheritsNoDescriptorsOfOurs) {
  const int leaky = ::open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
  ASSERT_GE(leaky, 3);
  RunHelper({"fds", out_});
  ::close(leaky);
  EXPECT_EQ(ReadHostFile(out_), "0\n1\n2\n");
}

TEST_F(ProcessTest, ChildRunsInItsDirectoryOnItsMachine) {
  ProcessOptions options;
  options.currentDirectory = "C:\\winnt\\SYSTEM32";
  RunHelper({"cwd", out_}, options);
  EXPECT_EQ(ReadHostFile(out_), DriveCDir(net.root()) + "/WINNT/system32");

  // A program of another machine's drive C:, with its environment.
  const std::string srv2 = net.AddMachine(testing::TempNetwork::DefaultConfig("SRV2"));
  InstallHelper(DriveCDir(srv2) + "/Tools/h.exe");
  const std::string line =
      JoinCommandLine({"C:\\Tools\\h.exe", "env", out_, "PORTULON_MACHINE", "PL_EXTRA"});
  options = {};
  options.wait = true;
  DWORD code = 9999;
  EXPECT_EQ(RunCommandLine(line, options, &code), ERROR_FILE_NOT_FOUND);  // not on SRV1
  options.machineRoot = srv2;
  options.environment = {{"PL_EXTRA", "x y"}};
  ASSERT_EQ(RunCommandLine(line, options, &code), ERROR_SUCCESS);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ReadHostFile(out_), "PORTULON_MACHINE=" + srv2 + "\nPL_EXTRA=x y\n");

  options.currentDirectory = "C:\\no\\such\\folder";
  EXPECT_NE(RunCommandLine(line, options, &code), ERROR_SUCCESS);
  EXPECT_EQ(RunCommandLine("   ", options, &code), ERROR_INVALID_PARAMETER);
}

// State letter of a process in /proc, or 0 when it is gone.
char ProcessState(DWORD pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto paren = stat.rfind(')');
  return paren == std::string::npos || paren + 2 >= stat.size() ? 0 : stat[paren + 2];
}

TEST_F(ProcessTest, ChildNotWaitedForLeavesNoZombie) {
  DWORD pid = 0;
  ASSERT_EQ(RunCommandLine(JoinCommandLine({HostToWindowsPath(HelperHostPath()), "sleep", "300"}),
                           ProcessOptions{}, nullptr, &pid),
            ERROR_SUCCESS);
  ASSERT_NE(pid, 0u);
  EXPECT_NE(ProcessState(pid), 0) << "the child should still be running";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ProcessState(pid) != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(ProcessState(pid), 0) << "state " << ProcessState(pid);
}

}  // namespace
}  // namespace plat
