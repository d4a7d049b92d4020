#include "accounts/tools/tool_support.h"

#include <cstdio>

#include "accounts/account_store.h"
#include "accounts/accounts_table.h"
#include "accounts/settings_store.h"
#include "common/data_folder.h"
#include "platform/file.h"
#include "platform/tools/tool_format.h"

namespace placcounts_tools {

bool FindDataFolder(pltools::Tool& tool, const std::string* given, std::string* folder) {
  if (!tool.RequireMachine()) return false;
  if (given) {
    *folder = *given;
  } else {
    auto share = accounts::ServerDataFolder("");
    if (!share) {
      tool.Fail("Portulon's data folder (MasterShare) is not set on this machine; give --data FOLDER");
      return false;
    }
    *folder = *share;
  }
  if (!plat::DirectoryExists(*folder)) {
    tool.Fail("the data folder " + *folder + " cannot be found (is its share there and its machine up?)");
    return false;
  }
  return true;
}

int ListAccounts(pltools::Tool& tool, const std::string* givenFolder) {
  accounts::AccountFilter filter;
  std::string format = "table";
  tool.TakeOption("--user", &filter.user);
  tool.TakeOption("--domain", &filter.domain);
  tool.TakeOption("--search", &filter.search);
  tool.TakeOption("--format", &format);
  if (tool.failed() || !tool.RejectUnknownOptions()) return tool.exitCode();
  pltools::OutputFormat form = pltools::OutputFormat::Table;
  if (!pltools::ParseOutputFormat(format, &form) || form == pltools::OutputFormat::Json) {
    return tool.ValueError("--format takes table or csv, not '" + format + "'");
  }
  if (!tool.args().empty()) return tool.UsageError("unexpected argument '" + tool.args()[0] + "'");
  std::string folder;
  if (!FindDataFolder(tool, givenFolder, &folder)) return tool.exitCode();

  const accounts::AccountStore store(common::DataFile(folder, common::kUsersFile),
                                     common::DataFile(folder, common::kSystemDataFile));
  const accounts::LoadResult loaded = store.Load();
  const char* name = tool.name().c_str();
  if (!loaded.fileProblem.empty())
    std::fprintf(stderr, "%s: warning: %s\n", name, loaded.fileProblem.c_str());
  for (const std::string& p : loaded.valueProblems)
    std::fprintf(stderr, "%s: warning: %s\n", name, p.c_str());
  std::vector<accounts::Account> shown;
  for (const accounts::Account& a : loaded.accounts) {
    if (filter.Matches(a)) shown.push_back(a);
  }
  if (form == pltools::OutputFormat::Table) {
    std::printf("Usage accounts (%s)%s: %zu\n\n", store.usersFile().c_str(),
                loaded.fileMissing ? ", no such file" : "", shown.size());
  } else if (loaded.fileMissing) {
    std::fprintf(stderr, "%s: %s does not exist yet: no profiles\n", name,
                 store.usersFile().c_str());
  }
  accounts::AccountsTable(shown).Print(stdout, form);
  return pltools::kExitSuccess;
}

}  // namespace placcounts_tools
