// A small service program for the service tests. It runs under the control
// manager like any own-process service and writes what it sees, one
// "key=value" line at a time, to the file given with --log:
//
//   fake_service --log HOSTFILE [--accept-pause] [--exit-early]
//
// --exit-early ends the program before it connects to the manager.
#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/service.h"

namespace {

std::string logPath;
bool acceptPause = false;

// Guards stopRequested and currentState, shared by the handler (dispatcher
// thread) and the service's main thread.
std::mutex stateMutex;
std::condition_variable stopSignal;
bool stopRequested = false;
plat::DWORD currentState = plat::SERVICE_START_PENDING;
plat::SERVICE_STATUS_HANDLE statusHandle = 0;

void Record(const std::string& line) {
  if (logPath.empty()) return;
  const int fd = ::open(logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const std::string text = line + "\n";
  [[maybe_unused]] const ssize_t n = ::write(fd, text.data(), text.size());
  ::close(fd);
}

std::string ThreadId() { return std::to_string(::gettid()); }

void Report(plat::DWORD state, plat::DWORD checkPoint) {
  plat::SERVICE_STATUS status;
  status.dwCurrentState = state;
  status.dwCheckPoint = checkPoint;
  if (state != plat::SERVICE_START_PENDING) {
    status.dwControlsAccepted = plat::SERVICE_ACCEPT_STOP | plat::SERVICE_ACCEPT_SHUTDOWN |
                                (acceptPause ? plat::SERVICE_ACCEPT_PAUSE_CONTINUE : 0);
  }
  currentState = state;
  plat::SetServiceStatus(statusHandle, status);
}

void Handler(plat::DWORD control) {
  Record("control=" + std::to_string(control) + " thread=" + ThreadId());
  std::lock_guard<std::mutex> lock(stateMutex);
  switch (control) {
    case plat::SERVICE_CONTROL_STOP:
    case plat::SERVICE_CONTROL_SHUTDOWN:
      Report(plat::SERVICE_STOP_PENDING, 1);
      stopRequested = true;
      stopSignal.notify_all();
      break;
    case plat::SERVICE_CONTROL_PAUSE: Report(plat::SERVICE_PAUSED, 0); break;
    case plat::SERVICE_CONTROL_CONTINUE: Report(plat::SERVICE_RUNNING, 0); break;
    default: Report(currentState, 0); break;
  }
}

void ServiceMain(plat::DWORD argc, char** argv) {
  std::string joined;
  for (plat::DWORD i = 0; i < argc; ++i) joined += (i ? "|" : "") + std::string(argv[i]);
  Record("main-thread=" + ThreadId());
  Record("argv=" + joined);
  const char* inherited = std::getenv("PORTULON_SERVICE_NAME");
  Record(std::string("name-variable=") + (inherited ? inherited : ""));

  statusHandle = plat::RegisterServiceCtrlHandler(argv[0], Handler);
  if (statusHandle == 0) {
    Record("register-failed=" + std::to_string(plat::GetLastError()));
    return;
  }
  std::unique_lock<std::mutex> lock(stateMutex);
  Report(plat::SERVICE_START_PENDING, 1);
  Report(plat::SERVICE_RUNNING, 0);
  stopSignal.wait(lock, [] { return stopRequested; });
  Report(plat::SERVICE_STOPPED, 2);
}

}  // namespace

int main(int argc, char** argv) {
  bool exitEarly = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
      logPath = argv[++i];
    } else if (std::strcmp(argv[i], "--accept-pause") == 0) {
      acceptPause = true;
    } else if (std::strcmp(argv[i], "--exit-early") == 0) {
      exitEarly = true;
    }
  }
  Record("pid=" + std::to_string(::getpid()));
  Record("dispatcher-thread=" + ThreadId());
  Record("machine=" + plat::CurrentMachineRoot());
  Record("cwd=" + plat::GetCurrentDirectory());
  if (exitEarly) return 3;

  char name[] = "FakeService";
  const plat::SERVICE_TABLE_ENTRY table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  const plat::DWORD err = plat::StartServiceCtrlDispatcher(table);
  Record("dispatcher-returned=" + std::to_string(err) + " last-error=" +
         std::to_string(err ? plat::GetLastError() : 0));
  return static_cast<int>(err);
}
