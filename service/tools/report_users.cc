// plreport users: every profile of portulon.usr with its limits and usage,
// in the accounts table pluser list shows too.
#include <cstdio>

#include "accounts/account_store.h"
#include "accounts/accounts_table.h"
#include "common/data_folder.h"
#include "service/tools/report_commands.h"

namespace plreport {

int RunUsers(ReportContext& report) {
  pltools::Tool& tool = report.tool;
  if (!TakeCommonOptions(report, false) || !FindDataFolder(report)) return tool.exitCode();
  const accounts::AccountStore store(common::DataFile(report.dataFolder, common::kUsersFile),
                                     common::DataFile(report.dataFolder, common::kSystemDataFile));
  const accounts::LoadResult loaded = store.Load();
  if (!loaded.fileProblem.empty()) {
    std::fprintf(stderr, "plreport: warning: %s\n", loaded.fileProblem.c_str());
  }
  std::vector<accounts::Account> shown;
  for (const accounts::Account& a : loaded.accounts) {
    if (report.filters.MatchesAccount(a.section)) shown.push_back(a);
  }
  if (report.format == pltools::OutputFormat::Table) {
    std::printf("Usage accounts (%s)%s: %zu\n\n", store.usersFile().c_str(),
                loaded.fileMissing ? ", no such file" : "", shown.size());
  }
  accounts::AccountsTable(shown).Print(stdout, report.format);
  return pltools::kExitSuccess;
}

}  // namespace plreport
