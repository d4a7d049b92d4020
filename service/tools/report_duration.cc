
#include "platform/text.h"
#include "service/tools/report_commands.h"

namespace plreport {

std::string Duration(std::uint64_t seconds) {
  return plat::FormatText("%llu:%02llu:%02llu", static_cast<unsigned long long>(seconds / 3600),
                          static_cast<unsigned long long>(seconds / 60 % 60),
                          static_cast<unsigned long long>(seconds % 60));
}

}  // namespace plreport
