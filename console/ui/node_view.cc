#include "console/ui/node_view.h"

#include <QHeaderView>
#include <QSignalBlocker>
#include <QStringList>

#include "accounts/account_store.h"
#include "console/ui/icons.h"

namespace pladmin::ui {

namespace {
constexpr int kKindRole = Qt::UserRole;
constexpr int kServerRole = Qt::UserRole + 1;
constexpr int kPortRole = Qt::UserRole + 2;
constexpr int kDomainRole = Qt::UserRole + 3;
constexpr int kGroupRole = Qt::UserRole + 4;
constexpr int kUserRole = Qt::UserRole + 5;

QTreeWidgetItem* MakeItem(QTreeWidgetItem* parent, int kind, const QString& text,
                          const QString& server = {}, const QString& port = {}) {
  auto* item = new QTreeWidgetItem(parent);
  item->setText(0, text);
  item->setIcon(0, NodeIcon(kind));
  item->setData(0, kKindRole, kind);
  item->setData(0, kServerRole, server);
  item->setData(0, kPortRole, port);
  return item;
}
}  // namespace

NodeView::NodeView(CPladminDoc& doc, QWidget* parent) : QTreeWidget(parent), doc_(doc) {
  setHeaderHidden(true);
  setColumnCount(1);
  setIconSize(QSize(16, 16));
  setUniformRowHeights(true);
  // The column grows with its widest item; a scroll bar beats a cut-off caller.
  header()->setStretchLastSection(false);
  header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  serversRoot_ = new QTreeWidgetItem(this);
  serversRoot_->setText(0, tr("Servers"));
  serversRoot_->setIcon(0, NodeIcon(kNodeServersRoot));
  serversRoot_->setData(0, kKindRole, kNodeServersRoot);
  accountsRoot_ = new QTreeWidgetItem(this);
  accountsRoot_->setText(0, tr("Accounts"));
  accountsRoot_->setIcon(0, NodeIcon(kNodeAccountsRoot));
  accountsRoot_->setData(0, kKindRole, kNodeAccountsRoot);
  RebuildServers();
  {
    const QSignalBlocker block(this);
    setCurrentItem(serversRoot_);
  }
  connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (!quiet_ && item) emit NodeSelected(SelectionOf(item));
  });
}

Selection NodeView::SelectionOf(const QTreeWidgetItem* item) const {
  Selection s;
  s.nodeKind = item->data(0, kKindRole).toInt();
  s.server = item->data(0, kServerRole).toString().toStdString();
  s.port = item->data(0, kPortRole).toString().toStdString();
  s.domain = item->data(0, kDomainRole).toString().toStdString();
  s.group = item->data(0, kGroupRole).toString().toStdString();
  s.user = item->data(0, kUserRole).toString().toStdString();
  return s;
}

void NodeView::FillPorts(QTreeWidgetItem* serverItem, int index) {
  const CServer& s = doc_.servers().At(index);
  const QString server = QString::fromStdString(s.name);
  // Update in place, so the selection and the scroll position stay.
  int row = 0;
  for (const PortEntry& p : s.ports) {
    const QString port = QString::fromStdString(p.name);
    const int kind = p.inUse ? kNodePortInUse : kNodePort;
    const QString text = p.inUse ? port + "  (" + QString::fromStdString(p.user) + ")" : port;
    QTreeWidgetItem* item = row < serverItem->childCount() ? serverItem->child(row) : nullptr;
    if (!item || item->data(0, kPortRole).toString() != port) {
      item = MakeItem(nullptr, kind, text, server, port);
      serverItem->insertChild(row, item);
    } else if (item->text(0) != text || item->data(0, kKindRole).toInt() != kind) {
      item->setText(0, text);
      item->setIcon(0, NodeIcon(kind));
      item->setData(0, kKindRole, kind);
    }
    ++row;
  }
  while (serverItem->childCount() > row) delete serverItem->takeChild(row);
}

void NodeView::RebuildServers() {
  quiet_ = true;
  const QString server = QString::fromStdString(doc_.selection().server);
  const QString port = QString::fromStdString(doc_.selection().port);
  while (serversRoot_->childCount() > 0) delete serversRoot_->takeChild(0);
  for (int i = 0; i < doc_.servers().size(); ++i) {
    const QString name = QString::fromStdString(doc_.servers().At(i).name);
    FillPorts(MakeItem(serversRoot_, kNodeServer, name, name), i);
  }
  serversRoot_->setExpanded(true);
  if (QTreeWidgetItem* item = FindItem(server, port)) setCurrentItem(item);
  quiet_ = false;
}

void NodeView::FillAccounts() {
  if (!doc_.servers().masterKnown()) return;
  // The domains, their group profiles and users as the accounts store reads them.
  const accounts::AccountStore store(doc_.servers().profilePath(), doc_.servers().systemDataPath());
  const std::vector<accounts::DomainAccounts> domains =
      accounts::AccountsByDomain(store.Sections().value_or(std::vector<std::string>{}));
  auto names = [](const std::vector<std::string>& list) {
    QStringList out;
    for (const std::string& n : list) out << QString::fromStdString(n);
    return out;
  };
  QStringList wanted = {"*default"};
  for (const auto& d : domains) {
    wanted << QString::fromStdString(d.domain) + ":" + names(d.groups).join("|") + ":" + names(d.users).join("|");
  }
  if (accountsShown_ == wanted) return;
  accountsShown_ = wanted;
  quiet_ = true;
  const Selection selected = doc_.selection();
  while (accountsRoot_->childCount() > 0) delete accountsRoot_->takeChild(0);
  QTreeWidgetItem* restore = nullptr;
  QTreeWidgetItem* def = MakeItem(accountsRoot_, kNodeDefaultProfile, tr("Default Profile"));
  if (selected.nodeKind == kNodeDefaultProfile) restore = def;
  for (const auto& entry : domains) {
    const QString domain = QString::fromStdString(entry.domain);
    QTreeWidgetItem* d = MakeItem(accountsRoot_, kNodeDomain, domain);
    d->setData(0, kDomainRole, domain);
    if (selected.nodeKind == kNodeDomain && domain.compare(QString::fromStdString(selected.domain), Qt::CaseInsensitive) == 0) {
      restore = d;
    }
    for (const QString& group : names(entry.groups)) {
      QTreeWidgetItem* g = MakeItem(d, kNodeGroup, group);
      g->setData(0, kDomainRole, domain);
      g->setData(0, kGroupRole, group);
      if (selected.nodeKind == kNodeGroup && group == QString::fromStdString(selected.group)) restore = g;
    }
    // The users, for their history (the log view's per-user filter) and profile.
    for (const QString& user : names(entry.users)) {
      QTreeWidgetItem* u = MakeItem(d, kNodeUser, user);
      u->setData(0, kDomainRole, domain);
      u->setData(0, kUserRole, user);
      if (selected.nodeKind == kNodeUser && user.compare(QString::fromStdString(selected.user), Qt::CaseInsensitive) == 0 &&
          domain.compare(QString::fromStdString(selected.domain), Qt::CaseInsensitive) == 0) {
        restore = u;
      }
    }
  }
  accountsRoot_->setExpanded(true);
  if (restore) setCurrentItem(restore);
  quiet_ = false;
}

void NodeView::OnUpdate(int hint, int index) {
  if (hint == kHintAccounts || (hint == kHintServerData && accountsRoot_->childCount() == 0)) FillAccounts();
  if (hint == kHintServerList) {
    RebuildServers();
    // The selected server may be gone: the tree then shows the root.
    if (!currentItem()) SelectQuietly({}, {});
  } else if (hint == kHintServerData && index >= 0 && index < serversRoot_->childCount()) {
    quiet_ = true;
    FillPorts(serversRoot_->child(index), index);
    quiet_ = false;
  }
}

QTreeWidgetItem* NodeView::FindItem(const QString& server, const QString& port) const {
  if (server.isEmpty()) return serversRoot_;
  for (int i = 0; i < serversRoot_->childCount(); ++i) {
    QTreeWidgetItem* s = serversRoot_->child(i);
    if (s->data(0, kServerRole).toString().compare(server, Qt::CaseInsensitive) != 0) continue;
    if (port.isEmpty()) return s;
    for (int j = 0; j < s->childCount(); ++j) {
      if (s->child(j)->data(0, kPortRole).toString().compare(port, Qt::CaseInsensitive) == 0) {
        return s->child(j);
      }
    }
    return s;
  }
  return nullptr;
}

void NodeView::SelectQuietly(const QString& server, const QString& port) {
  quiet_ = true;
  if (QTreeWidgetItem* item = FindItem(server, port)) setCurrentItem(item);
  quiet_ = false;
}

void NodeView::Select(const QString& server, const QString& port) {
  if (QTreeWidgetItem* item = FindItem(server, port)) {
    if (item->parent()) item->parent()->setExpanded(true);
    setCurrentItem(item);
  }
}

void NodeView::RestoreSelection() {
  const Selection& s = doc_.selection();
  if (s.accountsRoot) {
    quiet_ = true;
    setCurrentItem(accountsRoot_);
    quiet_ = false;
    return;
  }
  SelectQuietly(QString::fromStdString(s.server), QString::fromStdString(s.port));
}

}  // namespace pladmin::ui
