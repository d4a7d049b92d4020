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

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: pldomain [--network DIR | --machine DIR] COMMAND ...\n"
    "\n"
    "Commands:\n"
    "  create DOMAIN --dc PDC [--bdc \"SRV2;SRV3\"]     create a domain\n"
    "  setdc DOMAIN --dc PDC [--bdc \"SRV2;SRV3\"]      change its controllers\n"
    "  adduser DOMAIN USER [--fullname TEXT] [--groups \"G1;G2\"]\n"
    "  addgroup DOMAIN GROUP [--comment TEXT]          add a global group\n"
    "  addlocalgroup DOMAIN GROUP [--comment TEXT]     add a local group\n"
    "  member DOMAIN GROUP MEMBER                      add a user to a global group, or a\n"
    "                                                  user or global group (DOMAIN\\name)\n"
    "                                                  to a local group\n"
    "  remove DOMAIN                                   delete the domain\n"
    "  remove DOMAIN ACCOUNT                           delete a user or group\n"
    "  remove DOMAIN GROUP MEMBER                      undo 'member'\n"
    "  list [DOMAIN]                                   list the domains, or one domain\n"
    "  lookup ACCOUNT                                  resolve a name as this machine would\n"
    "  servers [DOMAIN]                                list the machines that are up\n"
    "\n"
    "The network is --network DIR, else PORTULON_NETWORK, else the folder that holds\n"
    "the machine (--machine DIR or PORTULON_MACHINE).\n";

struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // "--dc" -> value
};

// Options that take a value; --help takes none.
bool TakesValue(const std::string& option) {
  static const char* const kValued[] = {"--network", "--machine", "--dc",      "--bdc",
                                        "--groups",  "--fullname", "--comment"};
  for (const char* v : kValued) {
    if (option == v) return true;
  }
  return false;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "pldomain: %s\nTry 'pldomain --help'.\n", message.c_str());
  return kExitUsage;
}

int Failed(const std::string& what, plat::DWORD error) {
  std::fprintf(stderr, "pldomain: %s: %s (%u)\n", what.c_str(), plat::NetErrorText(error).c_str(),
               static_cast<unsigned>(error));
  return kExitFailed;
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    const auto semi = text.find(';', start);
    std::string item = text.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
    if (!item.empty()) out.push_back(item);
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
    if (option == "--network" || option == "--machine") continue;
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

int ListDomain(const std::string& domain) {
  plat::DomainInfo d;
  if (plat::DWORD err = plat::DomainRead(domain, &d); err != plat::ERROR_SUCCESS) {
    return Failed("domain " + domain, err);
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

int Lookup(const std::string& account) {
  plat::AccountSid sid;
  std::string domain;
  plat::SID_NAME_USE use = plat::SidTypeUser;
  if (plat::DWORD err = plat::LookupAccountName("", account, &sid, &domain, &use);
      err != plat::ERROR_SUCCESS) {
    return Failed("lookup " + account, err);
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

int Servers(const std::string& domain) {
  std::vector<plat::ServerInfo> servers;
  if (plat::DWORD err = plat::NetServerEnum(domain, plat::SV_TYPE_ALL, &servers);
      err != plat::ERROR_SUCCESS) {
    return Failed("servers", err);
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

// Points the process at the network the options and environment name.
int SelectNetwork(const Args& a) {
  std::string network = Option(a, "--network");
  const std::string machine = Option(a, "--machine");
  if (!machine.empty()) {
    std::error_code ec;
    const auto root = std::filesystem::absolute(machine, ec).lexically_normal();
    plat::SetCurrentMachineRoot(root.string());
    if (network.empty()) network = root.parent_path().string();
  }
  if (!network.empty()) ::setenv("PORTULON_NETWORK", network.c_str(), 1);
  const std::string effective = plat::NetworkRoot();
  if (effective.empty()) {
    return UsageError("no network: give --network DIR or set PORTULON_NETWORK or PORTULON_MACHINE");
  }
  if (!plat::DirectoryExists(plat::HostToWindowsPath(
          std::filesystem::absolute(effective).lexically_normal().string()))) {
    std::fprintf(stderr, "pldomain: network folder %s does not exist\n", effective.c_str());
    return kExitFailed;
  }
  return kExitOk;
}

int Run(const Args& a) {
  const std::string& cmd = a.positional[0];
  const auto& p = a.positional;
  std::string shape;
  if (cmd == "create" || cmd == "setdc") {
    if (!(shape = CheckShape(a, 2, 2, {"--dc", "--bdc"})).empty()) return UsageError(shape);
    const std::string pdc = Option(a, "--dc");
    if (pdc.empty()) return UsageError("'" + cmd + "' needs --dc PDC");
    const auto bdcs = SplitList(Option(a, "--bdc"));
    const plat::DWORD err = cmd == "create" ? plat::DomainCreate(p[1], pdc, bdcs)
                                            : plat::DomainSetControllers(p[1], pdc, bdcs);
    if (err != plat::ERROR_SUCCESS) return Failed(cmd + " " + p[1], err);
    WarnIfMissing(pdc);
    return kExitOk;
  }
  if (cmd == "adduser") {
    if (!(shape = CheckShape(a, 3, 3, {"--fullname", "--groups"})).empty()) return UsageError(shape);
    const plat::DWORD err =
        plat::DomainAddUser(p[1], p[2], Option(a, "--fullname"), SplitList(Option(a, "--groups")));
    return err == plat::ERROR_SUCCESS ? kExitOk : Failed("adduser " + p[1] + " " + p[2], err);
  }
  if (cmd == "addgroup" || cmd == "addlocalgroup") {
    if (!(shape = CheckShape(a, 3, 3, {"--comment"})).empty()) return UsageError(shape);
    const plat::DWORD err = cmd == "addgroup"
                                ? plat::DomainAddGroup(p[1], p[2], Option(a, "--comment"))
                                : plat::DomainAddLocalGroup(p[1], p[2], Option(a, "--comment"));
    return err == plat::ERROR_SUCCESS ? kExitOk : Failed(cmd + " " + p[1] + " " + p[2], err);
  }
  if (cmd == "member") {
    if (!(shape = CheckShape(a, 4, 4, {})).empty()) return UsageError(shape);
    const plat::DWORD err = plat::DomainAddMember(p[1], p[2], p[3]);
    return err == plat::ERROR_SUCCESS ? kExitOk : Failed("member " + p[2] + " " + p[3], err);
  }
  if (cmd == "remove") {
    if (!(shape = CheckShape(a, 2, 4, {})).empty()) return UsageError(shape);
    plat::DWORD err = plat::ERROR_SUCCESS;
    if (p.size() == 2) err = plat::DomainDelete(p[1]);
    if (p.size() == 3) err = plat::DomainRemoveAccount(p[1], p[2]);
    if (p.size() == 4) err = plat::DomainRemoveMember(p[1], p[2], p[3]);
    std::string what = "remove";
    for (std::size_t i = 1; i < p.size(); ++i) what += " " + p[i];
    return err == plat::ERROR_SUCCESS ? kExitOk : Failed(what, err);
  }
  if (cmd == "list") {
    if (!(shape = CheckShape(a, 1, 2, {})).empty()) return UsageError(shape);
    return p.size() == 1 ? ListDomains() : ListDomain(p[1]);
  }
  if (cmd == "lookup") {
    if (!(shape = CheckShape(a, 2, 2, {})).empty()) return UsageError(shape);
    return Lookup(p[1]);
  }
  if (cmd == "servers") {
    if (!(shape = CheckShape(a, 1, 2, {})).empty()) return UsageError(shape);
    return Servers(p.size() == 2 ? p[1] : std::string());
  }
  return UsageError("unknown command '" + cmd + "'");
}

}  // namespace

int main(int argc, char** argv) {
  Args a;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h" || arg == "/?") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (arg.rfind("--", 0) == 0 && arg.size() > 2) {
      std::string value;
      const auto eq = arg.find('=');
      if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
        arg.resize(eq);
      } else if (TakesValue(arg)) {
        if (i + 1 >= argc) return UsageError("option " + arg + " needs a value");
        value = argv[++i];
      }
      if (!TakesValue(arg)) return UsageError("unknown option " + arg);
      a.options[arg] = value;
      continue;
    }
    a.positional.push_back(arg);
  }
  if (a.positional.empty()) return UsageError("no command given");
  if (int rc = SelectNetwork(a); rc != kExitOk) return rc;
  return Run(a);
}
