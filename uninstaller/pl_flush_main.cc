// pl_flush: removes Portulon's server component (S) or its administration
// console (C) from this machine, naming each thing it removes.
#include <QApplication>
#include <QGuiApplication>

#include <cstdio>
#include <string>

#include "platform/tools/tool_args.h"
#include "uninstaller/ui/flush_dialog.h"

namespace {

constexpr const char* kUsage = R"(pl_flush - remove Portulon's server component or its console from this machine

Usage:
  pl_flush S|C [--machine ROOT]
  pl_flush --help | --version

Removes Portulon from this machine, as its two uninstall entries do (the
program is installed as PL_FLUSH.EXE):
  S   the server component: the service Portulon, its hook registration, the
      event source, the data share PL_NT_DB, the data files and daily logs
  C   the administration console: its program, its list of monitored
      servers and its program group
The letter may be given in either case, and as /S or /C; any other word is
refused. Server removal is refused while the remote-access service runs.

Only the files setup recorded as installed are deleted, with the data, trace
and temporary files Portulon makes itself; what the other component, installed
in the same folder, needs stays. Other files in the install folder are left
alone, and so is the folder then. Each thing removed is named on standard
output.

Options:
  --machine ROOT  the machine folder (default: PORTULON_MACHINE)
  --help          show this text
  --version       show the program's version

Exit status:
  0  removed
  1  refused, or nothing found to remove
  2  the command line is wrong

Files:
  HKLM\Software\Quillfen Technologies\Portulon\Service  InstalledFiles: what setup installed
  HKLM\Software\Quillfen Technologies\Portulon\Client   InstalledFiles: the console's files

Examples:
  pl_flush C
  PL_FLUSH.EXE /S

See also:
  setup(1), sc(1)
)";

// Without a screen nobody reads Qt's own warnings about the missing one.
void QuietHandler(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", message.toUtf8().constData());
}

}  // namespace

int main(int argc, char** argv) {
  // The whole command line is checked before anything is looked at: a
  // mistyped word must never remove a component.
  pltools::Tool tool("pl_flush", kUsage);
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  if (tool.args().empty()) return tool.UsageError("say what to remove: S (server) or C (console)");
  if (tool.args().size() > 1) return tool.UsageError("one argument only: S or C");
  const pl_flush::FlushMode mode = pl_flush::ModeFromArgument(tool.args().front());
  if (mode == pl_flush::FlushMode::None) {
    return tool.UsageError("unknown argument '" + tool.args().front() + "': S or C");
  }
  if (!tool.RequireMachine()) return tool.exitCode();

  // A machine without a screen still runs the removal, as a service would.
  if (!qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("WAYLAND_DISPLAY") &&
      !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietHandler);
  }
  QApplication app(argc, argv);
  const QString platform = QGuiApplication::platformName();
  FlushDialog dialog(mode, platform != "offscreen" && platform != "minimal");
  dialog.show();
  dialog.StartTimer();
  dialog.exec();
  if (dialog.refused()) return pltools::kExitFailure;
  if (dialog.removedCount() == 0) {
    return tool.Fail(std::string("nothing of the Portulon ") +
                     (mode == pl_flush::FlushMode::Server ? "server component" : "console") +
                     " was found to remove");
  }
  return pltools::kExitSuccess;
}
