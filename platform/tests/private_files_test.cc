// What the platform writes for a machine is closed to other local users.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/messenger.h"
#include "platform/registry.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"
#include "platform/text.h"

namespace plat {
namespace {

mode_t ModeOf(const std::string& hostPath) {
  struct stat st;
  EXPECT_EQ(::stat(hostPath.c_str(), &st), 0) << hostPath;
  return st.st_mode & 07777;
}

// Owner may read and write; others may do nothing at all.
void ExpectPrivate(const std::string& hostPath) {
  const mode_t mode = ModeOf(hostPath);
  EXPECT_EQ(mode & 0600, 0600u) << hostPath;
  EXPECT_EQ(mode & 0007, 0u) << hostPath << " is open to others: " << std::oct << mode;
}

class PrivateFilesTest : public ::testing::Test {
 protected:
  testing::TempNetwork net;
};

TEST_F(PrivateFilesTest, HivesEventLogsInboxesAndDataFilesAreClosedToOthers) {
  const std::string hive = RegistryDir(net.root()) + "/HKLM.reg";
  ExpectPrivate(hive);
  ExpectPrivate(RegistryDir(net.root()));
  ExpectPrivate(DriveCDir(net.root()));
  ASSERT_EQ(RegWriteString("Software\\Quillfen Technologies\\Portulon\\Service", "ODBC_Password", "s3cret"),
            ERROR_SUCCESS);
  ExpectPrivate(hive);

  EventSource source;
  ASSERT_EQ(EventSource::Register("", "Portulon", &source), ERROR_SUCCESS);
  ASSERT_EQ(source.Report(EVENTLOG_INFORMATION_TYPE, 0, 10, {"up"}), ERROR_SUCCESS);
  ExpectPrivate(EventLogFilePath(net.root(), "Application"));
  ExpectPrivate(EventLogDir(net.root()));

  ASSERT_EQ(NetMessageBufferSend("ANNPC", "Hello"), ERROR_SUCCESS);
  ExpectPrivate(NetworkRoot() + "/messages/annpc.txt");
  ExpectPrivate(NetworkRoot() + "/messages");

  ASSERT_EQ(CreateDirectory("C:\\Data"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile("C:\\Data\\whole.txt", "x"), ERROR_SUCCESS);
  ASSERT_EQ(AppendToFile("C:\\Data\\trace.log", "x\n"), ERROR_SUCCESS);
  ASSERT_EQ(CopyFile("C:\\Data\\whole.txt", "C:\\Data\\copy.txt", true), ERROR_SUCCESS);
  for (const char* name : {"", "/whole.txt", "/trace.log", "/copy.txt"}) {
    ExpectPrivate(DriveCDir(net.root()) + "/Data" + name);
  }
}

TEST_F(PrivateFilesTest, FilesMadeOpenBeforeAreClosedWhenNextWritten) {
  const std::string hive = RegistryDir(net.root()) + "/HKLM.reg";
  const std::string log = EventLogFilePath(net.root(), "Application");
  const std::string trace = DriveCDir(net.root()) + "/old.log";
  testing::WriteHostFile(log, "");
  testing::WriteHostFile(trace, "");
  for (const std::string& path : {hive, log, trace}) ASSERT_EQ(::chmod(path.c_str(), 0644), 0);

  ASSERT_EQ(RegWriteDword("Software\\Test", "N", 1), ERROR_SUCCESS);
  EventSource source;
  ASSERT_EQ(EventSource::Register("", "Portulon", &source), ERROR_SUCCESS);
  ASSERT_EQ(source.Report(EVENTLOG_INFORMATION_TYPE, 0, 10, {"up"}), ERROR_SUCCESS);
  ASSERT_EQ(AppendToFile("C:\\old.log", "x\n"), ERROR_SUCCESS);
  for (const std::string& path : {hive, log, trace}) ExpectPrivate(path);
}

}  // namespace
}  // namespace plat
