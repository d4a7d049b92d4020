#include "installer/ui/gui_install_ui.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QThread>
#include <QUrl>

#include <cstdio>

#include "installer/ui/ras_version_dialog.h"
#include "platform/errors.h"
#include "platform/path.h"

namespace {

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }

}  // namespace

void GuiInstallUi::Progress(int percent, std::string_view title, std::string_view detail) {
  dialog_->Show(percent, Q(title), Q(detail));
  QCoreApplication::processEvents();
}

void GuiInstallUi::Pause(int milliseconds) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < milliseconds) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
}

void GuiInstallUi::Message(std::string_view text, std::string_view caption, bool warning) {
  if (!interactive_) {
    std::fprintf(stderr, "%s: %s\n", std::string(caption).c_str(), std::string(text).c_str());
    return;
  }
  if (warning) QMessageBox::warning(dialog_, Q(caption), Q(text));
  else QMessageBox::information(dialog_, Q(caption), Q(text));
}

bool GuiInstallUi::AskYesNo(std::string_view text, std::string_view caption) {
  if (!interactive_) {
    std::fprintf(stderr, "%s: %s No\n", std::string(caption).c_str(), std::string(text).c_str());
    return false;
  }
  return QMessageBox::question(dialog_, Q(caption), Q(text)) == QMessageBox::Yes;
}

std::optional<setup::RasType> GuiInstallUi::AskRasType() {
  if (!interactive_) return std::nullopt;
  RasVersionDialog dialog(dialog_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.rras() ? setup::RasType::Rras : setup::RasType::Ras;
}

void GuiInstallUi::OpenDocument(std::string_view windowsPath) {
  std::string host;
  if (plat::ResolvePath(windowsPath, &host) != plat::ERROR_SUCCESS) return;
  if (interactive_) QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(host)));
}
