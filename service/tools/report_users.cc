// plreport users: pluser list under the name the reports have had, for the
// scripts that call it.
#include "accounts/tools/tool_support.h"
#include "service/tools/report_commands.h"

namespace plreport {

int RunUsers(ReportContext& report) {
  std::string folder;
  const bool given = report.tool.TakeOption("--data", &folder);
  if (report.tool.failed()) return report.tool.exitCode();
  return placcounts_tools::ListAccounts(report.tool, given ? &folder : nullptr);
}

}  // namespace plreport
