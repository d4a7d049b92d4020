// pladmin: the Portulon Administrator. Runs on a machine of the network
// (PORTULON_MACHINE or --machine) and monitors the servers listed in that
// machine's registry.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSplashScreen>
#include <QTimer>
#include <cstdio>

#include "console/ui/icons.h"
#include "console/ui/main_window.h"
#include "platform/machine.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Portulon Administrator");
  QApplication::setOrganizationName("Quillfen Technologies");
  QApplication::setApplicationVersion("2.1b");
  QApplication::setWindowIcon(pladmin::ui::AppIcon());

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "The Portulon Administrator: monitors Portulon's dial-in servers, their ports and sessions.");
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption machine({"m", "machine"},
                             "The folder of the machine the console runs on (default: "
                             "$PORTULON_MACHINE).",
                             "ROOT");
  QCommandLineOption noSplash("no-splash", "Start without the splash screen.");
  parser.addOption(machine);
  parser.addOption(noSplash);
  parser.process(app);

  if (parser.isSet(machine)) {
    plat::SetCurrentMachineRoot(QFileInfo(parser.value(machine)).absoluteFilePath().toStdString());
  }
  const std::string root = plat::CurrentMachineRoot();
  if (root.empty() || !QDir(QString::fromStdString(plat::RegistryDir(root))).exists()) {
    const QString why = root.empty()
                            ? QString("No machine given: use --machine ROOT or set PORTULON_MACHINE.")
                            : QString("%1 holds no machine.").arg(QString::fromStdString(root));
    std::fprintf(stderr, "pladmin: %s\n", why.toLocal8Bit().constData());
    // Without a screen (offscreen, minimal) nobody could close the box.
    const QString platform = QGuiApplication::platformName();
    if (platform != "offscreen" && platform != "minimal") {
      QMessageBox::critical(nullptr, "Portulon Administrator", why);
    }
    return 2;
  }

  std::unique_ptr<QSplashScreen> splash;
  if (!parser.isSet(noSplash)) {
    splash = std::make_unique<QSplashScreen>(pladmin::ui::SplashPixmap());
    splash->show();
    splash->showMessage("Connecting to the monitored servers...", Qt::AlignBottom | Qt::AlignHCenter,
                        Qt::white);
    app.processEvents();
  }
  pladmin::ui::MainWindow window;
  window.show();
  if (splash) {
    // The splash stays while the first poll runs, but never longer than a few seconds.
    auto finish = [&] {
      if (splash) splash->finish(&window);
    };
    if (window.initialPollDone()) {
      finish();
    } else {
      QObject::connect(&window, &pladmin::ui::MainWindow::InitialPollDone, &window, finish);
      QTimer::singleShot(4000, &window, finish);
    }
  }
  return app.exec();
}
