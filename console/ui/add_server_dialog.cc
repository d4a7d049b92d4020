#include "console/ui/add_server_dialog.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/core/commands.h"
#include "console/core/server.h"
#include "console/core/server_list.h"
#include "console/core/server_sweep.h"
#include "console/ui/icons.h"
#include "platform/errors.h"
#include "platform/sysinfo.h"

namespace pladmin::ui {

namespace {
constexpr int kNameRole = Qt::UserRole;  // set on the rows that are servers
}

AddServerDialog::AddServerDialog(QWidget* parent)
    : QDialog(parent),
      found_(new QListWidget(this)),
      note_(new QLabel(this)),
      name_(new QLineEdit(this)),
      sweep_(new BackgroundJob(this)) {
  setWindowTitle(tr("Add RAS Server"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr("Servers running Portulon found on the network:"), this));
  layout->addWidget(found_, 1);
  note_->setWordWrap(true);
  layout->addWidget(note_);
  auto* nameLabel = new QLabel(tr("Server &name:"), this);
  nameLabel->setBuddy(name_);
  layout->addWidget(nameLabel);
  layout->addWidget(name_);
  name_->setMaxLength(static_cast<int>(kMaxServerName));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  again_ = buttons->addButton(tr("&Search again"), QDialogButtonBox::ActionRole);
  layout->addWidget(buttons);
  auto* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setEnabled(false);
  connect(name_, &QLineEdit::textChanged, this, [ok](const QString& text) {
    ok->setEnabled(CServerList::IsValidServerName(text.trimmed().toStdString()));
  });
  connect(found_, &QListWidget::currentItemChanged, name_, [this](QListWidgetItem* item) {
    if (item && item->data(kNameRole).isValid()) name_->setText(item->data(kNameRole).toString());
  });
  connect(found_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    if (item->data(kNameRole).isValid()) accept();
  });
  connect(again_, &QPushButton::clicked, this, &AddServerDialog::Sweep);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  resize(360, 380);
  Sweep();
}

void AddServerDialog::Sweep() {
  found_->clear();
  note_->setText(tr("Searching the network..."));
  again_->setEnabled(false);
  const std::string self = plat::GetComputerName();
  sweep_->Start([self] { return SweepForServers(self); }, [this](const SweepResult& result) {
    again_->setEnabled(true);
    if (result.error != plat::ERROR_SUCCESS) {
      note_->setText(tr("The network cannot be searched (%1); type the server's name.")
                         .arg(QString::fromStdString(plat::ErrorText(result.error))));
    } else {
      for (const FoundServer& s : result.servers) {
        auto* item = new QListWidgetItem(NodeIcon(kNodeServer),
                                         QString("%1   %2").arg(QString::fromStdString(s.name),
                                                                QString::fromStdString(s.description)),
                                         found_);
        item->setData(kNameRole, QString::fromStdString(s.name));
      }
      QString text = result.servers.empty() ? tr("No server running Portulon was found.") : QString();
      if (result.withoutPortulon > 0) {
        text += (text.isEmpty() ? "" : " ") +
                (result.withoutPortulon == 1 ? tr("One dial-in server without Portulon is not listed.")
                                             : tr("%1 dial-in servers without Portulon are not listed.")
                                                   .arg(result.withoutPortulon));
      }
      note_->setText(text);
    }
  });
}

}  // namespace pladmin::ui
