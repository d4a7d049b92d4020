// The account model against portulon.usr of a temporary machine: only the
// keys given are written, bad input writes nothing, and the service's
// counters survive a save made while it records sessions.
#include "accounts/account_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/pipe_protocol.h"
#include "common/testing/installed_portulon.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/pipe.h"
#include "platform/profile.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"

namespace accounts {
namespace {

constexpr const char* kUsers = "C:\\PLData\\portulon.usr";
constexpr const char* kHw = "C:\\PLData\\portulon.hw";

class AccountStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(plat::CreateDirectory("C:\\PLData"), plat::ERROR_SUCCESS);
    plat::testing::WriteHostFile(net_.DriveC("PLData/portulon.usr"),
                                 "[DOM\\ann]\nMaxSessionTime=3600\nTotalConnects=7          \n"
                                 "; kept as it is\nFirstConnection=1700000000\n\n[+DOM\\Staff]\nMaxTotalTime=36000\n");
  }
  std::string File() const { return plat::testing::ReadHostFile(net_.DriveC("PLData/portulon.usr")); }
  std::string Key(const char* section, const char* key) const {
    return plat::ProfileGetString(kUsers, section, key, "(missing)");
  }

  plat::testing::TempNetwork net_;
  AccountStore store_{kUsers, kHw};
};

TEST_F(AccountStoreTest, ASaveWritesOnlyTheValuesTheAdministratorChanged) {
  std::optional<Account> ann = store_.Find("dom\\ANN");
  ASSERT_TRUE(ann);
  // The page shows every limit; only the session time is typed anew.
  std::vector<std::pair<std::string, std::string>> typed;
  for (const SettingInfo& info : ProfileSettings()) {
    typed.emplace_back(info.key, FormatValue(info.unit, ann->Text(info.key, info.defaultText)));
  }
  std::string why;
  auto unchanged = ChangedProfileValues(*ann, typed, &why);
  ASSERT_TRUE(unchanged) << why;
  EXPECT_TRUE(unchanged->empty());

  typed[0].second = "1h 30m";
  for (auto& [key, text] : typed) {
    if (key == "NoDuplicate") text = "no";  // shown as "no" already: not a change
  }
  auto changes = ChangedProfileValues(*ann, typed, &why);
  ASSERT_TRUE(changes) << why;
  ASSERT_EQ(changes->size(), 1u);
  const std::string before = File();
  ASSERT_TRUE(store_.Set("DOM\\ann", *changes).ok());
  EXPECT_EQ(Key("DOM\\ann", "MaxSessionTime"), "5400");
  EXPECT_EQ(Key("DOM\\ann", "NoDuplicate"), "(missing)");
  // Everything else, down to the blanks and the comment, is as it was.
  std::string expected = before;
  expected.replace(expected.find("3600"), 4, "5400");
  EXPECT_EQ(File(), expected);

  // The same value typed another way writes nothing.
  ann = store_.Find("DOM\\ann");
  typed[0].second = "90m";
  changes = ChangedProfileValues(*ann, typed, &why);
  ASSERT_TRUE(changes);
  EXPECT_TRUE(changes->empty());
}

// The last day is an ISO date in the file; none removes the key (a file
// without it behaves as before). New profiles get no date from the default
// profile; a copy takes the source's date, or none.
TEST_F(AccountStoreTest, TheLastDayIsStoredAsAnIsoDateAndNoneRemovesIt) {
  const SettingInfo* info = FindSetting(ProfileSettings(), "ExpiryDate");
  ASSERT_TRUE(info);
  std::string why;
  auto change = ParseProfileValue(*info, " 2027-01-31 ", false, &why);
  ASSERT_TRUE(change) << why;
  ASSERT_TRUE(store_.Set("DOM\\ann", {*change}).ok());
  EXPECT_EQ(Key("DOM\\ann", "ExpiryDate"), "2027-01-31");
  EXPECT_FALSE(ParseProfileValue(*info, "31.01.2027", false, &why));
  EXPECT_NE(why.find("not a date"), std::string::npos) << why;
  EXPECT_FALSE(ParseProfileValue(*info, "2027-01-31", true, &why)) << "groups have no expiry, as for ExpiryTime";

  ASSERT_TRUE(store_.Copy("DOM\\ann", std::vector<std::string>{"DOM\\bob"}).ok());
  EXPECT_EQ(Key("DOM\\bob", "ExpiryDate"), "2027-01-31");

  // Shown as none, typed as none: nothing to write; typed as none over a date: the key goes.
  std::optional<Account> ann = store_.Find("DOM\\ann");
  auto same = ChangedProfileValues(*ann, {{"ExpiryDate", "2027-01-31"}}, &why);
  ASSERT_TRUE(same) << why;
  EXPECT_TRUE(same->empty());
  auto cleared = ChangedProfileValues(*ann, {{"ExpiryDate", "none"}}, &why);
  ASSERT_TRUE(cleared) << why;
  ASSERT_TRUE(store_.Set("DOM\\ann", *cleared).ok());
  EXPECT_EQ(Key("DOM\\ann", "ExpiryDate"), "(missing)");
  EXPECT_EQ(File().find("ExpiryDate"), File().find("ExpiryDate", File().find("[DOM\\bob]")));

  plat::testing::WriteHostFile(net_.DriveC("PLData/portulon.hw"), "[Default]\nExpiryTime=30\n");
  ASSERT_TRUE(store_.Add("DOM\\carol", {}).ok());
  EXPECT_EQ(Key("DOM\\carol", "ExpiryDate"), "(missing)");
  ASSERT_TRUE(store_.Copy("DOM\\carol", std::vector<std::string>{"DOM\\bob"}).ok());
  EXPECT_EQ(Key("DOM\\bob", "ExpiryDate"), "(missing)");

  // A date the service cannot read is named when the file is loaded.
  plat::testing::WriteHostFile(net_.DriveC("PLData/portulon.usr"), "[DOM\\ann]\nExpiryDate=31/01/2027\n");
  const LoadResult loaded = store_.Load();
  ASSERT_EQ(loaded.valueProblems.size(), 1u);
  EXPECT_NE(loaded.valueProblems[0].find("not a date"), std::string::npos) << loaded.valueProblems[0];
}

TEST_F(AccountStoreTest, BadInputIsRefusedWithASentenceAndNothingIsWritten) {
  const std::string before = File();
  for (const char* name : {"DOM\\a[b", "DOM\\a]b", "DOM\\a=b", "DOM\\a;b", "DOM\\a\nb", "ann", "\\ann",
                           "DOM\\", "DOM\\a,b", " DOM\\ann"}) {
    std::string why;
    EXPECT_FALSE(CheckAccountName(name, &why)) << name;
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(store_.Add(name, {}).ok()) << name;
  }
  std::string why;
  CheckAccountName("DOM\\a[b", &why);
  EXPECT_NE(why.find("'['"), std::string::npos) << why;

  std::optional<Account> ann = store_.Find("DOM\\ann");
  for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
           {"MaxSessionTime", "-1h"}, {"MaxTotalTime", "abc"}, {"StaticIP", "10.0.0.300"},
           {"ExpiryTime", "-3"}, {"Nonsense", "1"}}) {
    EXPECT_FALSE(ChangedProfileValues(*ann, {{"MaxSessionTime", "2h"}, {key, value}}, &why)) << key;
  }
  // Keys a group profile does not have.
  std::optional<Account> staff = store_.Find("+DOM\\Staff");
  ASSERT_TRUE(staff && staff->IsGroup());
  EXPECT_FALSE(ChangedProfileValues(*staff, {{"StaticIP", "10.0.0.1"}}, &why));
  EXPECT_FALSE(store_.Set("+DOM\\Staff", {{"ExpiryTime", "3"}}).ok());
  EXPECT_FALSE(store_.Set("DOM\\nobody", {{"MaxSessionTime", "60"}}).ok());
  EXPECT_FALSE(store_.Add("DOM\\ANN", {}).ok());  // exists already, in another case
  EXPECT_FALSE(store_.Delete(std::vector<std::string>{"DOM\\ann", "DOM\\nobody"}).ok());
  EXPECT_FALSE(store_.Copy("DOM\\ann", std::vector<std::string>{"DOM\\bob", "DOM\\b=b"}).ok());
  EXPECT_EQ(File(), before);
}

// A user account longer than a session record holds could be admitted under
// a name the records cut into another: refused where it is typed.
TEST_F(AccountStoreTest, UserAccountsLongerThanARecordHoldsAreRefused) {
  const std::string longest = "DOM\\" + std::string(33, 'a');
  std::string why;
  EXPECT_TRUE(CheckAccountName(longest, &why)) << why;
  EXPECT_FALSE(CheckAccountName(longest + "b", &why));
  EXPECT_EQ(why, "the account name is 38 characters long; a session record holds at most 37");
  EXPECT_FALSE(store_.Add(longest + "b", {}).ok());
  EXPECT_FALSE(store_.Copy("DOM\\ann", std::vector<std::string>{longest + "b"}).ok());
  EXPECT_TRUE(CheckAccountName("+DOM\\" + std::string(60, 'G'), &why)) << "group names are no session's";
  const auto r = plat::testing::RunTool("pluser", {"add", longest + "b", "--data", "C:\\PLData"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("a session record holds at most 37"), std::string::npos) << r.err;
  EXPECT_FALSE(store_.Find(longest + "b"));
}

// Two profiles with one static address would put two sessions on it: refused,
// or with --force written and warned about.
TEST_F(AccountStoreTest, AStaticAddressAnotherProfileHasIsRefusedUnlessForced) {
  ASSERT_TRUE(store_.Set("DOM\\ann", {{"StaticIP", "167772237"}}).ok());
  ASSERT_TRUE(store_.Set("DOM\\ann", {{"StaticIP", "167772237"}}).ok()) << "its own address is no duplicate";
  const std::string before = File();
  const Outcome added = store_.Add("DOM\\bob", {{"StaticIP", "167772237"}});
  EXPECT_FALSE(added.ok());
  EXPECT_EQ(added.message,
            "10.0.0.77 is already the static address of DOM\\ann; two sessions cannot use one address at once");
  EXPECT_EQ(File(), before);

  auto pluser = [](std::vector<std::string> args) {
    args.insert(args.end(), {"--data", "C:\\PLData"});
    return plat::testing::RunTool("pluser", args);
  };
  ASSERT_EQ(pluser({"add", "DOM\\bob"}).code, 0);
  auto r = pluser({"set", "DOM\\bob", "--static-ip", "10.0.0.77"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("already the static address of DOM\\ann"), std::string::npos) << r.err;
  EXPECT_EQ(Key("DOM\\bob", "StaticIP"), "(missing)");
  r = pluser({"set", "DOM\\bob", "--static-ip", "10.0.0.77", "--force"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("pluser: warning: 10.0.0.77 is already the static address of DOM\\ann"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Key("DOM\\bob", "StaticIP"), "167772237");
  EXPECT_EQ(store_.StaticIPHolders(167772237, "DOM\\carol"), (std::vector<std::string>{"DOM\\ann", "DOM\\bob"}));
}

TEST_F(AccountStoreTest, AddCopyResetAndDelete) {
  plat::testing::WriteHostFile(net_.DriveC("PLData/portulon.hw"),
                               "[Default]\nAssignDefault=1\nMaxSessionTime=600\nNoDuplicate=5\nExpiryTime=30\n");
  ASSERT_TRUE(store_.Add("DOM\\bob", {{"MaxTotalTime", "7200"}, {"StaticIP", "167772237"}}).ok());
  EXPECT_EQ(Key("DOM\\bob", "MaxSessionTime"), "600");  // from the default profile
  EXPECT_EQ(Key("DOM\\bob", "NoDuplicate"), "1");
  EXPECT_EQ(Key("DOM\\bob", "ExpiryTime"), "30");
  EXPECT_EQ(Key("DOM\\bob", "MaxTotalTime"), "7200");
  EXPECT_EQ(Key("DOM\\bob", "TotalConnects"), "(missing)");

  const std::vector<std::string> targets = {"DOM\\carol", "DOM\\ann", "+DOM\\Guests"};
  ASSERT_TRUE(store_.Copy("DOM\\bob", targets).ok());
  EXPECT_EQ(Key("DOM\\carol", "MaxTotalTime"), "7200");
  EXPECT_EQ(Key("DOM\\ann", "MaxSessionTime"), "600");
  EXPECT_EQ(Key("DOM\\ann", "StaticIP"), "(missing)");  // one user's address is not copied
  EXPECT_EQ(Key("DOM\\ann", "TotalConnects"), "7");      // nor is usage touched
  EXPECT_EQ(Key("+DOM\\Guests", "ExpiryTime"), "(missing)");  // groups have no expiry
  EXPECT_EQ(Key("+DOM\\Guests", "NoDuplicate"), "1");

  ASSERT_TRUE(store_.ResetUsage(std::vector<std::string>{"DOM\\ann"}).ok());
  EXPECT_EQ(Key("DOM\\ann", "TotalConnects"), "0");
  EXPECT_EQ(Key("DOM\\ann", "FirstConnection"), "0");
  EXPECT_EQ(Key("DOM\\ann", "MaxSessionTime"), "600");
  // Written as wide as the service writes usage, so its next write fits in place.
  EXPECT_NE(File().find("TotalConnects=0          \n"), std::string::npos);

  ASSERT_TRUE(store_.Delete(std::vector<std::string>{"DOM\\carol", "+DOM\\Guests"}).ok());
  EXPECT_FALSE(store_.Find("DOM\\carol"));
  const LoadResult all = store_.Load();
  ASSERT_EQ(all.accounts.size(), 3u);
  EXPECT_EQ(all.accounts[0].section, "DOM\\ann");
  EXPECT_EQ(all.accounts[1].Name(), "Staff");
  EXPECT_EQ(all.accounts[2].Domain(), "DOM");
}

// The listings (pluser list, plreport users, the console's table and tree)
// select and group accounts by the same reading of a section's name: a group
// profile belongs to its domain, a domain is one however it is spelt, and a
// section without a domain or a name is no account of any domain.
TEST(AccountListing, FiltersAndTheDomainTreeReadSectionNamesAlike) {
  const std::vector<std::string> sections = {"DOM\\zed", "+DOM\\Staff", "other\\carol", "dom\\Ann",
                                             "Staff", "DOM\\", "OTHER\\bob", "+dom\\Admins"};
  // {user, domain, search}
  auto matching = [&](const AccountFilter& filter) {
    std::vector<std::string> out;
    for (const std::string& s : sections) {
      if (filter.Matches(Account{s, {}})) out.push_back(s);
    }
    return out;
  };
  EXPECT_EQ(matching({}).size(), sections.size());
  EXPECT_EQ(matching({"", "dom", ""}),
            (std::vector<std::string>{"DOM\\zed", "+DOM\\Staff", "dom\\Ann", "DOM\\", "+dom\\Admins"}));
  EXPECT_EQ(matching({"STAFF", "", ""}), (std::vector<std::string>{"+DOM\\Staff", "Staff"}));
  EXPECT_EQ(matching({"other\\CAROL", "", ""}), (std::vector<std::string>{"other\\carol"}));
  EXPECT_EQ(matching({"ann", "OTHER", ""}), (std::vector<std::string>{}));
  EXPECT_EQ(matching({"", "other", "B"}), (std::vector<std::string>{"OTHER\\bob"}));

  const std::vector<DomainAccounts> tree = AccountsByDomain(sections);
  ASSERT_EQ(tree.size(), 2u);
  EXPECT_EQ(tree[0].domain, "DOM");  // as first spelt
  EXPECT_EQ(tree[0].groups, (std::vector<std::string>{"Admins", "Staff"}));
  EXPECT_EQ(tree[0].users, (std::vector<std::string>{"Ann", "zed"}));
  EXPECT_EQ(tree[1].domain, "other");
  EXPECT_EQ(tree[1].users, (std::vector<std::string>{"bob", "carol"}));
}

TEST_F(AccountStoreTest, AHalfWrittenFileIsReportedAndNotWrittenInto) {
  plat::testing::AppendHostFile(net_.DriveC("PLData/portulon.usr"), "[DOM\\bob]\nMaxSessionTime=36");
  LoadResult loaded = store_.Load();
  EXPECT_NE(loaded.fileProblem.find("middle of a line"), std::string::npos) << loaded.fileProblem;
  EXPECT_EQ(loaded.accounts.size(), 3u);  // what can be read is shown
  const std::string before = File();
  const Outcome o = store_.Set("DOM\\ann", {{"MaxSessionTime", "60"}});
  EXPECT_FALSE(o.ok());
  EXPECT_NE(o.message.find("nothing was written"), std::string::npos) << o.message;
  EXPECT_EQ(File(), before);

  plat::testing::WriteHostFile(net_.DriveC("PLData/portulon.usr"), "[DOM\\ann]\nMaxSessionTime=54x\n[DOM\\bo\n");
  loaded = store_.Load();
  EXPECT_NE(loaded.fileProblem.find("line 3"), std::string::npos) << loaded.fileProblem;
  ASSERT_EQ(loaded.valueProblems.size(), 1u);
  EXPECT_NE(loaded.valueProblems[0].find("'54x'"), std::string::npos);
  EXPECT_FALSE(store_.ResetUsage(std::vector<std::string>{"DOM\\ann"}).ok());
}

// plsvc records dial-ins of ann and bob through its pipe while the console's
// saves (and pluser's) change other keys of the same users: every counter the
// service wrote is still there at the end, and so is every limit saved.
TEST(AccountStoreUnderLoad, SavesDuringAdmissionsAndHangUpsLoseNoCounter) {
  plat::testing::TempNetwork net;
  ASSERT_NO_FATAL_FAILURE(common::testing::InstallPortulon(net));
  ASSERT_EQ(common::testing::OpenPortulon().Start(), plat::ERROR_SUCCESS);
  for (int i = 0; i < 200 && plat::QueryNamedPipe(common::kPipeName) != plat::ERROR_SUCCESS; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const AccountStore store(kUsers, kHw);
  const char* users[] = {"DOM\\ann", "DOM\\bob"};
  constexpr int kSessions = 120;
  std::atomic<bool> failed{false}, done{false};
  std::thread dialler([&] {
    for (int i = 0; i < kSessions && !failed; ++i) {
      const std::string port = "COM" + std::to_string(1 + i % 2);
      const char* user = users[i % 2];
      std::string reply;
      auto call = [&](const std::string& message) {
        return plat::CallNamedPipe(common::kPipeName, message, &reply, 2000, 10000) == plat::ERROR_SUCCESS;
      };
      if (!call(*common::NewConnectionMessage(port, user, "*", "0")) || reply != "00" ||
          !call(*common::HangUpMessage(port, user, "*", "0", 10 + i))) {
        failed = true;
      }
    }
    done = true;
  });
  // Saves for as long as the service is busy, and at least 60.
  int edits = 0;
  for (; !done || edits < 60; ++edits) {
    const std::string user = users[edits % 2];
    ASSERT_TRUE(store.Set(user, {{"MaxTotalTime", std::to_string(100000 + edits)}}).ok());
    ASSERT_TRUE(store.Copy(user, std::vector<std::string>{"DOM\\copy" + std::to_string(edits)}).ok());
    if (edits % 20 == 0) {
      const auto r = plat::testing::RunTool("pluser", {"set", user, "--session", std::to_string(edits + 2) + "h"});
      ASSERT_EQ(r.code, 0) << r.err;
    }
  }
  dialler.join();
  ASSERT_FALSE(failed) << "a dial-in was not answered as expected";
  long connects[2] = {0, 0}, time[2] = {0, 0};
  for (int i = 0; i < kSessions; ++i) {
    ++connects[i % 2];
    time[i % 2] += 10 + i;
  }
  for (int u = 0; u < 2; ++u) {
    const std::optional<Account> a = store.Find(users[u]);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Number("TotalConnects"), connects[u]) << users[u];
    EXPECT_EQ(a->Number("TotalTime"), time[u]) << users[u];
    const int last = edits - 1;
    EXPECT_EQ(a->Number("MaxTotalTime"), 100000 + (last % 2 == u ? last : last - 1)) << users[u];
  }
  EXPECT_EQ(store.Find("DOM\\ann")->Number("MaxSessionTime"), ((edits - 1) / 20 * 20 + 2) * 3600);  // pluser's last
  EXPECT_EQ(store.Find("DOM\\bob")->Number("MaxSessionTime"), 3600);
  plat::SERVICE_STATUS status{};
  common::testing::OpenPortulon().Control(plat::SERVICE_CONTROL_STOP, &status);
}

}  // namespace
}  // namespace accounts
