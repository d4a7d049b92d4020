#include "accounts/typo_checks.h"

#include "common/expiry_date.h"
#include "common/profile_keys.h"
#include "platform/sysinfo.h"
#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/netapi.h"
#include "platform/text.h"

namespace accounts {

namespace {

bool HasName(const std::vector<std::string>& names, std::string_view name) {
  for (const auto& n : names) {
    if (plat::EqualsIgnoringCase(n, name)) return true;
  }
  return false;
}

}  // namespace

Account WithChanges(Account account, const Changes& changes) {
  for (const auto& [key, text] : changes) {
    bool found = false;
    for (auto& [k, v] : account.values) {
      if (plat::EqualsIgnoringCase(k, key)) {
        v = text;
        found = true;
      }
    }
    if (!found) account.values.emplace_back(key, text);
  }
  return account;
}

std::vector<std::string> ProfileWarnings(const Account& profile) {
  std::vector<std::string> warnings;
  const std::string domain = profile.Domain();
  const std::string name = profile.Name();
  const std::string shown = profile.IsGroup() ? profile.section.substr(1) : profile.section;
  plat::DomainInfo info;
  if (!domain.empty()) {
    if (plat::DomainRead(domain, &info) != plat::ERROR_SUCCESS) {
      warnings.push_back("the network has no domain " + domain + ", so " + shown +
                         " can never dial in");
    } else if (profile.IsGroup()) {
      std::vector<std::string> groups;
      for (const auto& g : info.groups) groups.push_back(g.name);
      for (const auto& g : info.localGroups) groups.push_back(g.name);
      if (!HasName(groups, name)) {
        warnings.push_back("the domain " + domain + " has no group " + name +
                           ", so the profile applies to nobody");
      }
    } else {
      std::vector<std::string> users;
      for (const auto& u : info.users) users.push_back(u.name);
      if (!HasName(users, name)) {
        warnings.push_back("the domain " + domain + " has no user " + name + ", so " + shown +
                           " can never dial in");
      }
    }
  }
  if (profile.Number(common::kPeriodType) == 0 && profile.Number(common::kPeriodMax) != 0) {
    warnings.push_back("an allowance with the period none is never applied: give the period "
                       "day, week or month");
  }
  // A last day already over: meant to be, or a mistyped year.
  const common::ExpiryDateValue date = common::ReadExpiryDate(profile.Text(common::kExpiryDate, ""));
  if (date.kind == common::ExpiryDateValue::kDate && common::ExpiryCutTime(date.date) <= plat::Now()) {
    warnings.push_back("the last day " + common::FormatIsoDate(date.date) + " is over, so " + shown +
                       " is refused as expired from now on");
  }
  return warnings;
}

std::vector<std::string> PortWarnings(std::string_view serverPort) {
  const size_t slash = serverPort.find('\\');
  if (slash == std::string_view::npos) return {};
  const std::string server(serverPort.substr(0, slash));
  const std::string port(serverPort.substr(slash + 1));
  // Only the dial-in ports are numbered by the machine; other remote-access
  // services (the OpenVPN adapter) name theirs in their own settings.
  if (plat::ToLowerAscii(port).rfind("com", 0) != 0) return {};
  std::string root;
  plat::MachineConfig config;
  if (plat::FindMachine(server, &root, false) != plat::ERROR_SUCCESS ||
      plat::ReadMachineConfig(root, &config) != plat::ERROR_SUCCESS) {
    return {};
  }
  for (int i = 1; i <= config.rasPorts; ++i) {
    if (plat::EqualsIgnoringCase(port, "COM" + std::to_string(i))) return {};
  }
  return {server + " has no port " + port + ": its ports are COM1 to COM" +
          std::to_string(config.rasPorts)};
}

}  // namespace accounts
