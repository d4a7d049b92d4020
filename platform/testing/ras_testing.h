// Test helpers around the remote-access stand-in: a pipe server that answers
// from a script and records what it hears, and the machine's remote-access
// service started through the service manager. Running our tools comes from
// host_tools.h, included here.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/eventlog.h"
#include "platform/pipe.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"

namespace plat::testing {

// Serves \\.\pipe\<name> of the current machine on a thread of its own: each
// message is recorded and answered with reply(message).
class ScriptedPipeServer {
 public:
  using Reply = std::function<std::string(const std::string& message)>;
  ScriptedPipeServer(const std::string& pipeName, Reply reply);
  ~ScriptedPipeServer();
  ScriptedPipeServer(const ScriptedPipeServer&) = delete;
  ScriptedPipeServer& operator=(const ScriptedPipeServer&) = delete;

  std::vector<std::string> messages() const;
  // True once at least `count` messages came.
  bool WaitForMessages(size_t count, std::chrono::milliseconds limit) const;
  void SetReply(Reply reply);

 private:
  NamedPipeServer pipe_;
  mutable std::mutex mutex_;  // guards messages_ and reply_
  std::vector<std::string> messages_;
  Reply reply_;
  std::jthread thread_;
};

// Copies build/bin/<module> to C:\Program Files\<folder>\<module> of the
// current machine and names it in DLLPath, as an installer does.
// The folder below C:\Program Files that platform tests install a module into.
inline constexpr const char* kAdminModuleFolder = "Admin modules";
void InstallAdminModule(const TempNetwork& net, const std::string& module, const std::string& folder);

// The machine's remote-access service, started through the service manager;
// stopped (or killed) when the object goes.
class RasServiceRunner {
 public:
  // `name`: "RemoteAccess" or "Router". Fails the test when it does not run.
  explicit RasServiceRunner(const std::string& name = "RemoteAccess");
  ~RasServiceRunner();
  RasServiceRunner(const RasServiceRunner&) = delete;
  RasServiceRunner& operator=(const RasServiceRunner&) = delete;

  // Stops it through the manager; true when it reached "stopped".
  bool Stop();
  bool running() const;

 private:
  void Start();
  std::string name_;
};

// Records of the current machine's System log with this event identifier.
std::vector<plat::EventRecord> SystemEvents(DWORD eventId);
// Records of source `source` in the Application log.
std::vector<plat::EventRecord> ApplicationEvents(std::string_view source);

}  // namespace plat::testing
