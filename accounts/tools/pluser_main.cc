// pluser: the dial-in accounts of portulon.usr from the command line, with
// the same rules as the console's account pages: human units in, seconds and
// days in the file, only the keys named on the command line written.
#include <cstdio>
#include <string>
#include <vector>

#include "accounts/account_store.h"
#include "accounts/setting_info.h"
#include "accounts/tools/tool_support.h"
#include "accounts/typo_checks.h"
#include "common/data_folder.h"
#include "platform/tools/tool_args.h"

namespace {

constexpr const char* kUsage = R"(pluser - the dial-in accounts of Portulon: profiles, limits and usage

Usage:
  pluser list [--user NAME] [--domain DOMAIN] [--search TEXT] [--format table|csv]
  pluser show ACCOUNT
  pluser add ACCOUNT [LIMITS] [--force]
  pluser set ACCOUNT LIMITS [--force]
  pluser copy FROM TO [TO...]
  pluser reset ACCOUNT [ACCOUNT...]
  pluser delete ACCOUNT [ACCOUNT...]
  (each with [--data FOLDER] [--machine ROOT])
  pluser --help | --version

ACCOUNT is DOMAIN\user, or +DOMAIN\Group for a group profile.

list    every profile with its limits and usage (plreport users is the
        same listing under another name)
show    one profile: every limit and usage value, in words and as stored
add     a new profile: the default profile's limits (section Default of
        portulon.hw), then the LIMITS given
set     changes the LIMITS given and nothing else; the usage the service
        keeps is never touched, even while it records a session
copy    the limits of FROM (all but its static address) to every TO,
        creating the profiles that do not exist
reset   the usage values back to 0 (connections, refusals, times, period)
delete  removes the profiles

Options:
  --data FOLDER         the data folder as a Windows path (default: the
                        service's MasterShare setting, e.g. \\SRV1\PL_NT_DB)
  --user NAME           list: one user or group (DOMAIN\NAME for one
                        account exactly)
  --domain DOMAIN       list: the profiles of one domain, groups included
  --search TEXT         list: the profiles whose name holds TEXT
  --format table|csv    list: a table (default) or comma-separated values
  --strict              add, set, copy: refuse what is only warned about (a
                        profile for an account its domain does not have, an
                        allowance without a period); nothing is written
  --machine ROOT        the machine folder (default: PORTULON_MACHINE)
  --help                show this text
  --version             show the program's version

LIMITS (any of them; each also as KEY=VALUE with the file's key name):
  --session TIME        MaxSessionTime, the longest session
  --total TIME          MaxTotalTime, the limit on all sessions together
  --expires-after DAYS  ExpiryTime, counted from the first dial-in; never
  --expires DATE        ExpiryDate, the last day the account may be used
                        (it expires at the midnight after it, the server's
                        local time; a session is cut then); none. With
                        --expires-after too, the earlier expiry wins
  --period PERIOD       PeriodType: none, day, week or month
  --allowance TIME      PeriodMax, the time allowed per period
  --no-duplicate yes|no  NoDuplicate, one session at a time
  --sessions N          how many sessions may run at once, counted on every
                        server of the data folder; 0 or none: no number (then
                        --no-duplicate decides: one, or no limit)
  --static-ip ADDRESS   StaticIP, as 10.0.0.77; none. An address another
                        profile has is refused; --force sets it anyway, with
                        a warning (the service still gives it to one session
                        at a time)
TIME is 1h30m, 90m, 45s, 2d or 1:30 (h:mm); 0 or none is no limit.
DAYS is 90d or 90. DATE is 2027-01-31 (YYYY-MM-DD). A group profile has only
session, total, period, allowance, no-duplicate and sessions; the user's own
sessions (or its no-duplicate) go before any group's. Changes take effect at
the user's next dial-in.

Exit status:
  0  done
  1  the data folder cannot be reached, the file is half-written, the
     account does not exist, or its static address is another profile's
     (without --force)
  2  the command line is wrong (unknown option or key, a value the file
     cannot store), or --strict refused a warning
Nothing is written when anything is refused.

Files:
  FOLDER\portulon.usr   the profiles and their usage
  FOLDER\portulon.hw    the default profile (section Default)

Examples:
  pluser add 'DOM\ann' --session 1h30m --expires-after 90d --static-ip 10.0.0.77
  pluser set 'DOM\ann' --expires 2027-01-31
  pluser set 'DOM\ann' --total 100h --period week --allowance 10h
  pluser list --domain DOM
  pluser copy 'DOM\ann' 'DOM\bob' 'DOM\carol'

See also:
  plsettings(1), plreport(1), pldomain(1)
)";

using accounts::Unit;

// Takes the limit options out of the arguments, then the account (the first
// argument left), then KEY=VALUE operands; every value parsed for the kind of
// profile the account names.
bool TakeAccountAndLimits(pltools::Tool& tool, std::string* account, accounts::Changes* changes) {
  std::vector<std::pair<const accounts::SettingInfo*, std::string>> typed;
  for (const accounts::SettingInfo& info : accounts::ProfileSettings()) {
    std::string value;
    if (tool.TakeOption(info.option, &value)) typed.emplace_back(&info, value);
    if (tool.failed()) return false;
  }
  if (!tool.RejectUnknownOptions()) return false;
  auto& args = tool.args();
  if (args.empty()) return tool.UsageError("no account given"), false;
  *account = args.front();
  args.erase(args.begin());
  for (const std::string& a : args) {
    const size_t eq = a.find('=');
    if (eq == std::string::npos) return tool.UsageError("one account at a time: unexpected '" + a + "'"), false;
    const std::string key = a.substr(0, eq);
    const accounts::SettingInfo* info = accounts::FindSetting(accounts::ProfileSettings(), key);
    if (!info) {
      std::string keys;
      for (const accounts::SettingInfo& s : accounts::ProfileSettings()) keys += (keys.empty() ? "" : ", ") + std::string(s.key);
      return tool.UsageError("unknown key '" + key + "' (keys: " + keys + ")"), false;
    }
    typed.emplace_back(info, a.substr(eq + 1));
  }
  args.clear();
  const bool group = !account->empty() && account->front() == '+';
  for (const auto& [info, value] : typed) {
    std::string why;
    auto change = accounts::ParseProfileValue(*info, value, group, &why);
    if (!change) return tool.ValueError(std::string(info->option) + ": " + why), false;
    changes->push_back(std::move(*change));
  }
  return true;
}

std::string Shown(const accounts::Account& a, const accounts::SettingInfo& info) {
  return accounts::FormatValue(info.unit, a.Text(info.key, info.defaultText));
}

int Show(const accounts::Account& a) {
  std::printf("%s (%s profile)\n", a.section.c_str(), a.IsGroup() ? "group" : "user");
  for (auto table : {accounts::ProfileSettings(), accounts::UsageValues()}) {
    for (const auto& info : table) {
      if (a.IsGroup() && !info.groupKey) continue;
      const std::string stored = a.Text(info.key, "");
      const char* missing = info.unit == accounts::Unit::Date ? "(missing: none)" : "(missing: 0)";
      std::printf("  %-46s %-22s %s=%s\n", info.label, Shown(a, info).c_str(), info.key,
                  stored.empty() ? missing : stored.c_str());
    }
  }
  return pltools::kExitSuccess;
}

int Report(pltools::Tool& tool, const accounts::Outcome& outcome, const std::string& done,
           const std::vector<std::string>& warnings = {}) {
  if (!outcome.ok()) return tool.Fail(outcome.message);
  for (const std::string& w : warnings) std::fprintf(stderr, "pluser: warning: %s\n", w.c_str());
  std::printf("%s\n", done.c_str());
  return pltools::kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("pluser", kUsage);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  if (tool.args().empty()) return tool.UsageError("no command given");
  const std::string command = tool.args()[0];
  tool.args().erase(tool.args().begin());
  static const char* kCommands[] = {"list", "show", "add", "set", "copy", "reset", "delete"};
  bool known = false;
  for (const char* c : kCommands) known = known || command == c;
  if (!known) return tool.UsageError("unknown command '" + command + "'");

  std::string folder;
  const bool folderGiven = tool.TakeOption("--data", &folder);
  const bool strict = tool.TakeFlag("--strict");
  if (tool.failed()) return tool.exitCode();

  // Arguments first, so that a wrong command line never needs the machine.
  accounts::Changes changes;
  std::vector<std::string> names;
  bool force = false;
  if (command == "list") return placcounts_tools::ListAccounts(tool, folderGiven ? &folder : nullptr);
  if (command == "add" || command == "set") {
    force = tool.TakeFlag("--force");
    std::string account;
    if (!TakeAccountAndLimits(tool, &account, &changes)) return tool.exitCode();
    if (command == "set" && changes.empty()) return tool.UsageError("nothing to set: give at least one limit");
    names.push_back(account);
  } else {
    if (!tool.RejectUnknownOptions()) return tool.exitCode();
    names = tool.args();
    tool.args().clear();
    if (names.empty()) return tool.UsageError("no account given");
    if (command == "show" && names.size() > 1) return tool.UsageError("one account at a time: unexpected '" + names[1] + "'");
    if (command == "copy" && names.size() < 2) return tool.UsageError("copy needs FROM and at least one TO");
  }
  for (const std::string& name : names) {
    std::string why;
    if (!accounts::CheckAccountName(name, &why)) return tool.ValueError(why);
  }

  std::string dataFolder;
  if (!placcounts_tools::FindDataFolder(tool, folderGiven ? &folder : nullptr, &dataFolder)) return tool.exitCode();
  const accounts::AccountStore store(common::DataFile(dataFolder, common::kUsersFile),
                                     common::DataFile(dataFolder, common::kSystemDataFile));

  if (command == "show") {
    auto account = store.Find(names[0]);
    if (!account) return tool.Fail("there is no profile " + names[0]);
    return Show(*account);
  }
  // What can be stored but is most likely a typing error: warned about, or
  // with --strict refused before anything is written.
  if (command == "add" || command == "set" || command == "copy") {
    std::vector<std::string> warnings;
    std::vector<accounts::Account> after;
    if (command == "copy") {
      const auto from = store.Find(names[0]);
      for (size_t i = 1; from && i < names.size(); ++i) {
        accounts::Account a = store.Find(names[i]).value_or(store.NewProfile(names[i]));
        for (const auto& [key, text] : from->values) {
          if (key != "StaticIP") a = accounts::WithChanges(a, {{key, text}});
        }
        after.push_back(a);
      }
    } else {
      const auto existing = command == "set" ? store.Find(names[0]) : std::nullopt;
      after.push_back(accounts::WithChanges(existing.value_or(store.NewProfile(names[0])), changes));
    }
    for (const auto& a : after) {
      for (const std::string& w : accounts::ProfileWarnings(a)) warnings.push_back(a.section + ": " + w);
    }
    for (const std::string& w : warnings) {
      std::fprintf(stderr, "pluser: %s: %s\n", strict ? "refused" : "warning", w.c_str());
    }
    if (strict && !warnings.empty()) {
      std::fprintf(stderr, "pluser: nothing was written (--strict)\n");
      return pltools::kExitUsage;
    }
  }
  // With --force a static address another profile has is written and warned about.
  std::vector<std::string> shared;
  if (command == "add") {
    const accounts::Outcome added = store.Add(names[0], changes, force ? &shared : nullptr);
    return Report(tool, added, "added " + names[0], shared);
  }
  if (command == "set") {
    const accounts::Outcome changed = store.Set(names[0], changes, force ? &shared : nullptr);
    return Report(tool, changed, "changed " + names[0], shared);
  }
  if (command == "copy") {
    const std::vector<std::string> targets(names.begin() + 1, names.end());
    return Report(tool, store.Copy(names[0], targets),
                  "copied " + names[0] + "'s limits to " + std::to_string(targets.size()) + " account(s)");
  }
  if (command == "reset") return Report(tool, store.ResetUsage(names), "usage reset");
  return Report(tool, store.Delete(names), "deleted");
}
