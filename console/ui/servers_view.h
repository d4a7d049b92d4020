// CServersView: every monitored server in a row: name, state, ports in use
// of all, kind, version and whether it is the master.
#pragma once

#include <QLabel>
#include <QTreeWidget>

#include "console/ui/content_views.h"

namespace pladmin::ui {

class ServersView : public ContentViewBase {
  Q_OBJECT
 public:
  ServersView(CPladminDoc& doc, QWidget* parent);
  void OnUpdate(int hint, int serverIndex) override;
  void RedrawServer(int serverIndex) override;
  QTreeWidget* list() const { return list_; }

 private:
  void Rebuild();
  void FillRow(QTreeWidgetItem* item, int index);

  QTreeWidget* list_;
  QLabel* empty_;  // shown while no server is monitored
};

}  // namespace pladmin::ui
