// pldomain: administers the domains of a network (controllers, users, global
// and local groups) and shows what the network-management calls answer.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/netapi.h"
#include "platform/path.h"
#include "platform/tools/tool_args.h"

namespace {

constexpr int kExitOk = pltools::kExitSuccess;
constexpr int kExitFailed = pltools::kExitFailure;
constexpr int kExitUsage = pltools::kExitUsage;

constexpr const char* kUsage = R"(pldomain - the domains of a Portulon network: users, groups, controllers

Usage:
  pldomain [--network DIR | --machine DIR] COMMAND ...

Creates and changes the domains of a network (its domains/ folder): their
controllers, users, global and local groups, as a domain's user manager does.
The network is --network DIR, else PORTULON_NETWORK, else the folder that
holds the machine (--machine DIR or PORTULON_MACHINE).

Commands:
  create DOMAIN --dc PDC [--bdc "SRV2;SRV3"]     create a domain
  setdc DOMAIN --dc PDC [--bdc "SRV2;SRV3"]      change its controllers
  adduser DOMAIN USER [--fullname TEXT] [--groups "G1;G2"]
                                                 add a user
  addgroup DOMAIN GROUP [--comment TEXT]         add a global group
  addlocalgroup DOMAIN GROUP [--comment TEXT]    add a local group
  member DOMAIN GROUP MEMBER                     add a user to a global group, or a
                                                 user or global group (DOMAIN\name)
                                                 to a local group
  remove DOMAIN                                  delete the domain
  remove DOMAIN ACCOUNT                          delete a user or group
  remove DOMAIN GROUP MEMBER                     undo 'member'
  list [DOMAIN]                                  list the domains, or one domain
  lookup ACCOUNT                                 resolve a name as this machine would
  servers [DOMAIN]                               list the machines that are up

Options:
  --network DIR    the network folder
  --dc PDC         create, setdc: the primary domain controller
  --bdc LIST       create, setdc: the backup controllers, separated by ';'
  --fullname TEXT  adduser: the user's full name
  --groups LIST    adduser: the global groups to join, separated by ';'
  --comment TEXT   addgroup, addlocalgroup: the group's comment
  --machine DIR    the machine folder (default: PORTULON_MACHINE)
  --help           show this text
  --version        show the program's version

Exit status:
  0  success
  1  the operation failed (the error is printed)
  2  the command line is wrong

Files:
  NETWORK/domains/DOMAIN.ini   a domain's users, groups and controllers

Examples:
  pldomain create DOM --dc SRV1
  pldomain adduser DOM ann --fullname "Ann Smith" --groups "Staff"
  pldomain list DOM

See also:
  pluser(1), plmachine(1)
)";

struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // "--dc" -> value
};

// Options of the commands; --machine and --help are the shared ones of pltools.
constexpr const char* kOptions[] = {"--network", "--dc", "--bdc", "--groups", "--fullname",
                                    "--comment"};

int Failed(pltools::Tool& tool, const std::string& what, plat::DWORD error) {
  return tool.Fail(what + ": " + plat::NetErrorText(error) + " (" +
                    std::to_string(static_cast<unsigned>(error)) + ")");
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    const auto semi = text.find(';', start);
    std::string item = text.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
    const auto first = item.find_first_not_of(" \t");
    if (first != std::string::npos) {
      out.push_back(item.substr(first, item.find_last_not_of(" \t") - first + 1));
    }
    if (semi == std::string::npos) break;
    start = semi + 1;
  }
  return out;
}

std::string JoinList(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& i : items) out += (out.empty() ? "" : ";") + i;
  return out;
}

// Returns an empty text when the arguments fit `min`..`max` positionals
// (the command included) and only the allowed options.
std::string CheckShape(const Args& a, std::size_t min, std::size_t max,
                       const std::vector<std::string>& allowed) {
  if (a.positional.size() < min) return "missing arguments for '" + a.positional[0] + "'";
  if (a.positional.size() > max) return "too many arguments for '" + a.positional[0] + "'";
  for (const auto& [option, value] : a.options) {
    if (option == "--network") continue;
    bool ok = false;
    for (const auto& o : allowed) ok = ok || o == option;
    if (!ok) return "option " + option + " does not apply to '" + a.positional[0] + "'";
  }
  return {};
}

std::string Option(const Args& a, const std::string& name) {
  const auto it = a.options.find(name);
  return it == a.options.end() ? std::string() : it->second;
}

const char* MachineState(const std::string& name) {
  std::string root;
  if (name.empty()) return "none";
  if (plat::FindMachine(name, &root, false) != plat::ERROR_SUCCESS) return "missing";
  return plat::IsMachineDown(root) ? "down" : "up";
}

void WarnIfMissing(const std::string& pdc) {
  std::string root;
  if (plat::FindMachine(pdc, &root, false) != plat::ERROR_SUCCESS) {
    std::fprintf(stderr, "pldomain: warning: the network has no machine %s yet\n", pdc.c_str());
  }
}

int ListDomains() {
  std::vector<std::string> domains;
  plat::DomainList(&domains);
  if (domains.empty()) {
    std::printf("No domains.\n");
    return kExitOk;
  }
  for (const auto& name : domains) {
    plat::DomainInfo d;
    if (plat::DomainRead(name, &d) != plat::ERROR_SUCCESS) continue;
    std::printf("%-15s PDC %s (%s)  users %zu  groups %zu  local groups %zu\n", d.name.c_str(),
                d.pdc.c_str(), MachineState(d.pdc), d.users.size(), d.groups.size(),
                d.localGroups.size());
  }
  return kExitOk;
}

int ListDomain(pltools::Tool& tool, const std::string& domain) {
  plat::DomainInfo d;
  if (plat::DWORD err = plat::DomainRead(domain, &d); err != plat::ERROR_SUCCESS) {
    return Failed(tool, "domain " + domain, err);
  }
  std::printf("Domain %s  SID %s\n", d.name.c_str(), d.sid.c_str());
  std::printf("  PDC  %s (%s)\n", d.pdc.c_str(), MachineState(d.pdc));
  for (const auto& b : d.bdcs) std::printf("  BDC  %s (%s)\n", b.c_str(), MachineState(b));
  std::printf("Users\n");
  for (const auto& u : d.users) {
    std::printf("  %-20s %-24s groups: %s\n", u.name.c_str(), u.fullName.c_str(),
                JoinList(u.groups).c_str());
  }
  std::printf("Groups\n");
  for (const auto& g : d.groups) {
    std::printf("  %-20s members: %s\n", g.name.c_str(), JoinList(g.members).c_str());
  }
  std::printf("Local groups\n");
  for (const auto& g : d.localGroups) {
    std::printf("  %-20s members: %s\n", g.name.c_str(), JoinList(g.members).c_str());
  }
  return kExitOk;
}

int Lookup(pltools::Tool& tool, const std::string& account) {
  plat::AccountSid sid;
  std::string domain;
  plat::SID_NAME_USE use = plat::SidTypeUser;
  if (plat::DWORD err = plat::LookupAccountName("", account, &sid, &domain, &use);
      err != plat::ERROR_SUCCESS) {
    return Failed(tool, "lookup " + account, err);
  }
  const char* type = use == plat::SidTypeUser    ? "user"
                     : use == plat::SidTypeGroup ? "global group"
                                                 : "local group";
  const auto slash = account.find('\\');
  const std::string name = slash == std::string::npos ? account : account.substr(slash + 1);
  std::printf("%s\\%s  %s  %s\n", domain.c_str(), name.c_str(), type, sid.text.c_str());
  if (use != plat::SidTypeUser) return kExitOk;
  // What the admission check would see for this user.
  std::string dc;
  if (plat::DWORD err = plat::NetGetDCName("", domain, &dc); err != plat::ERROR_SUCCESS) {
    std::printf("  domain controller: not found (%u)\n", static_cast<unsigned>(err));
    return kExitOk;
  }
  std::vector<std::string> global, local;
  plat::NetUserGetGroups(dc, name, &global);
  plat::NetUserGetLocalGroups(dc, domain + "\\" + name, plat::LG_INCLUDE_INDIRECT, &local);
  std::printf("  domain controller: %s\n  global groups: %s\n  local groups: %s\n", dc.c_str(),
              JoinList(global).c_str(), JoinList(local).c_str());
  return kExitOk;
}

int Servers(pltools::Tool& tool, const std::string& domain) {
  std::vector<plat::ServerInfo> servers;
  if (plat::DWORD err = plat::NetServerEnum(domain, plat::SV_TYPE_ALL, &servers);
      err != plat::ERROR_SUCCESS) {
    return Failed(tool, "servers", err);
  }
  for (const auto& s : servers) {
    std::string roles;
    if (s.type & plat::SV_TYPE_DOMAIN_CTRL) roles += " PDC";
    if (s.type & plat::SV_TYPE_DOMAIN_BAKCTRL) roles += " BDC";
    if (s.type & plat::SV_TYPE_DIALIN_SERVER) roles += " dial-in";
    std::printf("%-15s %-15s %u.%u%s\n", s.name.c_str(), s.domain.c_str(),
                static_cast<unsigned>(s.versionMajor), static_cast<unsigned>(s.versionMinor),
                roles.c_str());
  }
  return kExitOk;
}

// Points the process at the network the options and environment name: a
// machine given on the command line outranks PORTULON_NETWORK.
int SelectNetwork(pltools::Tool& tool, const Args& a, bool machineGiven) {
  std::string network = Option(a, "--network");
  if (network.empty() && machineGiven) {
    network = std::filesystem::path(plat::CurrentMachineRoot()).parent_path().string();
  }
  if (!network.empty()) ::setenv("PORTULON_NETWORK", network.c_str(), 1);
  const std::string effective = plat::NetworkRoot();
  if (effective.empty()) {
    return tool.UsageError("no network: give --network DIR or set PORTULON_NETWORK or PORTULON_MACHINE");
  }
  if (!plat::DirectoryExists(plat::HostToWindowsPath(
          std::filesystem::absolute(effective).lexically_normal().string()))) {
    return tool.Fail("network folder " + effective + " does not exist");
  }
  return kExitOk;
}

int Run(pltools::Tool& tool, const Args& a) {
  const std::string& cmd = a.positional[0];
  const auto& p = a.positional;
  std::string shape;
  if (cmd == "create" || cmd == "setdc") {
    if (!(shape = CheckShape(a, 2, 2, {"--dc", "--bdc"})).empty()) return tool.UsageError(shape);
    const std::string pdc = Option(a, "--dc");
    if (pdc.empty()) return tool.UsageError("'" + cmd + "' needs --dc PDC");
    const auto bdcs = SplitList(Option(a, "--bdc"));
    const plat::DWORD err = cmd == "create" ? plat::DomainCreate(p[1], pdc, bdcs)
                                            : plat::DomainSetControllers(p[1], pdc, bdcs);
    if (err != plat::ERROR_SUCCESS) return Failed(tool, cmd + " " + p[1], err);
    WarnIfMissing(pdc);
    return kExitOk;
  }
  if (cmd == "adduser") {
    if (!(shape = CheckShape(a, 3, 3, {"--fullname", "--groups"})).empty()) return tool.UsageError(shape);
    const plat::DWORD err =
        plat::DomainAddUser(p[1], p[2], Option(a, "--fullname"), SplitList(Option(a, "--groups")));
    return err == plat::ERROR_SUCCESS ? kExitOk : Failed(tool, "adduser " + p[1] + " " + p[2], err);
  }
  if (cmd == "addgroup" || cmd == "addlocalgroup") {
    if (!(shape = CheckShape(a, 3, 3, {"--comment"})).empty()) return tool.UsageError(shape);
    const plat::DWORD err = cmd == "addgroup"
                                ? plat::DomainAddGroup(p[1], p[2], Option(a, "--comment"))
                                : plat::DomainAddLocalGroup(p[1], p[2], Option(a, "--comment"));
    return err == plat::ERROR_SUCCESS ? kExitOk : Failed(tool, cmd + " " + p[1] + " " + p[2], err);
  }
  if (cmd == "member") {
    if (!(shape = CheckShape(a, 4, 4, {})).empty()) return tool.UsageError(shape);
    const plat::DWORD err = plat::DomainAddMember(p[1], p[2], p[3]);
    return err == plat::ERROR_SUCCESS ? kExitOk : Failed(tool, "member " + p[2] + " " + p[3], err);
  }
  if (cmd == "remove") {
    if (!(shape = CheckShape(a, 2, 4, {})).empty()) return tool.UsageError(shape);
    plat::DWORD err = plat::ERROR_SUCCESS;
    if (p.size() == 2) err = plat::DomainDelete(p[1]);
    if (p.size() == 3) err = plat::DomainRemoveAccount(p[1], p[2]);
    if (p.size() == 4) err = plat::DomainRemoveMember(p[1], p[2], p[3]);
    std::string what = "remove";
    for (std::size_t i = 1; i < p.size(); ++i) what += " " + p[i];
    return err == plat::ERROR_SUCCESS ? kExitOk : Failed(tool, what, err);
  }
  if (cmd == "list") {
    if (!(shape = CheckShape(a, 1, 2, {})).empty()) return tool.UsageError(shape);
    return p.size() == 1 ? ListDomains() : ListDomain(tool, p[1]);
  }
  if (cmd == "lookup") {
    if (!(shape = CheckShape(a, 2, 2, {})).empty()) return tool.UsageError(shape);
    return Lookup(tool, p[1]);
  }
  if (cmd == "servers") {
    if (!(shape = CheckShape(a, 1, 2, {})).empty()) return tool.UsageError(shape);
    return Servers(tool, p.size() == 2 ? p[1] : std::string());
  }
  return tool.UsageError("unknown command '" + cmd + "'");
}

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("pldomain", kUsage);
  const char* machineEnv = std::getenv("PORTULON_MACHINE");
  const std::string machineBefore = machineEnv ? machineEnv : "";
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  // Parse makes a --machine folder the current machine; that is how we know one was given.
  const bool machineGiven = plat::CurrentMachineRoot() != machineBefore;

  Args a;
  for (const char* option : kOptions) {
    std::string value;
    if (tool.TakeOption(option, &value)) a.options[option] = value;
    if (tool.failed()) return tool.exitCode();
  }
  for (const auto& arg : tool.args()) {
    if (arg.size() > 2 && arg.rfind("--", 0) == 0) return tool.UsageError("unknown option " + arg);
    a.positional.push_back(arg);
  }
  if (a.positional.empty()) return tool.UsageError("no command given");
  if (int rc = SelectNetwork(tool, a, machineGiven); rc != kExitOk) return rc;
  return Run(tool, a);
}
