// The uninstaller's dialog: its status text follows the data only at a
// step, its bar the step's position; and its screenshot.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "platform/testing/temp_network.h"
#include "uninstaller/ui/flush_dialog.h"

namespace {

TEST(FlushDialogTest, StatusTextAndPositionChangeAtEachStep) {
  FlushDialog dialog(pl_flush::FlushMode::None, false);
  dialog.show();
  dialog.SetStatus("Removing Files...");
  EXPECT_EQ(dialog.statusText(), "") << "the text shows at the next step";
  QElapsedTimer timer;
  timer.start();
  dialog.Step(24);
  EXPECT_GE(timer.elapsed(), 190) << "each step lasts 200 ms";
  EXPECT_EQ(dialog.statusText(), "Removing Files...");
  EXPECT_EQ(dialog.position(), 24);
  EXPECT_EQ(dialog.windowTitle(), "Portulon Uninstall");
  const QString dir = PORTULON_ARTIFACTS_DIR;
  QDir().mkpath(dir);
  EXPECT_TRUE(dialog.grab().save(dir + "/pl_flush_dialog.png"));
}

TEST(FlushDialogTest, WithoutSOrCTheDialogClosesAfterItsTimerHavingDoneNothing) {
  plat::testing::TempNetwork net;
  FlushDialog dialog(pl_flush::FlushMode::None, false);
  bool finished = false;
  QObject::connect(&dialog, &FlushDialog::finished_removal, [&] { finished = true; });
  dialog.show();
  dialog.StartTimer();
  QEventLoop loop;
  QObject::connect(&dialog, &QDialog::accepted, &loop, &QEventLoop::quit);
  QTimer::singleShot(5000, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_TRUE(finished);
  EXPECT_EQ(dialog.position(), 0);
  EXPECT_EQ(dialog.statusText(), "");
}

}  // namespace
