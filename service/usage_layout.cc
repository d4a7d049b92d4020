#include "service/usage_layout.h"

#include "common/profile_keys.h"

namespace svc {

const plat::ProfileLayout& UsageLayout() {
  static const plat::ProfileLayout layout{
      {common::kTotalConnects, common::kTotalDenieds, common::kTotalTime, common::kFirstConnection,
       common::kLastConnection, common::kLasted, common::kPeriodUsage, common::kPeriodStamp},
      common::kUsageWidth,
      "0",
      [](std::string_view section) { return section.empty() || section.front() != '+'; },
  };
  return layout;
}

}  // namespace svc
