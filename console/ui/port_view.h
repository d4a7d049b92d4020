// CNewPort: one port in detail: its server, state, caller, address, session
// start and duration, traffic, and the Disconnect command.
#pragma once

#include <QFormLayout>
#include <QPushButton>

#include "console/ui/content_views.h"

namespace pladmin::ui {

class PortView : public ContentViewBase {
  Q_OBJECT
 public:
  PortView(CPladminDoc& doc, QWidget* parent);
  void OnUpdate(int hint, int serverIndex) override;
  void RedrawServer(int serverIndex) override;
  // The text shown for a field ("State", "User", ...), for tests.
  QString Field(const QString& name) const;

 private:
  void Fill();

  QLabel* title_;
  QFormLayout* form_;
  QPushButton* disconnect_;
};

}  // namespace pladmin::ui
