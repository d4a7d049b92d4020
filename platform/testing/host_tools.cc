#include "platform/testing/host_tools.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/testing/temp_network.h"

extern char** environ;

namespace plat::testing {

namespace {

// The current environment without the variables named in `unset`.
std::vector<char*> EnvironmentWithout(const std::vector<std::string>& unset) {
  std::vector<char*> envp;
  for (char** e = environ; *e; ++e) {
    bool keep = true;
    for (const auto& u : unset) keep = keep && std::strncmp(*e, (u + "=").c_str(), u.size() + 1) != 0;
    if (keep) envp.push_back(*e);
  }
  envp.push_back(nullptr);
  return envp;
}

}  // namespace

ToolResult RunTool(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::string>& unsetEnvironment) {
  ToolResult r;
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/portulon-tool-XXXXXX";
  if (!::mkdtemp(folder.data())) {
    ADD_FAILURE() << "cannot create a folder for the output of " << program;
    return r;
  }
  const std::string outFile = folder + "/out", errFile = folder + "/err";
  std::vector<std::string> argv = {BinDir() + "/" + program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> argp;
  for (auto& a : argv) argp.push_back(a.data());
  argp.push_back(nullptr);
  std::vector<char*> envp = EnvironmentWithout(unsetEnvironment);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc == 0) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadHostFile(outFile);
    r.err = ReadHostFile(errFile);
  } else {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(rc);
  }
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return r;
}

std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteHostFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void AppendHostFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

bool HostProcessRunning(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(in, stat);
  const size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z' &&
         stat[paren + 2] != 'X';
}

int InChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace plat::testing
