#include "console/ui/port_view.h"

#include <QVBoxLayout>

#include "console/core/display_text.h"
#include "console/core/pladmin_doc.h"
#include "console/ui/icons.h"
#include "platform/sysinfo.h"

namespace pladmin::ui {

namespace {
const char* kFields[] = {"Server", "State", "User", "Address", "Since", "Duration", "Sent",
                         "Received"};
}

PortView::PortView(CPladminDoc& doc, QWidget* parent)
    : ContentViewBase(doc, ContentView::PortStatus, parent),
      title_(new QLabel(this)),
      form_(new QFormLayout),
      disconnect_(new QPushButton(CommandIcon(ID_PORT_DISCONNECT), tr("&Disconnect"), this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 12, 16, 12);
  QFont big = title_->font();
  big.setPointSize(big.pointSize() + 4);
  big.setBold(true);
  title_->setFont(big);
  layout->addWidget(title_);
  form_->setLabelAlignment(Qt::AlignRight);
  form_->setHorizontalSpacing(18);
  for (const char* name : kFields) {
    auto* value = new QLabel(this);
    value->setObjectName(name);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form_->addRow(tr(name) + ":", value);
  }
  layout->addLayout(form_);
  auto* row = new QHBoxLayout;
  row->addWidget(disconnect_);
  row->addStretch(1);
  layout->addLayout(row);
  layout->addStretch(1);
  disconnect_->setToolTip(tr("End the session on this port"));
  connect(disconnect_, &QPushButton::clicked, this,
          [this] { emit CommandRequested(ID_PORT_DISCONNECT); });
  Fill();
}

QString PortView::Field(const QString& name) const {
  const auto* label = findChild<QLabel*>(name);
  return label ? label->text() : QString();
}

void PortView::Fill() {
  const Selection& sel = doc_.selection();
  const int index = doc_.servers().Find(sel.server);
  const PortEntry* port = index >= 0 ? doc_.servers().At(index).FindPort(sel.port) : nullptr;
  title_->setText(QString::fromStdString(sel.port));
  auto set = [this](const char* name, const std::string& text) {
    if (auto* label = findChild<QLabel*>(name)) label->setText(QString::fromStdString(text));
  };
  set("Server", sel.server);
  if (!port) {
    set("State", index >= 0 ? doc_.servers().At(index).StateText() : "Unknown server");
    for (const char* name : {"User", "Address", "Since", "Duration", "Sent", "Received"}) set(name, "");
    disconnect_->setEnabled(false);
    return;
  }
  const std::time_t now = plat::Now();
  set("State", PortStateText(*port));
  set("User", port->user);
  set("Address", port->extra);
  set("Since", SinceText(port->start, now, true, doc_.timeFormat()));
  set("Duration", DurationText(port->start, now));
  set("Sent", BytesText(port->bytesSent));
  set("Received", BytesText(port->bytesReceived));
  disconnect_->setEnabled(port->inUse);
}

void PortView::RedrawServer(int index) {
  if (index == doc_.servers().Find(doc_.selection().server)) Fill();
}

void PortView::OnUpdate(int hint, int index) {
  if (hint == kHintServerData) {
    RedrawServer(index);
  } else {
    Fill();
  }
}

}  // namespace pladmin::ui
