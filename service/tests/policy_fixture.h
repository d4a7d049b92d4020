// A server SRV1 of domain DOM on a temporary network, its data folder shared as
// \\SRV1\PL_NT_DB (C:\PLData), and a service context whose clock the test sets.
//
// Domain DOM (PDC SRV2, so that the controller can go down while SRV1 and its
// share stay up): groups Dialers, Staff, Monthly, Daily; users ann
// (Dialers), bob (Staff), cy (Daily, Monthly); local group "RAS Users" holds
// DOM\Staff.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/netapi.h"
#include "platform/path.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "platform/testing/calendar.h"
#include "platform/testing/temp_network.h"
#include "service/service_context.h"
#include "service/settings.h"

namespace svc::testing {

inline constexpr const char* kCom1 = "SRV1\\COM1";
inline constexpr const char* kAnn = "DOM\\ann";

// Local time of the current machine (bias 0 unless a test changes it).
inline std::time_t At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return plat::FromLocalTime(plat::testing::CalendarTime(year, month, day, hour, minute, second));
}

class PolicyTest : public ::testing::Test {
 protected:
  explicit PolicyTest(plat::LCID locale = plat::LOCALE_US_ENGLISH) : network_(Config(locale)) {}

  static plat::MachineConfig Config(plat::LCID locale) {
    plat::MachineConfig c = plat::testing::TempNetwork::DefaultConfig("SRV1");
    c.locale = locale;
    return c;
  }

  void SetUp() override {
    ASSERT_EQ(plat::CreateDirectory("C:\\PLData"), plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::CreateDirectory("C:\\PLData\\LogData"), plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::RegWriteString(plat::kSharesKey, "PL_NT_DB", "Path=C:\\PLData"),
              plat::ERROR_SUCCESS);
    ctx.serverName = "SRV1";
    ctx.settings.masterShare = "\\\\SRV1\\PL_NT_DB";
    ctx.paths = MakeDataPaths(ctx.settings.masterShare, plat::GetCurrentDirectory());
    now = At(2024, 3, 12, 10, 0, 0);
    ctx.clock = [this] { return now; };

    dc = network_.AddMachine(plat::testing::TempNetwork::DefaultConfig("SRV2"));
    ASSERT_EQ(plat::DomainCreate("DOM", "SRV2"), plat::ERROR_SUCCESS);
    for (const char* g : {"Dialers", "Staff", "Monthly", "Daily"}) {
      ASSERT_EQ(plat::DomainAddGroup("DOM", g), plat::ERROR_SUCCESS);
    }
    ASSERT_EQ(plat::DomainAddUser("DOM", "ann", "", {"Dialers"}), plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::DomainAddUser("DOM", "bob", "", {"Staff"}), plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::DomainAddUser("DOM", "cy", "", {"Daily", "Monthly"}), plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::DomainAddLocalGroup("DOM", "RAS Users"), plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::DomainAddMember("DOM", "RAS Users", "DOM\\Staff"), plat::ERROR_SUCCESS);
  }

  void SetUser(const std::string& section, const std::string& key, const std::string& value) {
    ASSERT_EQ(plat::ProfileWriteString(ctx.paths.users, section, key, value), plat::ERROR_SUCCESS);
  }
  std::string User(const std::string& section, const std::string& key) {
    return plat::ProfileGetString(ctx.paths.users, section, key, "<none>");
  }
  void SetHw(const std::string& section, const std::string& key, const std::string& value) {
    ASSERT_EQ(plat::ProfileWriteString(ctx.paths.systemData, section, key, value),
              plat::ERROR_SUCCESS);
  }
  std::string Hw(const std::string& section, const std::string& key) {
    return plat::ProfileGetString(ctx.paths.systemData, section, key, "<none>");
  }
  std::string Read(const std::string& file, const std::string& section, const std::string& key) {
    return plat::ProfileGetString(file, section, key, "<none>");
  }
  // A record of a day log or portulon.log, in whichever part of its section.
  std::string Record(const std::string& file, const std::string& section, const std::string& key) {
    if (const auto records = plat::ProfileReadRecords(file, section)) {
      for (const auto& [k, v] : *records) {
        if (k == key) return v;
      }
    }
    return "<none>";
  }
  static std::string Key(std::time_t t) { return std::to_string(static_cast<long long>(t)); }

  plat::testing::TempNetwork network_;
  std::string dc;  // root of SRV2, DOM's controller
  ServiceContext ctx;
  std::time_t now = 0;
};

}  // namespace svc::testing
