#include "platform/background.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/testing/host_tools.h"

namespace plat {
namespace {

TEST(BackgroundTest, TasksRunInTheirOrderAndWaitCoversEveryOneHandedIn) {
  std::vector<int> order;  // only the background thread adds to it
  for (int i = 0; i < 200; ++i) {
    RunInBackground([&order, i] { order.push_back(i); });
  }
  WaitForBackground();
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
}

// A child forked while the parent's thread is busy has its own thread for its
// own tasks, and its exit() waits for them; the parent's queue stays the
// parent's.
TEST(BackgroundTest, AForkedChildRunsItsOwnTasksBeforeExitAndNotItsParents) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("background-test-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto mark = [](const std::filesystem::path& file) {
    return [file] { testing::WriteHostFile(file.string(), "ran"); };
  };
  std::atomic<bool> release{false};
  const pid_t parent = ::getpid();
  RunInBackground([&release, parent, wrong = mark(dir / "parent")] {
    if (::getpid() != parent) return wrong();  // a child must not get here
    release.wait(false);
  });
  RunInBackground(mark(dir / "parent"));

  const int status = testing::InChild([&] {
    RunInBackground([] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); });
    RunInBackground(mark(dir / "child"));
    std::exit(0);
    return 1;
  });
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(std::filesystem::exists(dir / "child")) << "the child's exit ran its tasks";
  EXPECT_FALSE(std::filesystem::exists(dir / "parent")) << "the child ran its parent's task";

  release.store(true);
  release.notify_all();
  WaitForBackground();
  EXPECT_TRUE(std::filesystem::exists(dir / "parent"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace plat
