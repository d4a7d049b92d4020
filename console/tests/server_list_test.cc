// The monitored-server list: the Servers key as the console finds it (also
// written by hand), adding and removing servers.
#include <gtest/gtest.h>

#include "console/core/server_list.h"
#include "console/tests/console_test_support.h"

namespace pladmin {
namespace {

using testing::ListServers;
using testing::RecordingSink;

class ServerListTest : public ::testing::Test {
 protected:
  plat::testing::TempNetwork net_{plat::testing::TempNetwork::DefaultConfig("ADMINPC")};
  RecordingSink sink_;
  CServerList list_;

  bool SubkeyExists(const std::string& name) {
    plat::RegKey key;
    return plat::RegKey::Open(plat::Hive::LocalMachine, std::string(kServersKey) + "\\" + name,
                              &key) == plat::ERROR_SUCCESS;
  }
};

TEST_F(ServerListTest, MissingKeyIsAConsoleWithNoServersYetAndAddMakesIt) {
  list_.Load(sink_);
  EXPECT_EQ(list_.size(), 0);
  EXPECT_TRUE(sink_.messages.empty()) << sink_.messages.front();
  EXPECT_EQ(list_.Add("SRV1", sink_), CServerList::kAdded);
  EXPECT_TRUE(SubkeyExists("SRV1"));
  list_.Load(sink_);
  ASSERT_EQ(list_.size(), 1);
  EXPECT_TRUE(sink_.messages.empty());
}

TEST_F(ServerListTest, LoadKeepsKeyOrderAndSetsGarbageAsideWithOneMessage) {
  ListServers({"SRV2", "srv1", "bad name", "x*y", std::string(61, 'A'), "SRV3"});
  // Values in the key and a repeated name in another case are no servers either.
  plat::RegKey key;
  ASSERT_EQ(plat::RegKey::Open(plat::Hive::LocalMachine, kServersKey, &key), plat::ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("SRV9", "junk"), plat::ERROR_SUCCESS);
  list_.Load(sink_);
  ASSERT_EQ(list_.size(), 3);
  EXPECT_EQ(list_.At(0).name, "srv1");  // the registry enumerates case-insensitively sorted
  EXPECT_EQ(list_.At(1).name, "SRV2");
  EXPECT_EQ(list_.At(2).name, "SRV3");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(list_.At(i).state, kStateConnecting);
    EXPECT_EQ(list_.At(i).totalPorts, kPortsUnknown);
    EXPECT_EQ(list_.At(i).portsInUse, kPortsUnknown);
  }
  ASSERT_EQ(sink_.messages.size(), 1u);
  EXPECT_NE(sink_.messages[0].find("\"bad name\""), std::string::npos);
  EXPECT_NE(sink_.messages[0].find("\"x*y\""), std::string::npos);
  EXPECT_EQ(list_.Find("SRV1"), 0);
  EXPECT_EQ(list_.Find("SRV4"), -1);
}

TEST_F(ServerListTest, AddListsOnceAndRemoveDeletesTheSubkey) {
  ListServers({"SRV1"});
  list_.Load(sink_);
  EXPECT_EQ(list_.Add("srv1", sink_), CServerList::kAlreadyListed);
  EXPECT_EQ(list_.size(), 1);
  EXPECT_EQ(list_.Add("SRV2", sink_), CServerList::kAdded);
  EXPECT_EQ(list_.size(), 2);
  EXPECT_TRUE(SubkeyExists("SRV2"));
  EXPECT_TRUE(sink_.messages.empty());

  EXPECT_EQ(list_.Add("no such\\name", sink_), CServerList::kAddFailed);
  ASSERT_EQ(sink_.messages.size(), 1u);
  EXPECT_EQ(sink_.messages[0],
            "Failed to write no such\\name in local registry\n Server will not be monitored");
  EXPECT_EQ(list_.size(), 2);

  EXPECT_TRUE(list_.Remove("SRV1", sink_));
  EXPECT_FALSE(SubkeyExists("SRV1"));
  EXPECT_EQ(list_.size(), 1);
  EXPECT_EQ(list_.At(0).name, "SRV2");
  EXPECT_FALSE(list_.Remove("SRV1", sink_));

  // What was added and removed is what the next start finds.
  CServerList again;
  again.Load(sink_);
  ASSERT_EQ(again.size(), 1);
  EXPECT_EQ(again.At(0).name, "SRV2");
  EXPECT_NE(again.At(0).id, 0u);
}

}  // namespace
}  // namespace pladmin
