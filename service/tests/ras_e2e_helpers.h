// What the end-to-end tests on a remote-access machine share: plsvc installed
// and started as a service with its data folder on drive C: (published as
// PL_NT_DB), a domain DOM with ann, bob and eve, and the day's log.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/data_folder.h"
#include "common/pipe_protocol.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/netapi.h"
#include "platform/pipe.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/sysinfo.h"
#include "platform/testing/temp_network.h"
#include "service/settings.h"
#include "service/tests/installed_plsvc.h"

namespace svc::testing::e2e {

using namespace std::chrono_literals;

using common::testing::InstallPortulon;
using common::testing::kHw;
using common::testing::kLoggedIn;
using common::testing::kUsers;

// Starts plsvc as a service and waits until its pipe answers.
inline void StartPortulon() {
  plat::ServiceHandle service = testing::OpenPortulon();
  ASSERT_EQ(service.Start(), plat::ERROR_SUCCESS);
  for (int i = 0; i < 200; ++i) {
    std::string reply;
    if (plat::CallNamedPipe(common::kPipeName, "UPDATE_UPDATE", &reply, 2000, 100) == plat::ERROR_SUCCESS) return;
    std::this_thread::sleep_for(50ms);
  }
  FAIL() << "the Portulon service's pipe never answered";
}

// A service stops after a 4 s pause; the tests need not wait for it.
inline void KillPortulon() {
  if (const plat::DWORD pid = testing::OpenPortulon().ProcessId(); pid != 0) {
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    plat::WaitForServiceState(testing::OpenPortulon(), plat::SERVICE_STOPPED, 10000);
  }
}

inline std::string Today() {
  return common::DayLogPath("C:\\PLData", common::DayLogName(plat::Now()));
}

inline std::vector<std::string> Records(const std::string& port) {
  std::vector<std::string> out;
  if (auto section = plat::ProfileReadRecords(Today(), "SRV1\\" + port)) {
    for (auto& [key, value] : *section) out.push_back(value);
  }
  return out;
}

inline bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

// The hang-up record "H<duration>_<account>?<address>?<reason>:<ipx>:<machine>:<in>:<out>"
// without its duration.
inline std::string WithoutDuration(const std::string& record) {
  const auto underscore = record.find('_');
  return underscore == std::string::npos ? record : "H_" + record.substr(underscore + 1);
}

}  // namespace svc::testing::e2e
