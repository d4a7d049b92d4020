// CNodeView: the navigation tree. "Servers" with each monitored server and
// its ports; "Accounts" with the default profile and the domains of the
// master's profiles, each with its group profiles. The image index of an
// item is its node kind.
#pragma once

#include <QStringList>
#include <QTreeWidget>

#include "console/core/pladmin_doc.h"

namespace pladmin::ui {

class NodeView : public QTreeWidget {
  Q_OBJECT
 public:
  NodeView(CPladminDoc& doc, QWidget* parent);

  // Rebuilds the servers (hint 20) or one server's ports (hint 201).
  void OnUpdate(int hint, int serverIndex);
  // Selects the item of a server, or of one of its ports, without telling anyone.
  void SelectQuietly(const QString& server, const QString& port);
  // Selects it and tells, as a click would.
  void Select(const QString& server, const QString& port);
  // Goes back to the item of the document's selection (a refused selection).
  void RestoreSelection();

 signals:
  void NodeSelected(const pladmin::Selection& selection);

 private:
  void RebuildServers();
  // The domains and group profiles of the master's portulon.usr under
  // "Accounts" (kept as they are while they have not changed).
  void FillAccounts();
  void FillPorts(QTreeWidgetItem* serverItem, int index);
  QTreeWidgetItem* FindItem(const QString& server, const QString& port) const;
  Selection SelectionOf(const QTreeWidgetItem* item) const;

  CPladminDoc& doc_;
  QTreeWidgetItem* serversRoot_;
  QTreeWidgetItem* accountsRoot_;
  QStringList accountsShown_;  // what FillAccounts last put under accountsRoot_
  bool quiet_ = false;
};

}  // namespace pladmin::ui
