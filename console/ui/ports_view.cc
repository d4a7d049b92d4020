#include "console/ui/ports_view.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "console/core/display_text.h"
#include "console/core/pladmin_doc.h"
#include "console/ui/icons.h"
#include "platform/sysinfo.h"

namespace pladmin::ui {

namespace {
enum Column { kPort, kState, kUser, kSince, kDuration, kSent, kReceived, kAddress, kColumns };
}

PortsView::PortsView(CPladminDoc& doc, QWidget* parent)
    : ContentViewBase(doc, ContentView::Ports, parent),
      heading_(new QLabel(this)),
      list_(new QTreeWidget(this)),
      disconnect_(new QPushButton(CommandIcon(ID_PORT_DISCONNECT), tr("&Disconnect"), this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* top = new QHBoxLayout;
  top->setContentsMargins(6, 4, 6, 0);
  top->addWidget(heading_, 1);
  top->addWidget(disconnect_);
  layout->addLayout(top);
  layout->addWidget(list_);
  list_->setRootIsDecorated(false);
  list_->setAlternatingRowColors(true);
  list_->setUniformRowHeights(true);
  list_->setHeaderLabels({tr("Port"), tr("State"), tr("User"), tr("Since"), tr("Duration"),
                          tr("Sent"), tr("Received"), tr("Address")});
  disconnect_->setToolTip(tr("End the session on the selected port"));
  connect(disconnect_, &QPushButton::clicked, this,
          [this] { emit CommandRequested(ID_PORT_DISCONNECT); });
  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] {
    const auto* item = list_->currentItem();
    disconnect_->setEnabled(item && item->data(kPort, Qt::UserRole).toBool());
  });
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    emit SelectRequested(QString::fromStdString(doc_.selection().server), item->text(kPort));
  });
  Rebuild();
}

QString PortsView::selectedPort() const {
  const auto* item = list_->currentItem();
  return item ? item->text(kPort) : QString();
}

void PortsView::Rebuild() {
  const QString keep = selectedPort();
  list_->clear();
  const int index = doc_.servers().Find(doc_.selection().server);
  if (index < 0) {
    heading_->setText(tr("No server selected"));
    disconnect_->setEnabled(false);
    return;
  }
  const CServer& s = doc_.servers().At(index);
  heading_->setText(
      tr("<b>%1</b> &mdash; %2").arg(QString::fromStdString(s.name), QString::fromStdString(s.StateText())));
  const std::time_t now = plat::Now();
  const bool seconds = doc_.clientSettings().timeFormatSeconds;
  for (const PortEntry& p : s.ports) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(kPort, QString::fromStdString(p.name));
    item->setIcon(kPort, NodeIcon(p.inUse ? kNodePortInUse : kNodePort));
    item->setData(kPort, Qt::UserRole, p.inUse);
    item->setText(kState, QString::fromStdString(PortStateText(p)));
    item->setText(kUser, QString::fromStdString(p.user));
    item->setText(kSince, QString::fromStdString(SinceText(p.start, now, seconds, doc_.timeFormat())));
    item->setText(kDuration, QString::fromStdString(DurationText(p.start, now)));
    item->setText(kSent, QString::fromStdString(p.inUse ? BytesText(p.bytesSent) : ""));
    item->setText(kReceived, QString::fromStdString(p.inUse ? BytesText(p.bytesReceived) : ""));
    item->setText(kAddress, QString::fromStdString(p.extra));
    for (int c : {kDuration, kSent, kReceived}) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    if (item->text(kPort) == keep) list_->setCurrentItem(item);
  }
  for (int c = 0; c < kColumns; ++c) list_->resizeColumnToContents(c);
  const auto* current = list_->currentItem();
  disconnect_->setEnabled(current && current->data(kPort, Qt::UserRole).toBool());
}

void PortsView::RedrawServer(int index) {
  if (index == doc_.servers().Find(doc_.selection().server)) Rebuild();
}

void PortsView::OnUpdate(int hint, int index) {
  if (hint == kHintServerData) {
    RedrawServer(index);
  } else {
    Rebuild();
  }
}

}  // namespace pladmin::ui
