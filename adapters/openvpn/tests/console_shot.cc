// A picture of the administration console watching an OpenVPN server with
// its connected users, for the end-to-end test: the console runs on the
// server's own machine (offscreen), shows SERVER's ports, and the window is
// saved as FILE once the ports are read.
//   console_shot FILE SERVER
// Exit status: 0 saved, 1 the window or the picture could not be made.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QTest>
#include <cstdio>

#include "console/ui/container_view.h"
#include "console/ui/main_window.h"
#include "console/ui/node_view.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: console_shot FILE SERVER\n");
    return 1;
  }
  const QString file = QString::fromLocal8Bit(argv[1]);
  const QString server = QString::fromLocal8Bit(argv[2]);
  pladmin::ui::MainWindow window;
  window.resize(1100, 600);
  window.show();
  if (!QTest::qWaitForWindowExposed(&window) ||
      !QTest::qWaitFor([&] { return window.initialPollDone(); }, 30000)) {
    std::fprintf(stderr, "console_shot: the console did not finish its first poll\n");
    return 1;
  }
  window.container()->tree()->Select(server, {});
  // The ports are read by a worker; give it a few refreshes of the window.
  QTest::qWait(3000);
  QDir().mkpath(QFileInfo(file).absolutePath());
  if (!window.grab().save(file)) {
    std::fprintf(stderr, "console_shot: cannot save %s\n", argv[1]);
    return 1;
  }
  std::printf("console_shot: %s\n", argv[1]);
  return 0;
}
