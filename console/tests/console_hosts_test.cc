// The console's core on a host of its own (ADMINPC) of a network of real
// hosts, reading the master's shared data through \\SRV1\PL_NT_DB over SMB
// while processes on both servers write it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testing/host_network.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"

namespace {

using plat::testing::HostNetwork;
using plat::testing::Shell;
using plat::testing::ShellQuote;

const std::string kShare = R"(\\SRV1\PL_NT_DB)";
const std::string kDayLog = kShare + R"(\LogData\2030-Mar-05.log)";

class ConsoleOnAnotherHost : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = HostNetwork::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    std::string out;
    ASSERT_TRUE(net_.Up(&out)) << out;
  }
  std::string Program(const std::string& name) { return plat::testing::TestProgramDir() + "/" + name; }
  // A record written into the shared day's log by a process on `host`.
  void Record(const std::string& host, const std::string& port, const std::string& time,
              const std::string& text) {
    std::string out;
    ASSERT_EQ(net_.Run(host, Program("share_client"), {"write", kDayLog, host + "\\" + port, time, text}, &out), 0)
        << out;
  }
  std::string Probe(const std::vector<std::string>& args) {
    std::string out;
    EXPECT_EQ(net_.Run("ADMINPC", Program("console_host_probe"), args, &out), 0) << out;
    return out;
  }

  HostNetwork net_;
};

TEST_F(ConsoleOnAnotherHost, ShowsTheSharedDaysLogOfBothServersAndSeesItGrow) {
  std::string out;
  ASSERT_EQ(net_.Run("SRV1", Program("share_client"), {"mkdir", kShare + R"(\LogData)"}, &out), 0) << out;
  Record("SRV1", "COM1", "1900000000", R"(C_DOM\alice*)");
  Record("SRV2", "COM2", "1900000100", R"(N_DOM\carol?4)");

  // The log view's timer: a day that did not change is not read again; one
  // that another host wrote to meanwhile is.
  const std::string watched = net_.dir() + "/watched";
  const std::string script =
      net_.OnHost("ADMINPC", Program("console_host_probe")) + " watch " + ShellQuote(kShare) + " 2030 3 5 8 500 >" +
      ShellQuote(watched) + " & p=$!; for i in $(seq 300); do grep -q ready " + ShellQuote(watched) +
      " && break; sleep 0.02; done; " + net_.OnHost("SRV2", Program("share_client")) + " write " +
      ShellQuote(kDayLog) + " 'SRV2\\COM2' 1900000200 'C_DOM\\bob*'; wait $p";
  ASSERT_EQ(Shell("bash -c " + ShellQuote(script), &out), 0) << out;
  const std::string seen = plat::testing::ReadHostFile(watched);
  EXPECT_EQ(seen.rfind("changed 2\nSRV1|COM1|1|DOM\\alice\nSRV2|COM2|2|DOM\\carol\nready\n", 0), 0u) << seen;
  const size_t grown = seen.find("changed 3\n");
  ASSERT_NE(grown, std::string::npos) << seen;
  EXPECT_NE(seen.find("unchanged\n"), std::string::npos) << seen;
  EXPECT_NE(seen.find("SRV2|COM2|1|DOM\\bob\n", grown), std::string::npos) << seen;
  EXPECT_EQ(seen.substr(seen.size() - 10), "unchanged\n") << seen;

  // The calendar marks the days whose log the share holds.
  ASSERT_EQ(net_.Run("SRV2", Program("share_client"),
                     {"write", kShare + R"(\LogData\2030-Mar-17.log)", "SRV2\\COM1", "1900000300", "C_DOM\\x*"}, &out),
            0)
      << out;
  EXPECT_EQ(Probe({"days", kShare, "2030", "3"}), "5 17 \n");
  EXPECT_EQ(Probe({"days", kShare, "2030", "4"}), "\n");

  // A server's settings and ports come from its registry and its
  // remote-access service, which this platform reaches on the machines of
  // the console's own network folder only: across hosts the fetch reports it.
  EXPECT_EQ(Probe({"fetch", "SRV1"}), "Couldn't connect to SRV1's registry\n");
}

}  // namespace
