#include "console/ui/add_server_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/core/commands.h"
#include "console/core/server_list.h"
#include "console/ui/icons.h"
#include "platform/errors.h"
#include "platform/netapi.h"

namespace pladmin::ui {

AddServerDialog::AddServerDialog(QWidget* parent)
    : QDialog(parent), found_(new QListWidget(this)), name_(new QLineEdit(this)) {
  setWindowTitle(tr("Add RAS Server"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr("Dial-in servers found on the network:"), this));
  layout->addWidget(found_, 1);
  layout->addWidget(new QLabel(tr("Server &name:"), this));
  layout->addWidget(name_);
  name_->setMaxLength(static_cast<int>(kMaxServerName));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* sweep = buttons->addButton(tr("&Search again"), QDialogButtonBox::ActionRole);
  layout->addWidget(buttons);
  auto* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setEnabled(false);
  connect(name_, &QLineEdit::textChanged, this, [ok](const QString& text) {
    ok->setEnabled(CServerList::IsValidServerName(text.trimmed().toStdString()));
  });
  connect(found_, &QListWidget::currentTextChanged, name_, [this](const QString& text) {
    name_->setText(text.section(' ', 0, 0));
  });
  connect(found_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  connect(sweep, &QPushButton::clicked, this, &AddServerDialog::Sweep);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  resize(340, 360);
  Sweep();
}

void AddServerDialog::Sweep() {
  found_->clear();
  std::vector<plat::ServerInfo> servers;
  if (plat::NetServerEnum("", plat::SV_TYPE_DIALIN_SERVER, &servers) != plat::ERROR_SUCCESS) {
    found_->addItem(tr("(the network cannot be searched)"));
    return;
  }
  for (const auto& s : servers) {
    const QString text = QString("%1   Windows %2.%3%4")
                             .arg(QString::fromStdString(s.name))
                             .arg(s.versionMajor)
                             .arg(s.versionMinor)
                             .arg(s.domain.empty() ? QString() : ", " + QString::fromStdString(s.domain));
    new QListWidgetItem(NodeIcon(kNodeServer), text, found_);
  }
}

}  // namespace pladmin::ui
