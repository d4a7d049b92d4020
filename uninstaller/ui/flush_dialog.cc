#include "uninstaller/ui/flush_dialog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>

namespace {

// The program's icon: a red bin on a light square, drawn rather than shipped.
QIcon FlushIcon() {
  QIcon icon;
  for (int size : {16, 32}) {
    QPixmap pixmap(size, size);
    pixmap.fill(QColor(230, 230, 230));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(190, 20, 20));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(size * 0.25, size * 0.3, size * 0.5, size * 0.6));
    p.drawRect(QRectF(size * 0.15, size * 0.15, size * 0.7, size * 0.1));
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

FlushDialog::FlushDialog(pl_flush::FlushMode mode, bool interactive, QWidget* parent)
    : QDialog(parent), mode_(mode), interactive_(interactive) {
  setWindowTitle("Portulon Uninstall");
  setWindowIcon(FlushIcon());  // big and small
  QFont font("MS Sans Serif", 8);
  font.setStyleHint(QFont::SansSerif);
  setFont(font);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Please wait while Portulon is being removed from your computer...", this));
  statusLabel_ = new QLabel(this);
  statusLabel_->setObjectName("status");  // control 1000
  statusLabel_->setMinimumWidth(320);
  layout->addWidget(statusLabel_);
  bar_ = new QProgressBar(this);
  bar_->setObjectName("progress");  // control 1001
  bar_->setRange(0, 100);
  bar_->setValue(0);
  bar_->setTextVisible(false);
  layout->addWidget(bar_);
}

void FlushDialog::StartTimer() {
  QTimer::singleShot(300, this, [this] { RunRemoval(); });
}

void FlushDialog::RunRemoval() {
  switch (mode_) {
    case pl_flush::FlushMode::Server: refused_ = !pl_flush::RemoveServer(*this); break;
    case pl_flush::FlushMode::Console: pl_flush::RemoveConsole(*this); break;
    case pl_flush::FlushMode::None: break;
  }
  emit finished_removal();
  accept();
}

QString FlushDialog::statusText() const { return statusLabel_->text(); }
int FlushDialog::position() const { return bar_->value(); }

void FlushDialog::SetStatus(std::string_view text) {
  status_ = QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

void FlushDialog::Step(int position) {
  bar_->setValue(position);
  statusLabel_->setText(status_);
  if (status_ != shownStatus_) {
    // The same words on standard output, for a run without a screen.
    std::printf("%s\n", status_.toUtf8().constData());
    std::fflush(stdout);
    shownStatus_ = status_;
  }
  Pause(200);
}

void FlushDialog::Pause(int milliseconds) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < milliseconds) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
}

void FlushDialog::Warning(std::string_view text) {
  const QString message = QString::fromUtf8(text.data(), static_cast<int>(text.size()));
  if (!interactive_) {
    std::fprintf(stderr, "pl_flush: %s\n", message.toUtf8().constData());
    return;
  }
  QMessageBox::warning(this, "Portulon Uninstall", message);
}

void FlushDialog::Removed(std::string_view what) {
  ++removed_;
  std::printf("  removed %.*s\n", static_cast<int>(what.size()), what.data());
  std::fflush(stdout);
}
