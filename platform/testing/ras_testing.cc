#include "platform/testing/ras_testing.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/service.h"

namespace plat::testing {

ScriptedPipeServer::ScriptedPipeServer(const std::string& pipeName, Reply reply)
    : reply_(std::move(reply)) {
  const DWORD err = NamedPipeServer::Create("\\\\.\\pipe\\" + pipeName, 1, &pipe_);
  EXPECT_EQ(err, ERROR_SUCCESS) << "cannot serve pipe " << pipeName;
  thread_ = std::jthread([this](std::stop_token stop) {
    while (!stop.stop_requested()) {
      PipeConnection c;
      if (pipe_.WaitForClient(&c, 50) != ERROR_SUCCESS) continue;
      std::string message;
      if (c.Read(&message, 2000, 5000) != ERROR_SUCCESS) continue;
      Reply reply;
      {
        std::lock_guard lock(mutex_);
        messages_.push_back(message);
        reply = reply_;
      }
      c.Write(reply ? reply(message) : std::string());
    }
  });
}

ScriptedPipeServer::~ScriptedPipeServer() {
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
  pipe_.Close();
}

std::vector<std::string> ScriptedPipeServer::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

bool ScriptedPipeServer::WaitForMessages(size_t count, std::chrono::milliseconds limit) const {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (messages().size() >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return messages().size() >= count;
}

void ScriptedPipeServer::SetReply(Reply reply) {
  std::lock_guard lock(mutex_);
  reply_ = std::move(reply);
}

void InstallAdminModule(const TempNetwork& net, const std::string& module, const std::string& programFolder) {
  const std::string folder = net.DriveC("Program Files/" + programFolder);
  std::filesystem::create_directories(folder);
  std::error_code ec;
  std::filesystem::remove(folder + "/" + module, ec);
  // A copy, not a link: a module held in use is locked, and a link would lock
  // the one build/bin file for every test network running at the same time.
  std::filesystem::copy_file(BinDir() + "/" + module, folder + "/" + module,
                             std::filesystem::copy_options::overwrite_existing);
  ASSERT_EQ(RegWriteString("Software\\Microsoft\\RAS\\AdminDLL", "DLLPath",
                           "C:\\Program Files\\" + programFolder + "\\" + module),
            ERROR_SUCCESS);
}

RasServiceRunner::RasServiceRunner(const std::string& name) : name_(name) { Start(); }

void RasServiceRunner::Start() {
  ServiceManager scm;
  ServiceHandle service;
  ASSERT_EQ(ServiceManager::Open("", &scm), ERROR_SUCCESS);
  ASSERT_EQ(scm.OpenService(name_, &service), ERROR_SUCCESS);
  ASSERT_EQ(service.Start(), ERROR_SUCCESS);
  ASSERT_EQ(WaitForServiceState(service, SERVICE_RUNNING, 10000), ERROR_SUCCESS);
}

RasServiceRunner::~RasServiceRunner() {
  ServiceManager scm;
  ServiceHandle service;
  if (ServiceManager::Open("", &scm) != ERROR_SUCCESS ||
      scm.OpenService(name_, &service) != ERROR_SUCCESS) {
    return;
  }
  if (!Stop()) {
    if (const DWORD pid = service.ProcessId(); pid != 0) ::kill(static_cast<pid_t>(pid), SIGKILL);
  }
}

bool RasServiceRunner::Stop() {
  ServiceManager scm;
  ServiceHandle service;
  if (ServiceManager::Open("", &scm) != ERROR_SUCCESS ||
      scm.OpenService(name_, &service) != ERROR_SUCCESS) {
    return false;
  }
  SERVICE_STATUS status;
  if (service.Control(SERVICE_CONTROL_STOP, &status) != ERROR_SUCCESS) {
    return !running();
  }
  return WaitForServiceState(service, SERVICE_STOPPED, 30000) == ERROR_SUCCESS;
}

bool RasServiceRunner::running() const {
  ServiceManager scm;
  ServiceHandle service;
  SERVICE_STATUS status;
  return ServiceManager::Open("", &scm) == ERROR_SUCCESS &&
         scm.OpenService(name_, &service) == ERROR_SUCCESS &&
         service.QueryStatus(&status) == ERROR_SUCCESS &&
         status.dwCurrentState != SERVICE_STOPPED;
}

namespace {

std::vector<plat::EventRecord> ReadLog(const char* log) {
  EventLogReader reader;
  std::vector<plat::EventRecord> all;
  if (EventLogReader::Open("", log, &reader) == ERROR_SUCCESS) reader.ReadAll(&all);
  return all;
}

}  // namespace

std::vector<plat::EventRecord> SystemEvents(DWORD eventId) {
  std::vector<plat::EventRecord> out;
  for (auto& r : ReadLog("System")) {
    if (r.eventId == eventId) out.push_back(std::move(r));
  }
  return out;
}

std::vector<plat::EventRecord> ApplicationEvents(std::string_view source) {
  std::vector<plat::EventRecord> out;
  for (auto& r : ReadLog("Application")) {
    if (r.source == source) out.push_back(std::move(r));
  }
  return out;
}

}  // namespace plat::testing
