// CPortsView: the ports of the selected server: port, state, user, since,
// duration and traffic; Disconnect on a connected port.
#pragma once

#include <QPushButton>
#include <QTreeWidget>

#include "console/ui/content_views.h"

namespace pladmin::ui {

class PortsView : public ContentViewBase {
  Q_OBJECT
 public:
  PortsView(CPladminDoc& doc, QWidget* parent);
  void OnUpdate(int hint, int serverIndex) override;
  void RedrawServer(int serverIndex) override;
  QTreeWidget* list() const { return list_; }
  // The port selected in the list ("" when none).
  QString selectedPort() const;

 private:
  void Rebuild();

  QLabel* heading_;
  QTreeWidget* list_;
  QPushButton* disconnect_;
};

}  // namespace pladmin::ui
