#include "console/ui/servers_view.h"

#include <QHeaderView>
#include <QVBoxLayout>

#include "console/core/display_text.h"
#include "console/core/pladmin_doc.h"
#include "console/ui/icons.h"

namespace pladmin::ui {

namespace {
enum Column { kName, kState, kPorts, kKind, kVersion, kMaster, kColumns };
}

ServersView::ServersView(CPladminDoc& doc, QWidget* parent)
    : ContentViewBase(doc, ContentView::Servers, parent), list_(new QTreeWidget(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  empty_ = new QLabel(tr("No servers yet: Server \u25B8 Add RAS Server... adds the first one."), this);
  empty_->setObjectName("noServers");
  empty_->setAlignment(Qt::AlignCenter);
  empty_->setStyleSheet("color: #555; font-size: 11pt; padding: 12px;");
  layout->addWidget(empty_);
  layout->addWidget(list_);
  list_->setRootIsDecorated(false);
  list_->setAlternatingRowColors(true);
  list_->setUniformRowHeights(true);
  list_->setHeaderLabels({tr("Server"), tr("State"), tr("Ports in use"), tr("Kind"),
                          tr("Version"), tr("Master")});
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(kState, QHeaderView::Stretch);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    emit SelectRequested(item->text(kName), QString());
  });
  Rebuild();
}

void ServersView::FillRow(QTreeWidgetItem* item, int index) {
  const CServer& s = doc_.servers().At(index);
  item->setText(kName, QString::fromStdString(s.name));
  item->setIcon(kName, NodeIcon(kNodeServer));
  item->setText(kState, QString::fromStdString(s.StateText()));
  item->setForeground(kState, IsFailureState(s.state) ? QBrush(QColor(0xb0, 0x20, 0x20))
                                                      : QBrush(palette().text()));
  item->setText(kPorts, QString::fromStdString(PortsText(s)));
  item->setTextAlignment(kPorts, Qt::AlignCenter);
  item->setText(kKind, QString::fromStdString(KindText(s)));
  item->setText(kVersion, QString::fromStdString(s.settings.version));
  item->setText(kMaster, QString::fromStdString(MasterText(s)));
}

void ServersView::Rebuild() {
  empty_->setVisible(doc_.servers().size() == 0);
  list_->clear();
  for (int i = 0; i < doc_.servers().size(); ++i) FillRow(new QTreeWidgetItem(list_), i);
  for (int c = 0; c < kColumns; ++c) {
    if (c != kState) list_->resizeColumnToContents(c);
  }
}

void ServersView::RedrawServer(int index) {
  if (index < 0 || index >= list_->topLevelItemCount() || list_->topLevelItemCount() != doc_.servers().size()) {
    Rebuild();
    return;
  }
  FillRow(list_->topLevelItem(index), index);
}

void ServersView::OnUpdate(int hint, int index) {
  if (hint == kHintServerData) {
    RedrawServer(index);
    for (int c : {kPorts, kKind, kVersion}) list_->resizeColumnToContents(c);
  } else if (hint == kHintServerList || hint == kHintAccounts || hint == kHintNone) {
    Rebuild();
  }
}

}  // namespace pladmin::ui
