// The commands of plreport. Each lives in its own report_<name>.cc; adding
// one means a file and a line in plreport_main.cc's command table.
#pragma once

#include "service/tools/report_options.h"

namespace plreport {

// A command gets the tool with its arguments after the command's name; it
// returns the exit status.
struct Command {
  const char* name;
  int (*run)(ReportContext& report);
};

int RunLog(ReportContext& report);    // report_log.cc
int RunUsers(ReportContext& report);  // report_users.cc
int RunWho(ReportContext& report);         // report_who.cc
int RunDisconnect(ReportContext& report);  // report_who.cc

// "h:mm:ss".
std::string Duration(std::uint64_t seconds);

}  // namespace plreport
