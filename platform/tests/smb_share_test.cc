// Shares of other hosts over SMB: where a UNC path leads, and real processes
// on the hosts of scripts/host_network.sh working on the master's share.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/path.h"
#include "platform/profile.h"
#include "platform/smb_client.h"
#include "platform/testing/host_network.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"

namespace plat {
namespace {

using testing::ReadHostFile;
using testing::TempNetwork;
using testing::WriteHostFile;

// ------------------------------------------------------------ where a path leads

TEST(FileLocation, AnotherHostIsReachedOverSmbOnlyWithANetworkLogon) {
  TempNetwork net;
  FileLocation where;
  // Without a logon an unknown host stays an unknown machine, and costs no
  // network look-up.
  EXPECT_EQ(ResolveLocation(R"(\\SRV9\PL_NT_DB\portulon.usr)", &where), ERROR_BAD_NETPATH);

  WriteHostFile(net.root() + "/" + smb::kLogonFileName, "user=u\npassword=p\n");
  ASSERT_EQ(ResolveLocation(R"(\\SRV9\PL_NT_DB\LogData\.\x\..\day.log)", &where), ERROR_SUCCESS);
  EXPECT_TRUE(where.remote);
  EXPECT_EQ(where.path, "smb://SRV9/PL_NT_DB/LogData/day.log");
  // Host paths have no name for it: a caller that knows only those is told so.
  std::string host;
  EXPECT_EQ(ResolvePath(R"(\\SRV9\PL_NT_DB\portulon.usr)", &host), ERROR_NOT_SUPPORTED);
  EXPECT_EQ(ResolveLocation(R"(\\SRV9\PL_NT_DB\..\etc\passwd)", &where), ERROR_ACCESS_DENIED);

  // The machine's own shares go through its server as well, so that the
  // server's locks hold between its own processes and other hosts'.
  ASSERT_EQ(ResolveLocation(R"(\\srv1\PL_NT_DB\portulon.usr)", &where), ERROR_SUCCESS);
  EXPECT_TRUE(where.remote);
  EXPECT_EQ(where.path, "smb://srv1/PL_NT_DB/portulon.usr");

  // Another machine of the network folder is reached there, up or down, as before.
  const std::string srv2 = net.AddMachine(TempNetwork::DefaultConfig("SRV2"));
  ASSERT_EQ(SetMachineDown(srv2, true), ERROR_SUCCESS);
  EXPECT_EQ(ResolveLocation(R"(\\SRV2\PL_NT_DB\portulon.usr)", &where), ERROR_BAD_NETPATH);
  EXPECT_FALSE(where.remote);
  ASSERT_EQ(ResolveLocation(R"(C:\x.ini)", &where), ERROR_SUCCESS);
  EXPECT_FALSE(where.remote);
}

TEST(FileLocation, ALogonFileOthersCanReadIsRefused) {
  TempNetwork net;
  const std::string logon = net.root() + "/" + smb::kLogonFileName;
  WriteHostFile(logon, "user=u\npassword=p\n");
  ASSERT_EQ(::chmod(logon.c_str(), 0644), 0);
  smb::Status st;
  EXPECT_EQ(smb::GetStatus("smb://SRV9/PL_NT_DB/x", &st), ERROR_ACCESS_DENIED);
  smb::DropConnectionForTesting();
}

// ------------------------------------------------------------ real hosts

using testing::Shell;
std::string Quote(const std::string& s) { return testing::ShellQuote(s); }

const std::string kUsers = R"(\\SRV1\PL_NT_DB\portulon.usr)";

bool FileExistsOnHost(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// Every test has a network of its own, made and removed by the script.
class HostNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = testing::HostNetwork::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    std::string out;
    ASSERT_TRUE(net_.Up(&out)) << out;
    dir_ = net_.dir();
  }
  void TearDown() override {
    if (dir_.empty()) return;
    ::unlink((dir_ + "/held").c_str());  // Scenario's; the rest is the script's
    std::string out;
    EXPECT_TRUE(net_.Down(&out)) << out;
  }

  // The script's command on this network, with further arguments.
  std::string ScriptLine(const std::string& command, const std::string& rest) {
    return net_.ScriptLine(command, rest);
  }
  // The command line of share_client on `host`, without its arguments.
  std::string Client(const std::string& host) { return net_.OnHost(host, testing::TestProgramDir() + "/share_client"); }
  // share_client run on `host`; its output in `*out`.
  int On(const std::string& host, const std::vector<std::string>& args, std::string* out = nullptr) {
    std::string line = Client(host);
    for (const auto& a : args) line += " " + Quote(a);
    return Shell(line, out);
  }
  // Runs a bash script in which $HOLD starts a holder of the users' file's
  // lock on SRV2 (`$HOLD MS`, in the background, $h its pid, back once it
  // holds) and $WRITE writes a key from ADMINPC; $NOW is the time in ms.
  int Scenario(const std::string& script, std::string* out) {
    const std::string marker = dir_ + "/held";  // TearDown removes it
    std::string prelude = "F=" + Quote(kUsers) + "; M=" + Quote(marker) + "; ";
    prelude += "NOW() { echo $(( $(date +%s%N) / 1000000 )); }; ";
    prelude += "HOLD() { " + Client("SRV2") + " hold \"$F\" $1 >$M & h=$!; " +
               "for i in $(seq 300); do grep -q held $M && return 0; sleep 0.02; done; return 1; }; ";
    prelude += "WRITE() { " + Client("ADMINPC") + " write \"$F\" S K v; }; ";
    return Shell("bash -c " + Quote(prelude + script), out);
  }
  std::string Read(const std::string& host, const std::string& file, const std::string& section,
                   const std::string& key) {
    std::string out;
    On(host, {"read", file, section, key}, &out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  // The master's data folder, as its own disk holds it.
  std::string ShareFolder() const { return net_.ShareFolder(); }
  std::string Local(const std::string& name) const { return "Z:" + ShareFolder() + "/" + name; }

  testing::HostNetwork net_;
  std::string dir_;
};

TEST_F(HostNetworkTest, DownRemovesEveryNamespaceProcessAndFile) {
  std::string ns, list;
  ASSERT_EQ(Shell(ScriptLine("ns", "SRV2"), &ns), 0);
  ns.pop_back();
  ASSERT_EQ(Shell("ip netns list", &list), 0);
  EXPECT_NE(list.find(ns), std::string::npos);
  // Each host knows only its own machine; the logon is its owner's alone.
  struct stat st;
  ASSERT_EQ(::stat((dir_ + "/hosts/SRV2/SRV2/" + smb::kLogonFileName).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
  EXPECT_NE(::stat((dir_ + "/hosts/SRV2/SRV1").c_str(), &st), 0);
  const std::string smbd = ReadHostFile(dir_ + "/samba/run/smbd.group");
  ASSERT_FALSE(smbd.empty());

  std::string out;
  ASSERT_TRUE(net_.Down(&out)) << out;
  ASSERT_EQ(Shell("ip netns list", &list), 0);
  EXPECT_EQ(list.find(ns.substr(0, ns.find('-'))), std::string::npos) << list;
  EXPECT_NE(::stat(("/etc/netns/" + ns).c_str(), &st), 0);
  EXPECT_NE(::stat(dir_.c_str(), &st), 0);
  EXPECT_NE(::kill(std::stoi(smbd), 0), 0);
  dir_.clear();
}

TEST_F(HostNetworkTest, AProcessOnAnotherHostWritesAndReadsTheMastersProfiles) {
  ASSERT_EQ(On("SRV2", {"write", kUsers, R"(DOM\alice)", "MaxTime", "3600"}), 0);
  ASSERT_EQ(On("SRV2", {"write", kUsers, R"(DOM\alice)", "Comment", "x"}), 0);
  // A third host sees it, by any case of the names, as the master's disk holds it.
  EXPECT_EQ(Read("ADMINPC", kUsers, R"(dom\ALICE)", "maxtime"), "3600");
  EXPECT_EQ(ProfileGetString(Local("portulon.usr"), R"(DOM\alice)", "Comment", ""), "x");

  // Longer, shorter and deleted values: a file rewritten in place is cut to
  // its new length and keeps every other key.
  ASSERT_EQ(On("SRV2", {"write", kUsers, R"(DOM\alice)", "MaxTime", "360000000000"}), 0);
  ASSERT_EQ(On("ADMINPC", {"write", kUsers, R"(DOM\bob)", "MaxTime", "1"}), 0);
  ASSERT_EQ(On("SRV2", {"write", kUsers, R"(DOM\alice)", "MaxTime", "7"}), 0);
  EXPECT_EQ(ReadHostFile(ShareFolder() + "/portulon.usr"),
            "[DOM\\alice]\nMaxTime=7\nComment=x\n[DOM\\bob]\nMaxTime=1\n");
  ASSERT_EQ(On("SRV2", {"write", kUsers, R"(DOM\alice)", "Comment", ""}), 0);
  EXPECT_EQ(Read("ADMINPC", kUsers, R"(DOM\bob)", "MaxTime"), "1");

  // Rotated past a size: the records so far in the rotated file, the file
  // itself empty for the writers that go on in it.
  const std::string log = R"(\\SRV1\PL_NT_DB\portulon.log)";
  ASSERT_EQ(On("ADMINPC", {"append", log, "Records", "3", "A"}), 0);
  std::string out;
  ASSERT_EQ(On("SRV2", {"rotate", log, log + ".old", "1000"}, &out), 0);
  EXPECT_EQ(out, "kept\n");
  ASSERT_EQ(On("SRV2", {"rotate", log, log + ".old", "10"}, &out), 0);
  EXPECT_EQ(out, "rotated\n");
  EXPECT_EQ(ReadHostFile(ShareFolder() + "/portulon.log.old"), "[Records]\nA-1=A\nA-2=A\nA-3=A\n");
  EXPECT_EQ(ReadHostFile(ShareFolder() + "/portulon.log"), "");

  std::string size;
  ASSERT_EQ(On("ADMINPC", {"size", kUsers}, &size), 0) << size;
  EXPECT_EQ(std::stoull(size), ReadHostFile(ShareFolder() + "/portulon.usr").size());
  EXPECT_EQ(Read("SRV2", R"(\\SRV1\PL_NT_DB\none.ini)", "s", "k"), "<missing>");
}

// The master's own process goes through its server too: without that its
// lock and the other hosts' would not exclude each other.
TEST_F(HostNetworkTest, TheMasterAndTwoHostsAppendingAtOnceLoseNoRecord) {
  const std::string log = R"(\\SRV1\PL_NT_DB\day.log)";
  const int kEach = 120;
  std::string line;
  for (const char* host : {"SRV1", "SRV2", "ADMINPC"}) {
    std::string one = ScriptLine("exec", std::string(host) + " " + Quote(testing::TestProgramDir() + "/share_client"));
    // Spread out, so that the master's fast local calls meet the others'.
    one += " append " + Quote(log) + " Records " + std::to_string(kEach) + " " + host + " 2000";
    line += one + " & p" + host + "=$!; ";
  }
  line += "wait $pSRV1; a=$?; wait $pSRV2; b=$?; wait $pADMINPC; c=$?; exit $((a | b | c))";
  std::string out;
  ASSERT_EQ(Shell("bash -c " + Quote(line), &out), 0) << out;

  const auto records = ProfileReadRecords(Local("day.log"), "Records");
  ASSERT_TRUE(records);
  EXPECT_EQ(records->size(), 3u * kEach);
  // Another host streams the same records through the share.
  std::string streamed, expected;
  ASSERT_EQ(On("SRV2", {"records", log}, &streamed), 0) << streamed;
  for (const auto& [key, value] : *records) expected += "Records|" + key + "=" + value + "\n";
  EXPECT_EQ(streamed, expected);
  for (const char* host : {"SRV1", "SRV2", "ADMINPC"}) {
    for (int i = 1; i <= kEach; ++i) {
      EXPECT_TRUE(ProfileRecordExists(Local("day.log"), "Records", std::string(host) + "-" + std::to_string(i)))
          << host << " " << i;
    }
  }
}

// The lock another host holds: waited for while held, let go at once when
// its holder is killed.
TEST_F(HostNetworkTest, AWriterWaitsForAnotherHostsLockAndAKilledHolderLetsGoAtOnce) {
  std::string out;
  ASSERT_EQ(Scenario("HOLD 1500 || exit 9; t=$(NOW); WRITE; echo \"rc $? waited $(( $(NOW) - t ))\"; wait $h", &out), 0)
      << out;
  int rc = -1, waited = -1;
  ASSERT_EQ(std::sscanf(out.c_str(), "rc %d waited %d", &rc, &waited), 2) << out;
  EXPECT_EQ(rc, 0);
  EXPECT_GE(waited, 1000);

  ASSERT_EQ(Scenario("HOLD 60000 || exit 9; kill -KILL $h; wait $h; t=$(NOW); WRITE; "
                     "echo \"rc $? waited $(( $(NOW) - t ))\"",
                     &out),
            0)
      << out;
  const size_t at = out.find("rc ");
  ASSERT_NE(at, std::string::npos) << out;
  ASSERT_EQ(std::sscanf(out.c_str() + at, "rc %d waited %d", &rc, &waited), 2) << out;
  EXPECT_EQ(rc, 0);
  EXPECT_LT(waited, 5000);
  EXPECT_EQ(Read("ADMINPC", kUsers, "S", "K"), "v");
}

// A host whose cable is pulled while it holds a lock: another host's writer
// is refused while the server still counts the holder alive (a sharing
// violation), and gets the file once the server's keepalive has given it up
// (about 19 s).
TEST_F(HostNetworkTest, AHostWhoseLinkDiedLosesItsLockWithinTheKeepalive) {
  std::string out;
  const std::string link = ScriptLine("link", "SRV2");
  ASSERT_EQ(Scenario("HOLD 120000 || exit 9; " + link + " down; t=$(NOW); first=; "
                     "for i in 1 2 3 4 5; do r=$(WRITE) && break; first=${first:-$r}; done; "
                     "echo \"first $first; done after $(( $(NOW) - t ))\"; " +
                     link + " up; kill -KILL $h; wait $h; exit 0",
                     &out),
            0)
      << out;
  EXPECT_NE(out.find("first error 32;"), std::string::npos) << out;
  const size_t at = out.find("done after ");
  ASSERT_NE(at, std::string::npos) << out;
  EXPECT_LT(std::stoi(out.substr(at + 11)), 35000) << out;
  EXPECT_EQ(Read("ADMINPC", kUsers, "S", "K"), "v");
}

TEST_F(HostNetworkTest, AStoppedServerIsAnUnreachableHostUntilItIsBack) {
  ASSERT_EQ(On("SRV2", {"write", kUsers, "S", "K", "1"}), 0);
  std::string out;
  ASSERT_EQ(Shell(ScriptLine("smbd", "stop"), &out), 0) << out;
  EXPECT_EQ(On("SRV2", {"write", kUsers, "S", "K", "2"}, &out), 1);
  EXPECT_EQ(out, "error 53\n");
  EXPECT_EQ(On("SRV2", {"size", kUsers}, &out), 1);
  EXPECT_EQ(out, "error 53\n");
  ASSERT_EQ(Shell(ScriptLine("smbd", "start"), &out), 0) << out;
  EXPECT_EQ(On("SRV2", {"write", kUsers, "S", "K", "3"}), 0);
  EXPECT_EQ(Read("ADMINPC", kUsers, "S", "K"), "3");

  // A process that keeps its connection finds the server again once it is back.
  const std::string script = Client("SRV2") + " poll " + Quote(kUsers) + " 60 100 >" + Quote(dir_ + "/hosts/poll") +
                             " & p=$!; sleep 1; " + ScriptLine("smbd", "stop") + "; sleep 1; " +
                             ScriptLine("smbd", "start") + "; wait $p";
  ASSERT_EQ(Shell("bash -c " + Quote(script), &out), 0) << out;
  const std::string polled = ReadHostFile(dir_ + "/hosts/poll");
  EXPECT_EQ(polled.substr(0, 2), "0\n") << polled;
  EXPECT_NE(polled.find("\n53\n"), std::string::npos) << polled;
  EXPECT_EQ(polled.substr(polled.size() - 3), "\n0\n") << polled;
}

// Files between a host's own disk and the share, and folders on the share.
TEST_F(HostNetworkTest, CopiesMovesAndFoldersBetweenAHostAndTheShare) {
  const std::string admin = dir_ + "/hosts/ADMINPC/ADMINPC/drive_c";
  WriteHostFile(admin + "/report.csv", "a,b\n");
  const std::string onShare = R"(\\SRV1\PL_NT_DB\report.csv)";
  auto run = [&](const std::vector<std::string>& args) {
    std::string out;
    On("ADMINPC", args, &out);
    return out;
  };
  EXPECT_EQ(run({"copy", R"(C:\report.csv)", onShare, "new"}), "ok\n");
  EXPECT_EQ(ReadHostFile(ShareFolder() + "/report.csv"), "a,b\n");
  EXPECT_EQ(run({"copy", R"(C:\report.csv)", onShare, "new"}), "error 80\n");
  WriteHostFile(admin + "/report.csv", "c\n");
  EXPECT_EQ(run({"copy", R"(C:\report.csv)", onShare}), "ok\n");
  EXPECT_EQ(ReadHostFile(ShareFolder() + "/report.csv"), "c\n");

  // A move to or from the share is a copy and a delete, allowed as between volumes.
  EXPECT_EQ(run({"move", onShare, R"(C:\back.csv)", "0"}), "error 17\n");
  EXPECT_EQ(run({"move", onShare, R"(C:\back.csv)", "2"}), "ok\n");
  EXPECT_EQ(ReadHostFile(admin + "/back.csv"), "c\n");
  EXPECT_FALSE(FileExistsOnHost(ShareFolder() + "/report.csv"));
  EXPECT_EQ(run({"move", R"(C:\back.csv)", onShare, "2"}), "ok\n");
  EXPECT_EQ(run({"move", R"(C:\report.csv)", onShare, "2"}), "error 183\n");
  EXPECT_EQ(run({"move", R"(C:\report.csv)", onShare, "3"}), "ok\n");
  EXPECT_EQ(ReadHostFile(ShareFolder() + "/report.csv"), "c\n");
  EXPECT_FALSE(FileExistsOnHost(admin + "/report.csv"));

  const std::string folder = R"(\\SRV1\PL_NT_DB\OldData)";
  EXPECT_EQ(run({"mkdir", folder}), "ok\n");
  EXPECT_EQ(run({"move", onShare, folder + R"(\r.csv)", "0"}), "ok\n");
  EXPECT_EQ(run({"list", folder + R"(\*.csv)"}), "r.csv\n");
  EXPECT_EQ(run({"rmdir", folder}), "error 145\n");
  EXPECT_EQ(run({"move", folder + R"(\r.csv)", R"(C:\r.csv)", "2"}), "ok\n");
  EXPECT_EQ(run({"rmdir", folder}), "ok\n");
  EXPECT_FALSE(FileExistsOnHost(ShareFolder() + "/OldData"));
  EXPECT_EQ(run({"list", R"(\\SRV1\PL_NT_DB\*.tmp)"}), "");
}

// NET SHARE on the master is what its smbd serves: a share added there is
// reached from another host, a deleted one is gone, also for a process that
// kept its connection; with smbd stopped the change is refused and undone.
TEST_F(HostNetworkTest, NetShareOnTheMasterPublishesAndUnpublishes) {
  const std::string extra = dir_ + "/hosts/SRV1/SRV1/drive_c/Extra";
  ASSERT_EQ(::mkdir(extra.c_str(), 0770), 0);
  const std::string net = Quote(std::string(PORTULON_BIN_DIR) + "/net");
  auto onMaster = [&](const std::string& args, std::string* out) {
    return Shell(ScriptLine("exec", "SRV1 " + net + " " + args), out);
  };
  const std::string file = R"(\\SRV1\EXTRA\x.ini)";
  std::string out;
  EXPECT_EQ(On("SRV2", {"size", file}, &out), 1);
  EXPECT_EQ(out, "error 67\n");

  ASSERT_EQ(onMaster("SHARE 'EXTRA=C:\\Extra' '/remark:Extra files'", &out), 0) << out;
  ASSERT_EQ(On("SRV2", {"write", file, "S", "K", "v"}), 0);
  EXPECT_EQ(ReadHostFile(extra + "/x.ini"), "[S]\nK=v\n");

  // A process on SRV2 that keeps its connection loses the share with it.
  const std::string poll = dir_ + "/hosts/poll";
  const std::string script = Client("SRV2") + " poll " + Quote(file) + " 30 100 >" + Quote(poll) +
                             " & p=$!; sleep 1; " + ScriptLine("exec", "SRV1 " + net + " SHARE EXTRA /DELETE") +
                             " >/dev/null; wait $p";
  ASSERT_EQ(Shell("bash -c " + Quote(script), &out), 0) << out;
  const std::string polled = ReadHostFile(poll);
  EXPECT_EQ(polled.substr(0, 2), "0\n") << polled;
  EXPECT_NE(polled.substr(polled.size() - 3), "\n0\n") << polled;
  EXPECT_EQ(On("SRV2", {"size", file}, &out), 1);
  EXPECT_EQ(out, "error 67\n");
  ASSERT_EQ(onMaster("SHARE 'EXTRA=C:\\Extra'", &out), 0) << out;
  EXPECT_EQ(Read("SRV2", file, "S", "K"), "v");

  ASSERT_EQ(onMaster("SHARE EXTRA /DELETE", &out), 0) << out;
  EXPECT_EQ(On("SRV2", {"size", file}, &out), 1);
  EXPECT_EQ(out, "error 67\n");
  EXPECT_EQ(On("SRV2", {"write", kUsers, "S", "K", "1"}, &out), 0) << out;

  // The server does not take it: refused, and the table stays as it was.
  ASSERT_EQ(Shell(ScriptLine("smbd", "stop"), &out), 0) << out;
  EXPECT_NE(onMaster("SHARE 'EXTRA=C:\\Extra'", &out), 0);
  EXPECT_NE(out.find("NET HELPMSG 2114"), std::string::npos) << out;
  ASSERT_EQ(Shell(ScriptLine("smbd", "start"), &out), 0) << out;
  EXPECT_EQ(On("SRV2", {"size", file}, &out), 1);
  EXPECT_EQ(out, "error 67\n");
  ASSERT_EQ(onMaster("SHARE", &out), 0);
  EXPECT_EQ(out.find("EXTRA"), std::string::npos) << out;
}

TEST_F(HostNetworkTest, RefusedLogonAndMissingShareHaveTheirOwnErrors) {
  std::string out;
  EXPECT_EQ(On("SRV2", {"size", R"(\\SRV1\NOSUCH\x.ini)"}, &out), 1);
  EXPECT_EQ(out, "error 67\n");
  EXPECT_EQ(On("SRV2", {"size", R"(\\SRV1\PL_NT_DB\none.ini)"}, &out), 1);
  EXPECT_EQ(out, "error 2\n");

  const std::string logon = dir_ + "/hosts/SRV2/SRV2/" + smb::kLogonFileName;
  std::string text = ReadHostFile(logon);
  const size_t at = text.find("password=");
  ASSERT_NE(at, std::string::npos);
  text.insert(at + 9, "wrong");
  WriteHostFile(logon, text);
  ASSERT_EQ(::chmod(logon.c_str(), 0600), 0);
  EXPECT_EQ(On("SRV2", {"size", kUsers}, &out), 1);
  EXPECT_EQ(out, "error 5\n");
}

}  // namespace
}  // namespace plat
