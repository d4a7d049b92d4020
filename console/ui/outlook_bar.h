// The navigation bar at the left of the window: one folder, "Portulon", with
// the items Status, History, Usage and Statistics, each with its large icon.
// A click asks the frame to run the item's command.
#pragma once

#include <QListWidget>
#include <QWidget>

namespace pladmin::ui {

class OutlookBar : public QWidget {
  Q_OBJECT
 public:
  explicit OutlookBar(QWidget* parent = nullptr);
  // Marks the item of the current navigation item.
  void SetCurrentItem(int navItem);
  QListWidget* items() const { return list_; }

 signals:
  void ItemClicked(int navItem);

 private:
  QListWidget* list_;
};

}  // namespace pladmin::ui
