// pl_flush: removes Portulon's server component (S) or its administration
// console (C) from this machine. Only the first character of the arguments
// counts; anything else shows the dialog briefly and removes nothing. The
// exit status is always 0, as the program it stands for returns.
#include <QApplication>
#include <QGuiApplication>

#include <cstdio>
#include <string>

#include "platform/process.h"
#include "uninstaller/ui/flush_dialog.h"

namespace {

// The text after the program's name on the command line.
std::string Arguments(int argc, char** argv) {
  const std::string line = plat::GetCommandLine(argc, argv);
  size_t pos = 0;
  if (!line.empty() && line[0] == '"') {
    pos = line.find('"', 1);
    pos = pos == std::string::npos ? line.size() : pos + 1;
  } else {
    pos = line.find(' ');
    if (pos == std::string::npos) pos = line.size();
  }
  while (pos < line.size() && line[pos] == ' ') ++pos;
  return line.substr(pos);
}

// Without a screen nobody reads Qt's own warnings about the missing one.
void QuietHandler(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", message.toUtf8().constData());
}

}  // namespace

int main(int argc, char** argv) {
  // A machine without a screen still runs the removal, as a service would.
  if (!qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("WAYLAND_DISPLAY") &&
      !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietHandler);
  }
  const pl_flush::FlushMode mode = pl_flush::ModeFromArguments(Arguments(argc, argv));
  QApplication app(argc, argv);
  const QString platform = QGuiApplication::platformName();
  FlushDialog dialog(mode, platform != "offscreen" && platform != "minimal");
  dialog.show();
  dialog.StartTimer();
  dialog.exec();
  return 0;
}
