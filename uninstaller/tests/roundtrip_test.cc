// Installing both components and removing them again leaves the machine as
// it was: its registry, exported before and after, and its drive C:, file by
// file. What the design keeps on purpose is listed here and nowhere else.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "installer/tests/install_fixture.h"
#include "platform/machine.h"
#include "platform/testing/host_tools.h"
#include "uninstaller/tests/recording_flush_ui.h"

namespace pl_flush::testing {
namespace {

using plat::ERROR_SUCCESS;

// Kept on purpose: the uninstaller itself (it cannot delete the program it
// runs as), and the empty keys above the ones removed.
const std::set<std::string> kKeptLines = {
    "+ C:/WINNT/PL_FLUSH.EXE",
    "+ [HKEY_LOCAL_MACHINE\\Software\\Quillfen Technologies]",
    "+ [HKEY_LOCAL_MACHINE\\Software\\Quillfen Technologies\\Portulon]",
    "+ [HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall]",
};

// Every line of both hives, and every file of drive C: with a digest of its contents.
std::set<std::string> Snapshot(const std::string& root) {
  std::set<std::string> lines;
  for (plat::Hive hive : {plat::Hive::LocalMachine, plat::Hive::Users}) {
    plat::RegKey key;
    std::string text;
    EXPECT_EQ(plat::RegKey::Connect("", hive, &key), ERROR_SUCCESS);
    EXPECT_EQ(plat::RegExportText(key, &text), ERROR_SUCCESS);
    std::istringstream in(text);
    std::string section, line;
    while (std::getline(in, line)) {
      if (!line.empty() && line[0] == '[') section = line;
      // Values carry their key, so that a value moved to another key shows.
      if (!line.empty()) lines.insert(line[0] == '[' ? line : section + " " + line);
    }
  }
  const std::filesystem::path drive = plat::DriveCDir(root);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(drive)) {
    const std::string relative = "C:/" + std::filesystem::relative(entry.path(), drive).generic_string();
    if (entry.is_directory()) {
      lines.insert(relative + "/");
    } else {
      lines.insert(relative);
      lines.insert(relative + " " + std::to_string(std::hash<std::string>{}(plat::testing::ReadHostFile(entry.path()))));
    }
  }
  return lines;
}

std::set<std::string> Difference(const std::set<std::string>& before, const std::set<std::string>& after) {
  std::set<std::string> diff;
  for (const auto& l : after) {
    if (!before.count(l)) diff.insert("+ " + l);
  }
  for (const auto& l : before) {
    if (!after.count(l)) diff.insert("- " + l);
  }
  // A file's digest line follows its name line; only the name is listed.
  std::erase_if(diff, [](const std::string& l) { return l.starts_with("+ C:/WINNT/PL_FLUSH.EXE "); });
  return diff;
}

void WaitForShareGone() {
  for (int i = 0; i < 100; ++i) {
    plat::RegKey shares;
    std::vector<std::string> lines;
    if (plat::RegKey::Open(plat::Hive::LocalMachine, plat::kSharesKey, &shares) == ERROR_SUCCESS &&
        shares.QueryMultiString("PL_NT_DB", &lines) != ERROR_SUCCESS) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

using RoundTripTest = setup::testing::InstallFixture;

TEST_F(RoundTripTest, InstallThenRemoveBothLeavesTheMachineAsItWas) {
  for (const bool serverFirst : {true, false}) {
    const std::string root = net_.AddMachine(plat::testing::TempNetwork::DefaultConfig(serverFirst ? "SRVA" : "SRVB"));
    plat::SetCurrentMachineRoot(root);
    const std::set<std::string> before = Snapshot(root);
    setup::testing::RecordingUi ui;
    ASSERT_EQ(Install(Choices(), &ui).status, setup::InstallStatus::Done) << ui.AllMessages();
    ASSERT_GT(Difference(before, Snapshot(root)).size(), 30u) << "the installation shows";

    RecordingFlushUi flush;
    if (serverFirst) {
      ASSERT_TRUE(RemoveServer(flush));
      RemoveConsole(flush);
    } else {
      RemoveConsole(flush);
      ASSERT_TRUE(RemoveServer(flush));
    }
    WaitForShareGone();
    std::set<std::string> left = Difference(before, Snapshot(root));
    std::set<std::string> unexpected;
    for (const auto& l : left) {
      if (!kKeptLines.count(l)) unexpected.insert(l);
    }
    std::string text;
    for (const auto& l : unexpected) text += l + "\n";
    EXPECT_TRUE(unexpected.empty()) << (serverFirst ? "server first" : "console first") << ":\n" << text;
  }
}

}  // namespace
}  // namespace pl_flush::testing
