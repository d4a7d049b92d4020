#include "console/ui/outlook_bar.h"

#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "console/core/commands.h"
#include "console/ui/icons.h"

namespace pladmin::ui {

OutlookBar::OutlookBar(QWidget* parent) : QWidget(parent), list_(new QListWidget(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* folder = new QLabel(tr("Portulon"), this);
  folder->setAlignment(Qt::AlignCenter);
  folder->setObjectName("folder");
  folder->setStyleSheet(
      "QLabel#folder { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #f6f6f6, "
      "stop:1 #d4d4d4); border: 1px solid #a8a8a8; padding: 3px; font-weight: bold; }");
  layout->addWidget(folder);

  list_->setViewMode(QListView::IconMode);
  list_->setFlow(QListView::TopToBottom);
  list_->setMovement(QListView::Static);
  list_->setIconSize(QSize(32, 32));
  list_->setWrapping(false);
  list_->setWordWrap(true);
  list_->setSpacing(6);
  list_->setUniformItemSizes(true);
  list_->setGridSize(QSize(72, 62));
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_->setStyleSheet(
      "QListWidget { background: #6d7f99; color: white; border: none; }"
      "QListWidget::item:selected { background: #8ea3c0; color: white; border-radius: 3px; }");
  const char* names[] = {"Status", "History", "Usage", "Statistics"};
  for (int i = kNavStatus; i <= kNavStatistics; ++i) {
    auto* item = new QListWidgetItem(NavIcon(i), tr(names[i]), list_);
    item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
    item->setData(Qt::UserRole, i);
  }
  layout->addWidget(list_, 1);
  connect(list_, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { emit ItemClicked(item->data(Qt::UserRole).toInt()); });
  setMinimumWidth(78);
  SetCurrentItem(kNavStatus);
}

void OutlookBar::SetCurrentItem(int navItem) {
  const QSignalBlocker block(list_);
  list_->setCurrentRow(navItem);
}

}  // namespace pladmin::ui
