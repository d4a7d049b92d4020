// pladmin: the Portulon Administrator. Runs on a machine of the network
// (PORTULON_MACHINE or --machine) and monitors the servers listed in that
// machine's registry.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSplashScreen>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "console/ui/icons.h"
#include "console/ui/main_window.h"
#include "platform/machine.h"
#include "platform/tools/tool_args.h"

namespace {

constexpr const char* kHelp = R"(pladmin - the Portulon Administrator, the console of Portulon's dial-in servers

Usage:
  pladmin [--machine ROOT] [--no-splash] [-platform NAME] [-style NAME]
  pladmin --help | --version

A desktop program (Qt) that runs on a machine of the network and watches the
servers listed in that machine's registry, under
HKLM\Software\Quillfen Technologies\Portulon\Servers: their state, ports and
sessions, the session history, the accounts and the settings. Help and
version need no display; the window does (or -platform offscreen).

Options:
  --machine ROOT   the machine the console runs on (default: PORTULON_MACHINE)
  --no-splash      start without the splash screen
  -platform NAME   Qt's platform plugin (xcb, wayland, offscreen)
  -style NAME      Qt's widget style
  --help           show this text
  --version        show the program's version

Exit status:
  0  the window was closed
  2  the command line is wrong, or ROOT holds no machine

Files:
  HKLM\Software\Quillfen Technologies\Portulon\Servers   the servers it watches
  HKLM\Software\Quillfen Technologies\Portulon\Client    its own settings

Examples:
  pladmin --machine demo-network/ADMINPC

See also:
  plsettings(1), pluser(1), plreport(1)
)";

}  // namespace

int main(int argc, char** argv) {
  // The command line is read before the application object, which needs a display.
  pltools::Tool tool("pladmin", kHelp);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  const bool noSplash = tool.TakeFlag("--no-splash");
  std::vector<std::string> qtArguments = {argv[0]};
  for (const char* option : {"-platform", "-style"}) {
    std::string value;
    if (tool.TakeOption(option, &value)) qtArguments.insert(qtArguments.end(), {option, value});
  }
  if (tool.failed() || !tool.RejectUnknownOptions()) return tool.exitCode();
  if (!tool.args().empty()) return tool.UsageError("unexpected argument '" + tool.args()[0] + "'");
  std::vector<char*> qtArgv;
  for (std::string& a : qtArguments) qtArgv.push_back(a.data());
  qtArgv.push_back(nullptr);
  int qtArgc = static_cast<int>(qtArguments.size());

  QApplication app(qtArgc, qtArgv.data());
  QApplication::setApplicationName("Portulon Administrator");
  QApplication::setOrganizationName("Quillfen Technologies");
  QApplication::setApplicationVersion("2.1b");
  QApplication::setWindowIcon(pladmin::ui::AppIcon());

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
  if (!noSplash) {
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
