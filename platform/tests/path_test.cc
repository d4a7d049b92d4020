#include "platform/path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/testing/temp_network.h"

namespace plat {
namespace {

void Touch(const std::string& hostPath) {
  std::filesystem::create_directories(std::filesystem::path(hostPath).parent_path());
  std::ofstream(hostPath) << "x";
}

void AddShare(const std::string& machineRoot, const std::string& share, const std::string& path) {
  RegKey root, shares;
  ASSERT_EQ(RegKey::ConnectRoot(machineRoot, Hive::LocalMachine, &root), ERROR_SUCCESS);
  ASSERT_EQ(root.CreateSubKey(kSharesKey, &shares), ERROR_SUCCESS);
  ASSERT_EQ(shares.SetMultiString(share, {"Path=" + path, "Remark=test"}), ERROR_SUCCESS);
}

class PathTest : public ::testing::Test {
 protected:
  testing::TempNetwork net;
};

TEST_F(PathTest, DriveCIsFoundIgnoringCase) {
  Touch(net.DriveC("Program Files/Portulon/plsvc.exe"));
  std::string host;
  ASSERT_EQ(ResolvePath("C:\\Program Files\\Portulon\\PLSVC.EXE", &host), ERROR_SUCCESS);
  EXPECT_EQ(host, net.DriveC("Program Files/Portulon/plsvc.exe"));
  ASSERT_EQ(ResolvePath("c:/PROGRAM FILES/portulon/Plsvc.exe", &host), ERROR_SUCCESS);
  EXPECT_EQ(host, net.DriveC("Program Files/Portulon/plsvc.exe"));
  // A name that does not exist keeps the spelling it is created with.
  ASSERT_EQ(ResolvePath("C:\\program files\\Portulon\\NewFile.TXT", &host), ERROR_SUCCESS);
  EXPECT_EQ(host, net.DriveC("Program Files/Portulon/NewFile.TXT"));
}

TEST_F(PathTest, UncPathsGoThroughTheShareTable) {
  Touch(net.DriveC("Program Files/Portulon/portulon.usr"));
  AddShare(net.root(), "PL_NT_DB", "C:\\Program Files\\Portulon");
  std::string host;
  ASSERT_EQ(ResolvePath("\\\\SRV1\\PL_NT_DB\\portulon.usr", &host), ERROR_SUCCESS);
  EXPECT_EQ(host, net.DriveC("Program Files/Portulon/portulon.usr"));
  ASSERT_EQ(ResolvePath("\\\\srv1\\pl_nt_db\\LogData\\..\\PORTULON.USR", &host), ERROR_SUCCESS);
  EXPECT_EQ(host, net.DriveC("Program Files/Portulon/portulon.usr"));

  EXPECT_EQ(ResolvePath("\\\\SRV1\\NOSHARE\\portulon.usr", &host), ERROR_BAD_NET_NAME);
  EXPECT_EQ(ResolvePath("\\\\NOSUCH\\PL_NT_DB\\portulon.usr", &host), ERROR_BAD_NETPATH);
  EXPECT_EQ(ResolvePath("\\\\SRV1\\PL_NT_DB\\..\\secret.txt", &host), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ResolvePath("\\\\SRV1\\PL_NT_DB\\a\\..\\..\\..\\WINNT", &host), ERROR_ACCESS_DENIED);
}

TEST_F(PathTest, SharesOfAnotherMachineAndDownMachines) {
  const std::string srv2 = net.AddMachine(testing::TempNetwork::DefaultConfig("SRV2"));
  AddShare(srv2, "DATA", "C:\\Data");
  std::string host;
  ASSERT_EQ(ResolvePath("\\\\SRV2\\DATA\\x.ini", &host), ERROR_SUCCESS);
  EXPECT_EQ(host, DriveCDir(srv2) + "/Data/x.ini");
  ASSERT_EQ(SetMachineDown(srv2, true), ERROR_SUCCESS);
  EXPECT_EQ(ResolvePath("\\\\SRV2\\DATA\\x.ini", &host), ERROR_BAD_NETPATH);
}

TEST_F(PathTest, OtherForms) {
  std::string host;
  ASSERT_EQ(ResolvePath("Z:\\tmp\\x", &host), ERROR_SUCCESS);
  EXPECT_EQ(host, "/tmp/x");
  EXPECT_EQ(ResolvePath("Q:\\x", &host), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(ResolvePath("", &host), ERROR_INVALID_NAME);
  EXPECT_EQ(ResolvePath("C:\\..\\..\\x", &host), ERROR_SUCCESS);
  EXPECT_EQ(host, net.DriveC("x")) << "a drive cannot be left upwards";

  std::filesystem::create_directories(net.DriveC("WINNT/system32"));
  ASSERT_EQ(SetCurrentDirectory("C:\\WINNT\\SYSTEM32"), ERROR_SUCCESS);
  EXPECT_EQ(GetCurrentDirectory(), "C:\\WINNT\\SYSTEM32");
  ASSERT_EQ(ResolvePath("~plsess.tmp", &host), ERROR_SUCCESS);
  EXPECT_EQ(host, net.DriveC("WINNT/system32/~plsess.tmp"));
  ASSERT_EQ(ResolvePath("\\TEMP\\a", &host), ERROR_SUCCESS);
  EXPECT_EQ(host, net.DriveC("TEMP/a"));
  EXPECT_EQ(HostToWindowsPath(net.DriveC("WINNT/system32")), "C:\\WINNT\\system32");
  EXPECT_EQ(HostToWindowsPath("/usr/bin"), "Z:\\usr\\bin");

  // A failed call leaves its outputs as they were.
  host = "kept";
  EXPECT_EQ(ResolvePath("Q:\\x", &host), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(ResolvePath("\\\\NOSUCH\\share\\x", &host), ERROR_BAD_NETPATH);
  EXPECT_EQ(host, "kept");
  std::string machine = "m", share = "s", rest = "r";
  EXPECT_FALSE(SplitUncPath("\\\\\\share", &machine, &share, &rest));
  EXPECT_EQ(machine + share + rest, "msr");
}

// The order of names in any case: a prefix first, case never counts.
TEST(TextOrder, ComparesIgnoringCase) {
  EXPECT_EQ(CompareIgnoringCase("dom\\Ann", "DOM\\ann"), 0);
  EXPECT_LT(CompareIgnoringCase("COM", "com1"), 0);
  EXPECT_GT(CompareIgnoringCase("b", "A"), 0);
  EXPECT_LT(CompareIgnoringCase("", "a"), 0);
}

}  // namespace
}  // namespace plat
