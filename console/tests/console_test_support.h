// What the console's tests share: a notifier that queues what fetches post
// and lets the test thread play the user-interface thread, a message sink
// that records, and monitored servers on a temporary network.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "console/core/console_keys.h"
#include "console/core/message_sink.h"
#include "console/core/pladmin_doc.h"
#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/pipe.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"

namespace pladmin::testing {

using namespace std::chrono_literals;

struct Notification {
  int message;
  std::uint64_t id;
  int state;
};

// Queues the fetches' notifications; Pump hands them to the document on the
// calling thread, as the window's event loop does.
class QueueNotifier : public FetchNotifier {
 public:
  void Post(int message, std::uint64_t id, int state) override {
    std::lock_guard lock(mutex_);
    queue_.push_back({message, id, state});
    ready_.notify_all();
  }
  // Delivers notifications until `done` holds; false after `limit`.
  bool Pump(CPladminDoc& doc, const std::function<bool()>& done,
            std::chrono::milliseconds limit = 20s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      std::unique_lock lock(mutex_);
      if (!ready_.wait_until(lock, until, [&] { return !queue_.empty(); })) return false;
      const Notification n = queue_.front();
      queue_.pop_front();
      lock.unlock();
      delivered_.push_back(n);
      doc.OnServerNotification(n.message, n.id, n.state);
    }
    return true;
  }
  // Delivers notifications until no fetch of the document runs.
  bool PumpUntilIdle(CPladminDoc& doc, std::chrono::milliseconds limit = 20s) {
    return Pump(doc, [&] {
      for (int i = 0; i < doc.servers().size(); ++i) {
        if (doc.servers().FetchRunning(i) || !doc.servers().At(i).fetchDone) return false;
      }
      std::lock_guard lock(mutex_);
      return queue_.empty();
    }, limit);
  }
  // Notifications delivered so far, for one server.
  std::vector<Notification> DeliveredFor(std::uint64_t id) const {
    std::vector<Notification> out;
    for (const auto& n : delivered_) {
      if (n.id == id) out.push_back(n);
    }
    return out;
  }
  void ClearDelivered() { delivered_.clear(); }

 private:
  std::mutex mutex_;  // guards queue_
  std::condition_variable ready_;
  std::deque<Notification> queue_;
  std::vector<Notification> delivered_;  // the test thread's own
};

class RecordingSink : public MessageSink {
 public:
  void Message(const std::string& text, MessageIcon icon) override {
    messages.push_back(text);
    icons.push_back(icon);
  }
  bool Ask(const std::string& text, const std::string&) override {
    questions.push_back(text);
    return answer;
  }
  std::vector<std::string> messages, questions;
  std::vector<MessageIcon> icons;
  bool answer = true;
};

// The Service key of a monitored server, as its installation leaves it.
inline void WriteServiceKey(const std::string& machine, bool master, const std::string& share,
                            const std::string& version = "2.1b") {
  plat::RegKey hklm, key;
  ASSERT_EQ(plat::RegKey::Connect(machine, plat::Hive::LocalMachine, &hklm), plat::ERROR_SUCCESS);
  ASSERT_EQ(hklm.CreateSubKey(std::string(kProductKey) + "\\Service", &key), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.SetDword("Master", master ? 1 : 0), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("MasterShare", share), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("Version", version), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.SetDword("IdleTimer", 10), plat::ERROR_SUCCESS);
}

// A server machine with the remote-access flavour and ports asked for.
inline std::string AddServer(plat::testing::TempNetwork& net, const std::string& name,
                             plat::RasFlavour flavour, int ports = 4, bool master = false) {
  plat::MachineConfig config = plat::testing::TempNetwork::DefaultConfig(name);
  config.osVersion = flavour == plat::RasFlavour::Rras ? "5.0" : "4.0";
  config.ras = flavour;
  // Provisioning stops at 256 ports; a bigger server is one whose registry says so.
  config.rasPorts = ports > 256 ? 256 : ports;
  const std::string root = net.AddMachine(config);
  if (ports > 256) {
    plat::RegKey hklm, ras;
    EXPECT_EQ(plat::RegKey::Connect(name, plat::Hive::LocalMachine, &hklm), plat::ERROR_SUCCESS);
    EXPECT_EQ(hklm.OpenSubKey(plat::kRasKey, &ras), plat::ERROR_SUCCESS);
    EXPECT_EQ(ras.SetDword(plat::kRasPortsValue, static_cast<plat::DWORD>(ports)), plat::ERROR_SUCCESS);
  }
  WriteServiceKey(name, master, "\\\\" + name + "\\PL_NT_DB");
  return root;
}

// Starts or stops a service of a machine through its service manager.
inline void StartService(const std::string& machine, const std::string& service) {
  plat::ServiceManager scm;
  plat::ServiceHandle handle;
  ASSERT_EQ(plat::ServiceManager::Open("\\\\" + machine, &scm), plat::ERROR_SUCCESS);
  ASSERT_EQ(scm.OpenService(service, &handle), plat::ERROR_SUCCESS);
  ASSERT_EQ(handle.Start(), plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::WaitForServiceState(handle, plat::SERVICE_RUNNING, 10000), plat::ERROR_SUCCESS);
}

inline void StopService(const std::string& machine, const std::string& service) {
  plat::ServiceManager scm;
  plat::ServiceHandle handle;
  if (plat::ServiceManager::Open("\\\\" + machine, &scm) != plat::ERROR_SUCCESS ||
      scm.OpenService(service, &handle) != plat::ERROR_SUCCESS) {
    return;
  }
  plat::SERVICE_STATUS status;
  if (handle.Control(plat::SERVICE_CONTROL_STOP, &status) == plat::ERROR_SUCCESS) {
    plat::WaitForServiceState(handle, plat::SERVICE_STOPPED, 30000);
  }
}

// The remote-access services started in a test, stopped when it ends.
class RunningServices {
 public:
  ~RunningServices() {
    for (auto it = started_.rbegin(); it != started_.rend(); ++it) StopService(it->first, it->second);
  }
  void Start(const std::string& machine, const std::string& service = "RemoteAccess") {
    StartService(machine, service);
    started_.emplace_back(machine, service);
  }

 private:
  std::vector<std::pair<std::string, std::string>> started_;
};

// A caller dials in on a port of `machineRoot`'s remote-access service.
inline void Dial(const std::string& machineRoot, const std::string& port, const std::string& account,
                 const std::vector<std::string>& more = {}) {
  std::vector<std::string> args{"--machine", machineRoot, "dial", port, account};
  args.insert(args.end(), more.begin(), more.end());
  const auto result = plat::testing::RunTool("rasctl", args);
  ASSERT_EQ(result.code, 0) << result.out << result.err;
}

// Names `servers` in the console machine's Servers key.
inline void ListServers(const std::vector<std::string>& servers) {
  plat::RegKey root;
  ASSERT_EQ(plat::RegKey::Create(plat::Hive::LocalMachine, kServersKey, &root), plat::ERROR_SUCCESS);
  for (const auto& name : servers) {
    plat::RegKey key;
    ASSERT_EQ(plat::RegKey::Create(plat::Hive::LocalMachine, std::string(kServersKey) + "\\" + name,
                                   &key),
              plat::ERROR_SUCCESS);
  }
}

// A pipe created on another machine of the network: pipes are made on the
// current machine only, so the current machine changes for the moment.
class PipeOn {
 public:
  PipeOn(const std::string& machineRoot, const std::string& pipe) {
    const std::string own = plat::CurrentMachineRoot();
    plat::SetCurrentMachineRoot(machineRoot);
    EXPECT_EQ(plat::NamedPipeServer::Create(pipe, 4, &server_), plat::ERROR_SUCCESS) << pipe;
    plat::SetCurrentMachineRoot(own);
  }
  plat::NamedPipeServer& server() { return server_; }

 private:
  plat::NamedPipeServer server_;
};

// Answers requests with `reply(request)` until destroyed; remembers them.
class Responder {
 public:
  Responder(const std::string& machineRoot, const std::string& pipe,
            std::function<std::string(const std::string&)> reply)
      : pipe_(machineRoot, pipe), reply_(std::move(reply)) {
    thread_ = std::thread([this] {
      while (!stop_) {
        plat::PipeConnection c;
        if (pipe_.server().WaitForClient(&c, 100) != plat::ERROR_SUCCESS) continue;
        std::string request;
        if (c.Read(&request, 2000, 2000) != plat::ERROR_SUCCESS) continue;
        {
          std::lock_guard lock(mutex_);
          requests_.push_back(request);
        }
        c.Write(reply_(request));
        c.Disconnect();
      }
    });
  }
  ~Responder() {
    stop_ = true;
    thread_.join();
  }
  std::vector<std::string> requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  PipeOn pipe_;
  std::function<std::string(const std::string&)> reply_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;  // guards requests_
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace pladmin::testing
