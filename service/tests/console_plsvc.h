// plsvc running in console mode as a child process of the test, its output
// (standard output and error) collected, ended when the object goes.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/netapi.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "service/settings.h"
#include "platform/testing/temp_network.h"

namespace svc::testing {

// The data folder C:\PLData (with LogData) shared as PL_NT_DB and named by
// MasterShare, and the domain DOM with this machine as its controller.
inline void ProvideDataFolderAndDomain() {
  ASSERT_EQ(plat::CreateDirectory("C:\\PLData"), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::CreateDirectory("C:\\PLData\\LogData"), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::RegWriteString(plat::kSharesKey, "PL_NT_DB", "Path=C:\\PLData"), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::RegWriteString(kServiceKey, "MasterShare", "\\\\SRV1\\PL_NT_DB"), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::DomainCreate("DOM", plat::GetComputerName()), plat::ERROR_SUCCESS);
}

class ConsolePlsvc {
 public:
  // Runs in the machine's system directory, where an administrator would start it.
  // `argument` is the one command-line argument ("console": console mode).
  explicit ConsolePlsvc(const char* argument = "console") {
    const std::string systemDir = plat::DriveCDir(plat::CurrentMachineRoot()) + "/WINNT/system32";
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    const std::string program = plat::testing::BinDir() + "/plsvc";
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fds[1], 1);
      ::dup2(fds[1], 2);
      if (::chdir(systemDir.c_str()) != 0) ::_exit(126);
      ::execl(program.c_str(), "plsvc", argument, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    readFd_ = fds[0];
    reader_ = std::thread([this] {
      char buf[4096];
      for (;;) {
        const ssize_t n = ::read(readFd_, buf, sizeof buf);
        if (n <= 0) break;
        std::lock_guard<std::mutex> lock(mutex_);
        output_.append(buf, static_cast<size_t>(n));
      }
    });
  }

  ~ConsolePlsvc() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
    if (readFd_ >= 0) ::close(readFd_);
  }

  ConsolePlsvc(const ConsolePlsvc&) = delete;
  ConsolePlsvc& operator=(const ConsolePlsvc&) = delete;

  // True once `text` has appeared in the output.
  bool WaitFor(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      if (Output().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  std::string Output() {
    std::lock_guard<std::mutex> lock(mutex_);
    return output_;
  }

  // False once the process has ended (it is then reaped).
  bool Alive() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return pid_ > 0;
  }

  // The exit status once it ended within `limit`; -1 while it still runs.
  int WaitForExit(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (Alive() && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (Alive()) return -1;
    if (reader_.joinable()) reader_.join();  // everything it wrote is in
    return exitStatus_;
  }

 private:
  pid_t pid_ = -1;
  int exitStatus_ = -1;
  int readFd_ = -1;
  std::thread reader_;
  std::mutex mutex_;  // guards output_
  std::string output_;
};

}  // namespace svc::testing
