#include "platform/netapi.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"

namespace plat {
namespace {

using Names = std::vector<std::string>;

// DOM (PDC SRV1, BDC SRV2): ann in Sales, bob in Staff, Eve in none;
// local groups "Dial In" = DOM\Sales + DOM\Eve, Admins = DOM\bob.
// OTHER (PDC SRV3): zed in Remote; DOM's "Dial In" also holds OTHER\Remote.
class NetApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    srv2 = net.AddMachine(testing::TempNetwork::DefaultConfig("SRV2"));
    MachineConfig other = testing::TempNetwork::DefaultConfig("SRV3");
    other.domain = "OTHER";
    srv3 = net.AddMachine(other);
    ASSERT_EQ(DomainCreate("DOM", "SRV1", {"SRV2"}), ERROR_SUCCESS);
    ASSERT_EQ(DomainCreate("OTHER", "\\\\SRV3"), ERROR_SUCCESS);
    for (const char* g : {"Sales", "Staff"}) ASSERT_EQ(DomainAddGroup("DOM", g), ERROR_SUCCESS);
    ASSERT_EQ(DomainAddUser("DOM", "ann", "Ann Smith", {"sales"}), ERROR_SUCCESS);
    ASSERT_EQ(DomainAddUser("DOM", "bob", "", {"Staff"}), ERROR_SUCCESS);
    ASSERT_EQ(DomainAddUser("DOM", "Eve"), ERROR_SUCCESS);
    ASSERT_EQ(DomainAddLocalGroup("DOM", "Dial In", "may dial in"), ERROR_SUCCESS);
    ASSERT_EQ(DomainAddLocalGroup("DOM", "Admins"), ERROR_SUCCESS);
    ASSERT_EQ(DomainAddMember("DOM", "dial in", "dom\\SALES"), ERROR_SUCCESS);
    ASSERT_EQ(DomainAddMember("DOM", "Dial In", "eve"), ERROR_SUCCESS);
    ASSERT_EQ(DomainAddMember("DOM", "Admins", "DOM\\bob"), ERROR_SUCCESS);
    ASSERT_EQ(DomainAddGroup("OTHER", "Remote"), ERROR_SUCCESS);
    ASSERT_EQ(DomainAddUser("OTHER", "zed", "", {"Remote"}), ERROR_SUCCESS);
    ASSERT_EQ(DomainAddMember("DOM", "Dial In", "OTHER\\Remote"), ERROR_SUCCESS);
  }

  Names Global(const char* server, const char* user, DWORD expect = NERR_Success) {
    Names g;
    EXPECT_EQ(NetUserGetGroups(server, user, &g), expect) << server << " " << user;
    return g;
  }
  Names Local(const char* user, DWORD flags = LG_INCLUDE_INDIRECT, DWORD expect = NERR_Success) {
    Names g;
    EXPECT_EQ(NetUserGetLocalGroups("\\\\SRV1", user, flags, &g), expect) << user;
    return g;
  }

  testing::TempNetwork net;
  std::string srv2, srv3;
};

TEST_F(NetApiTest, GlobalGroupsComeFromTheServersDomainInStoredSpelling) {
  EXPECT_EQ(Global("\\\\SRV1", "ann"), Names{"Sales"});
  EXPECT_EQ(Global("srv1", "BOB"), Names{"Staff"}) << "names compare case-insensitively";
  EXPECT_EQ(Global("\\\\SRV2", "ann"), Names{"Sales"}) << "a BDC answers for its domain";
  EXPECT_EQ(Global("", "Eve"), Names{});
  Global("\\\\SRV1", "zed", NERR_UserNotFound);
  EXPECT_EQ(Global("\\\\SRV3", "zed"), Names{"Remote"});
  Global("\\\\SRV1", "DOM\\ann", NERR_UserNotFound);
}

TEST_F(NetApiTest, LocalGroupsDirectAndThroughGlobalGroups) {
  EXPECT_EQ(Local("DOM\\ann", 0), Names{}) << "ann is in Dial In only through Sales";
  EXPECT_EQ(Local("DOM\\ann"), Names{"Dial In"});
  EXPECT_EQ(Local("dom\\EVE", 0), Names{"Dial In"});
  EXPECT_EQ(Local("bob"), Names{"Admins"}) << "a bare name is of the server's domain";
  EXPECT_EQ(Local("OTHER\\zed"), Names{"Dial In"}) << "a global group of another domain";
  EXPECT_EQ(Local("DOM\\zed", LG_INCLUDE_INDIRECT, NERR_UserNotFound), Names{});
  Local("NOPE\\ann", LG_INCLUDE_INDIRECT, NERR_UserNotFound);

  // Leaving Sales takes ann out of Dial In; Sales itself leaving does too.
  ASSERT_EQ(DomainRemoveMember("DOM", "Sales", "ann"), ERROR_SUCCESS);
  EXPECT_EQ(Local("DOM\\ann"), Names{});
  ASSERT_EQ(DomainAddMember("DOM", "Sales", "ann"), ERROR_SUCCESS);
  ASSERT_EQ(DomainRemoveMember("DOM", "Dial In", "Sales"), ERROR_SUCCESS);
  EXPECT_EQ(Local("DOM\\ann"), Names{});

  // A machine that controls no domain has no local groups, but still knows users.
  MachineConfig member = testing::TempNetwork::DefaultConfig("WKS1");
  net.AddMachine(member);
  Names g{"stale"};
  EXPECT_EQ(NetUserGetLocalGroups("WKS1", "DOM\\bob", LG_INCLUDE_INDIRECT, &g), NERR_Success);
  EXPECT_EQ(g, Names{});
  EXPECT_EQ(NetUserGetLocalGroups("WKS1", "ghost", 0, &g), NERR_UserNotFound);
  EXPECT_EQ(NetUserGetGroups("WKS1", "bob", &g), NERR_UserNotFound);
}

TEST_F(NetApiTest, ControllerMustBeUpToAnswer) {
  std::string dc;
  ASSERT_EQ(NetGetDCName("", "dom", &dc), NERR_Success);
  EXPECT_EQ(dc, "\\\\SRV1");
  ASSERT_EQ(NetGetDCName("\\\\SRV3", "", &dc), NERR_Success) << "the server's own domain";
  EXPECT_EQ(dc, "\\\\SRV3");
  EXPECT_EQ(NetGetDCName("", "NOPE", &dc), NERR_DCNotFound);
  EXPECT_EQ(NetGetDCName("\\\\NOSUCH", "DOM", &dc), ERROR_BAD_NETPATH);

  ASSERT_EQ(SetMachineDown(srv3, true), ERROR_SUCCESS);
  EXPECT_EQ(NetGetDCName("", "OTHER", &dc), NERR_DCNotFound);
  Names g;
  EXPECT_EQ(NetUserGetGroups("\\\\SRV3", "zed", &g), ERROR_BAD_NETPATH);
  EXPECT_EQ(NetUserGetLocalGroups("\\\\SRV3", "OTHER\\zed", 0, &g), ERROR_BAD_NETPATH);
  DWORD read = 0, total = 0;
  EXPECT_EQ(NetGroupGetUsers("\\\\SRV3", "Remote", 100, &g, &read, &total, nullptr),
            ERROR_BAD_NETPATH);
  EXPECT_EQ(LookupAccountName("", "zed", nullptr, nullptr, nullptr), ERROR_NONE_MAPPED)
      << "a domain without a live controller maps no names";
  ASSERT_EQ(SetMachineDown(srv3, false), ERROR_SUCCESS);
  EXPECT_EQ(NetGetDCName("", "OTHER", &dc), NERR_Success);

  // With the PDC down its BDC still answers, but is not the PDC.
  ASSERT_EQ(SetMachineDown(net.root(), true), ERROR_SUCCESS);
  EXPECT_EQ(NetGetDCName("\\\\SRV2", "DOM", &dc), NERR_DCNotFound);
  EXPECT_EQ(Global("\\\\SRV2", "bob"), Names{"Staff"});
  ASSERT_EQ(SetMachineDown(net.root(), false), ERROR_SUCCESS);

  // A PDC that is not a machine of the network is not found either.
  ASSERT_EQ(DomainSetControllers("OTHER", "GONE", {}), ERROR_SUCCESS);
  EXPECT_EQ(NetGetDCName("", "OTHER", &dc), NERR_DCNotFound);
}

// A failed call leaves a list empty (a caller that ignores the code must not
// take a stale list for the answer) and everything else as it was.
TEST_F(NetApiTest, FailedCallsLeaveEmptyListsAndOtherOutputsAlone) {
  const Names stale{"stale"};
  Names g = stale;
  EXPECT_EQ(NetUserGetGroups("\\SRV1", "nobody", &g), NERR_UserNotFound);
  EXPECT_EQ(g, Names{});
  g = stale;
  EXPECT_EQ(NetUserGetLocalGroups("\\NOSUCH", "DOM\ann", 0, &g), ERROR_BAD_NETPATH);
  EXPECT_EQ(g, Names{});
  g = stale;
  DWORD read = 7, total = 7, resume = 1;
  EXPECT_EQ(NetGroupGetUsers("\\SRV1", "Nope", 100, &g, &read, &total, &resume), NERR_GroupNotFound);
  EXPECT_EQ(g, Names{});
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(total, 0u);
  EXPECT_EQ(resume, 1u);

  std::string dc = "kept";
  EXPECT_EQ(NetGetDCName("", "NOPE", &dc), NERR_DCNotFound);
  EXPECT_EQ(dc, "kept");
  AccountSid sid;
  sid.text = "kept";
  std::string domain = "kept";
  SID_NAME_USE use = SidTypeDomain;
  EXPECT_EQ(LookupAccountName("", "nobody", &sid, &domain, &use), ERROR_NONE_MAPPED);
  EXPECT_EQ(sid.text, "kept");
  EXPECT_EQ(domain, "kept");
  EXPECT_EQ(use, SidTypeDomain);
}

TEST_F(NetApiTest, LookupAccountNameFindsTheDomain) {
  AccountSid sid;
  std::string domain;
  SID_NAME_USE use{};
  ASSERT_EQ(LookupAccountName("", "ANN", &sid, &domain, &use), ERROR_SUCCESS);
  EXPECT_EQ(domain, "DOM");
  EXPECT_EQ(use, SidTypeUser);
  EXPECT_EQ(sid.bytes.size(), 28u);
  EXPECT_EQ(sid.text.rfind("S-1-5-21-", 0), 0u);
  AccountSid again;
  ASSERT_EQ(LookupAccountName("SRV2", "DOM\\ann", &again, &domain, &use), ERROR_SUCCESS);
  EXPECT_EQ(again.text, sid.text);
  EXPECT_EQ(again.bytes, sid.bytes);
  AccountSid bobSid;
  ASSERT_EQ(LookupAccountName("", "bob", &bobSid, &domain, &use), ERROR_SUCCESS);
  EXPECT_NE(bobSid.text, sid.text);

  ASSERT_EQ(LookupAccountName("", "zed", &sid, &domain, &use), ERROR_SUCCESS);
  EXPECT_EQ(domain, "OTHER") << "found in another domain of the network";
  ASSERT_EQ(LookupAccountName("", "Dial In", &sid, &domain, &use), ERROR_SUCCESS);
  EXPECT_EQ(use, SidTypeAlias);
  ASSERT_EQ(LookupAccountName("", "staff", &sid, &domain, &use), ERROR_SUCCESS);
  EXPECT_EQ(use, SidTypeGroup);

  // The same name in two domains: the asking machine's own domain wins.
  ASSERT_EQ(DomainAddUser("OTHER", "ann"), ERROR_SUCCESS);
  ASSERT_EQ(LookupAccountName("", "ann", &sid, &domain, &use), ERROR_SUCCESS);
  EXPECT_EQ(domain, "DOM");
  ASSERT_EQ(LookupAccountName("\\\\SRV3", "ann", &sid, &domain, &use), ERROR_SUCCESS);
  EXPECT_EQ(domain, "OTHER");

  EXPECT_EQ(LookupAccountName("", "nobody", &sid, &domain, &use), ERROR_NONE_MAPPED);
  EXPECT_EQ(LookupAccountName("", "OTHER\\bob", &sid, &domain, &use), ERROR_NONE_MAPPED);
  EXPECT_EQ(LookupAccountName("NOSUCH", "ann", &sid, &domain, &use), RPC_S_SERVER_UNAVAILABLE);
}

TEST_F(NetApiTest, LookupAccountNameWithCallerBuffers) {
  BYTE sid[96];
  char domain[50];
  DWORD sidSize = sizeof sid, domainSize = sizeof domain;
  SID_NAME_USE use{};
  ASSERT_TRUE(LookupAccountNameA(nullptr, "eve", sid, &sidSize, domain, &domainSize, &use));
  EXPECT_STREQ(domain, "DOM");
  EXPECT_EQ(domainSize, 3u);
  EXPECT_EQ(sidSize, 28u);
  EXPECT_EQ(sid[0], 1);

  sidSize = 8;
  domainSize = 2;
  EXPECT_FALSE(LookupAccountNameA(nullptr, "eve", sid, &sidSize, domain, &domainSize, &use));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(sidSize, 28u);
  EXPECT_EQ(domainSize, 4u);
  sidSize = sizeof sid;
  domainSize = sizeof domain;
  EXPECT_FALSE(LookupAccountNameA(nullptr, "nobody", sid, &sidSize, domain, &domainSize, &use));
  EXPECT_EQ(GetLastError(), ERROR_NONE_MAPPED);
}

TEST_F(NetApiTest, GroupUsersComeInPages) {
  ASSERT_EQ(DomainAddGroup("DOM", "Many"), ERROR_SUCCESS);
  Names expected;
  for (int i = 0; i < 25; ++i) {
    const std::string name = "user" + std::to_string(i);
    ASSERT_EQ(DomainAddUser("DOM", name, "", {"Many"}), ERROR_SUCCESS);
    expected.push_back(name);
  }
  // "userNN" costs 4 + 2 * 7 bytes: 100 bytes hold five of them.
  Names all, page;
  DWORD read = 0, total = 0, resume = 0, rc = 0;
  int calls = 0;
  do {
    rc = NetGroupGetUsers("\\\\SRV1", "many", 100, &page, &read, &total, &resume);
    ASSERT_TRUE(rc == ERROR_MORE_DATA || rc == NERR_Success) << rc;
    EXPECT_EQ(read, page.size());
    EXPECT_LE(read, 6u);
    EXPECT_EQ(total, 25u);
    all.insert(all.end(), page.begin(), page.end());
  } while (rc == ERROR_MORE_DATA && ++calls < 100);
  EXPECT_EQ(all, expected);
  EXPECT_GT(calls, 3);
  EXPECT_EQ(resume, 0u);

  // A buffer too small for one name still makes progress.
  ASSERT_EQ(NetGroupGetUsers("\\\\SRV1", "Many", 0, &page, &read, &total, &resume), ERROR_MORE_DATA);
  EXPECT_EQ(page, Names{"user0"});
  EXPECT_EQ(NetGroupGetUsers("\\\\SRV1", "Many", MAX_PREFERRED_LENGTH, &page, &read, &total, nullptr),
            NERR_Success);
  EXPECT_EQ(page, expected);
  EXPECT_EQ(NetGroupGetUsers("\\\\SRV1", "Nope", 100, &page, &read, &total, nullptr),
            NERR_GroupNotFound);
}

TEST_F(NetApiTest, AdministrationKeepsOneAccountPerNameAndCleansUp) {
  EXPECT_EQ(DomainCreate("dom", "SRV1"), ERROR_DOMAIN_EXISTS);
  EXPECT_EQ(DomainCreate("BAD\\NAME", "SRV1"), ERROR_INVALID_NAME);
  EXPECT_EQ(DomainAddUser("NOPE", "x"), ERROR_NO_SUCH_DOMAIN);
  EXPECT_EQ(DomainAddUser("DOM", "ANN"), NERR_UserExists);
  EXPECT_EQ(DomainAddUser("DOM", "sales"), NERR_GroupExists);
  EXPECT_EQ(DomainAddGroup("DOM", "admins"), ERROR_ALIAS_EXISTS);
  EXPECT_EQ(DomainAddUser("DOM", "a;b"), ERROR_INVALID_NAME);
  EXPECT_EQ(DomainAddUser("DOM", " ann"), ERROR_INVALID_NAME);
  EXPECT_EQ(DomainAddUser("DOM", "carl", "", {"Sales", "Missing"}), NERR_GroupNotFound);
  EXPECT_EQ(LookupAccountName("", "carl", nullptr, nullptr, nullptr), ERROR_NONE_MAPPED)
      << "a refused user leaves nothing behind";

  EXPECT_EQ(DomainAddMember("DOM", "Sales", "ann"), NERR_UserInGroup);
  EXPECT_EQ(DomainAddMember("DOM", "Sales", "OTHER\\zed"), NERR_UserNotFound);
  EXPECT_EQ(DomainAddMember("DOM", "Dial In", "Admins"), ERROR_INVALID_MEMBER);
  EXPECT_EQ(DomainAddMember("DOM", "Dial In", "NOPE\\x"), ERROR_NO_SUCH_MEMBER);
  EXPECT_EQ(DomainAddMember("DOM", "Dial In", "DOM\\eve"), ERROR_MEMBER_IN_ALIAS);
  EXPECT_EQ(DomainAddMember("DOM", "Nothing", "ann"), NERR_GroupNotFound);
  EXPECT_EQ(DomainRemoveMember("DOM", "Admins", "ann"), ERROR_MEMBER_NOT_IN_ALIAS);
  EXPECT_EQ(DomainRemoveMember("DOM", "Staff", "ann"), NERR_UserNotInGroup);

  // Removing OTHER's Remote group drops it from zed and from DOM's Dial In.
  ASSERT_EQ(DomainRemoveAccount("other", "REMOTE"), ERROR_SUCCESS);
  DomainInfo dom, other;
  ASSERT_EQ(DomainRead("DOM", &dom), ERROR_SUCCESS);
  ASSERT_EQ(dom.localGroups.size(), 2u);
  EXPECT_EQ(dom.localGroups[0].members, (Names{"DOM\\Sales", "DOM\\Eve"}));
  ASSERT_EQ(DomainRead("OTHER", &other), ERROR_SUCCESS);
  ASSERT_EQ(other.users.size(), 1u);
  EXPECT_EQ(other.users[0].groups, Names{});
  EXPECT_EQ(DomainRemoveAccount("DOM", "nobody"), NERR_UserNotFound);

  // Deleting DOM takes its accounts out of OTHER's local groups too.
  ASSERT_EQ(DomainAddLocalGroup("OTHER", "Guests"), ERROR_SUCCESS);
  ASSERT_EQ(DomainAddMember("OTHER", "Guests", "DOM\\ann"), ERROR_SUCCESS);
  ASSERT_EQ(DomainAddMember("OTHER", "Guests", "zed"), ERROR_SUCCESS);
  ASSERT_EQ(DomainDelete("Dom"), ERROR_SUCCESS);
  Names domains;
  ASSERT_EQ(DomainList(&domains), ERROR_SUCCESS);
  EXPECT_EQ(domains, Names{"OTHER"});
  ASSERT_EQ(DomainRead("OTHER", &other), ERROR_SUCCESS);
  EXPECT_EQ(other.localGroups[0].members, Names{"OTHER\\zed"});
}

TEST_F(NetApiTest, DomainFileIsPlainReadableText) {
  std::ifstream in(net.network() + "/domains/DOM.ini");
  std::stringstream text;
  text << in.rdbuf();
  for (const char* line : {"[Domain]", "PDC=SRV1", "BDC=SRV2", "[User:ann]", "FullName=Ann Smith",
                           "Groups=Sales", "[Group:Sales]", "[LocalGroup:Dial In]",
                           "Members=DOM\\Sales;DOM\\Eve;OTHER\\Remote"}) {
    EXPECT_NE(text.str().find(line), std::string::npos) << line << "\n" << text.str();
  }
}

TEST_F(NetApiTest, ConcurrentAdministratorsLoseNoAccount) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 10; ++i) {
        const std::string user = "t" + std::to_string(t) + "u" + std::to_string(i);
        EXPECT_EQ(DomainAddUser("DOM", user), ERROR_SUCCESS);
        EXPECT_EQ(DomainAddMember("DOM", "Admins", user), ERROR_SUCCESS);
      }
    });
  }
  for (auto& th : threads) th.join();
  DomainInfo dom;
  ASSERT_EQ(DomainRead("DOM", &dom), ERROR_SUCCESS);
  EXPECT_EQ(dom.users.size(), 43u);
  EXPECT_EQ(dom.localGroups[1].members.size(), 41u) << "one shared Members list";
}

TEST_F(NetApiTest, ServerEnumListsMachinesThatAreUp) {
  std::vector<ServerInfo> servers;
  ASSERT_EQ(NetServerEnum("", SV_TYPE_ALL, &servers), NERR_Success);
  ASSERT_EQ(servers.size(), 3u) << "the domains folder is no machine";
  EXPECT_EQ(servers[0].name, "SRV1");
  EXPECT_EQ(servers[0].domain, "DOM");
  EXPECT_EQ(servers[0].versionMajor, 4u);
  EXPECT_TRUE(servers[0].type & SV_TYPE_DOMAIN_CTRL);
  EXPECT_TRUE(servers[0].type & SV_TYPE_DIALIN_SERVER);
  EXPECT_TRUE(servers[1].type & SV_TYPE_DOMAIN_BAKCTRL);
  EXPECT_FALSE(servers[1].type & SV_TYPE_DOMAIN_CTRL);

  ASSERT_EQ(NetServerEnum("other", SV_TYPE_ALL, &servers), NERR_Success);
  ASSERT_EQ(servers.size(), 1u);
  EXPECT_EQ(servers[0].name, "SRV3");
  ASSERT_EQ(SetMachineDown(srv2, true), ERROR_SUCCESS);
  ASSERT_EQ(NetServerEnum("DOM", SV_TYPE_DOMAIN_CTRL | SV_TYPE_DOMAIN_BAKCTRL, &servers), NERR_Success);
  ASSERT_EQ(servers.size(), 1u);
  EXPECT_EQ(servers[0].name, "SRV1");
}

// ---- The pldomain tool, run as a process ----

// Runs the pldomain tool with `args`; out holds what it wrote, stdout then
// stderr.
testing::ToolResult Pldomain(const std::vector<std::string>& args) {
  testing::ToolResult r = testing::RunTool("pldomain", args);
  r.out += r.err;
  return r;
}

TEST(PldomainToolTest, RoundTrip) {
  testing::TempNetwork net;
  const std::string n = net.network();
  auto ok = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--network", n});
    const testing::ToolResult r = Pldomain(args);
    EXPECT_EQ(r.code, 0) << args[2] << ": " << r.out;
    return r.out;
  };
  ok({"create", "LAB", "--dc", "SRV1"});
  ok({"addgroup", "LAB", "Sales", "--comment", "sales team"});
  ok({"addgroup", "LAB", "Staff"});
  ok({"adduser", "LAB", "ann", "--fullname", "Ann Smith", "--groups", "Sales; Staff"});
  ok({"adduser", "LAB", "bob"});
  ok({"addlocalgroup", "LAB", "Dial In"});
  ok({"member", "LAB", "Dial In", "LAB\\Sales"});
  ok({"member", "LAB", "Staff", "bob"});

  // What the tool wrote is what the calls see.
  Names g;
  ASSERT_EQ(NetUserGetGroups("\\\\SRV1", "ann", &g), NERR_Success);
  EXPECT_EQ(g, (Names{"Sales", "Staff"}));
  ASSERT_EQ(NetUserGetLocalGroups("\\\\SRV1", "LAB\\ann", LG_INCLUDE_INDIRECT, &g), NERR_Success);
  EXPECT_EQ(g, Names{"Dial In"});

  const std::string listing = ok({"list", "lab"});
  EXPECT_NE(listing.find("Ann Smith"), std::string::npos) << listing;
  EXPECT_NE(listing.find("LAB\\Sales"), std::string::npos) << listing;
  EXPECT_NE(ok({"list"}).find("LAB"), std::string::npos);
  EXPECT_NE(ok({"lookup", "ann"}).find("Dial In"), std::string::npos);

  ok({"remove", "LAB", "Staff", "bob"});
  ok({"remove", "LAB", "ann"});
  EXPECT_EQ(NetUserGetGroups("\\\\SRV1", "ann", &g), NERR_UserNotFound);

  // The network also follows from the machine folder.
  const testing::ToolResult viaMachine = Pldomain({"--machine", net.root(), "list"});
  EXPECT_EQ(viaMachine.code, 0) << viaMachine.out;
  EXPECT_NE(viaMachine.out.find("LAB"), std::string::npos);
  ok({"remove", "LAB"});
  Names domains;
  DomainList(&domains);
  EXPECT_TRUE(domains.empty());
}

TEST(PldomainToolTest, ErrorsAreClearAndExitNonZero) {
  testing::TempNetwork net;
  const std::string n = net.network();
  EXPECT_EQ(Pldomain({"--help"}).code, 0);
  EXPECT_NE(Pldomain({"--help"}).out.find("Usage:\n  pldomain"), std::string::npos);
  EXPECT_EQ(Pldomain({"--network", n}).code, 2);
  EXPECT_EQ(Pldomain({"--network", n, "frobnicate"}).code, 2);
  EXPECT_EQ(Pldomain({"--network", n, "create", "LAB"}).code, 2) << "--dc is required";
  EXPECT_EQ(Pldomain({"--network", n, "adduser", "LAB"}).code, 2);
  EXPECT_EQ(Pldomain({"--network", n, "list", "--bogus"}).code, 2);
  EXPECT_EQ(Pldomain({"--network", n + "/missing", "list"}).code, 1);

  const testing::ToolResult unknown = Pldomain({"--network", n, "adduser", "NOPE", "ann"});
  EXPECT_EQ(unknown.code, 1);
  EXPECT_NE(unknown.out.find("(1355)"), std::string::npos) << unknown.out;
  ASSERT_EQ(Pldomain({"--network", n, "create", "LAB", "--dc", "SRV9"}).code, 0);
  EXPECT_EQ(Pldomain({"--network", n, "create", "lab", "--dc", "SRV1"}).code, 1);
}

}  // namespace
}  // namespace plat
