// Broken-down times for tests, from their fields.
#pragma once

#include "platform/sysinfo.h"

namespace plat::testing {

using plat::CalendarTime;

}  // namespace plat::testing
