// The status mail's tests: SRV1 counting for the mail, which goes to two
// recipients from 7 o'clock on.
#pragma once

#include <string>

#include "service/reporting/tests/reporting_fixture.h"
#include "service/session_log.h"
#include "service/system_data.h"
#include "service/tests/policy_fixture.h"

namespace svc::testing {

class StatusMailTest : public PolicyTest {
 protected:
  void SetUp() override {
    PolicyTest::SetUp();
    ctx.systemData.dailyStatusEmailType = 1;  // the counters run
    SetHw(kGeneralSection, "DailyStatusEmailType", "1");
    SetHw(kGeneralSection, "DailyStatusEmailHour", "7");
    SetHw(kGeneralSection, "DailyStatusEmailTo", "ops@example.org; boss@example.org");
    SetHw(kGeneralSection, "DailyStatusEmailFrom", "portulon@srv1.example");
    now = At(2024, 3, 12, 7, 5);
  }
  void UseServer(const std::string& address) {
    SetHw(kGeneralSection, "DailyStatusEmailPOPServer", address);
  }
  // Admissions of `user` as the session log counts them, and refusals.
  void Admit(const std::string& user, int times) {
    for (int i = 0; i < times; ++i) Log_Connection(ctx, user, now - 100 + i, kCom1);
  }
  std::string Counter(const std::string& section, const std::string& key) {
    return Read(ctx.paths.statusCounters, section, key);
  }
};

}  // namespace svc::testing
