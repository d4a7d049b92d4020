#include "installer/ui/progress_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

RedBar::RedBar(QWidget* parent) : QWidget(parent) { setMinimumSize(200, 18); }

void RedBar::setPercent(int percent) {
  percent_ = std::clamp(percent, 0, 100);
  update();
}

void RedBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  p.fillRect(QRect(0, 0, width() * percent_ / 100, height()), QColor(200, 0, 0));
  p.setPen(QColor(128, 128, 128));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

ProgressDialog::ProgressDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Installing Portulon");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Please wait while the Setup installs Portulon.", this));
  layout->addSpacing(8);
  layout->addWidget(new QLabel("Overall Progress", this));
  auto* grid = new QGridLayout;
  bar_ = new RedBar(this);
  title_ = new QLabel(this);
  detail_ = new QLabel(this);
  title_->setMinimumWidth(180);
  grid->addWidget(bar_, 0, 0, 2, 1);
  grid->addWidget(title_, 0, 1);
  grid->addWidget(detail_, 1, 1);
  layout->addLayout(grid);
  resize(480, 140);
}

void ProgressDialog::Show(int percent, const QString& title, const QString& detail) {
  bar_->setPercent(percent);
  title_->setText(title);
  detail_->setText(detail);
}

QString ProgressDialog::titleLine() const { return title_->text(); }
QString ProgressDialog::detailLine() const { return detail_->text(); }
