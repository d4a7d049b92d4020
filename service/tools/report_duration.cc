#include <cstdio>

#include "service/tools/report_commands.h"

namespace plreport {

std::string Duration(std::uint64_t seconds) {
  char text[40];
  std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                static_cast<unsigned long long>(seconds / 3600),
                static_cast<unsigned long long>(seconds / 60 % 60),
                static_cast<unsigned long long>(seconds % 60));
  return text;
}

}  // namespace plreport
