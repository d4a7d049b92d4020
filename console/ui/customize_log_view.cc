#include "console/ui/customize_log_view.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "console/core/console_keys.h"
#include "console/core/log_columns.h"
#include "console/core/pladmin_doc.h"
#include "platform/errors.h"
#include "platform/registry.h"

namespace pladmin::ui {

CustomizeLogViewDialog::CustomizeLogViewDialog(const ClientSettings& settings, QWidget* parent)
    : QDialog(parent),
      autoSize_(new QCheckBox(tr("Autosize Columns"))),
      hms_(new QRadioButton(tr("Time format in hours, minutes and seconds"))),
      seconds_(new QRadioButton(tr("Time format in seconds"))) {
  setWindowTitle(tr("Customize View"));
  auto* tabs = new QTabWidget(this);
  auto* page = new QWidget;
  tabs->addTab(page, tr("Settings"));
  auto* columns = new QGroupBox(tr("Columns"));
  auto* grid = new QGridLayout(columns);
  const std::pair<int, const char*> names[] = {
      {kColTime, "Time"},          {kColServer, "Server"},      {kColPort, "Port"},
      {kColAction, "Action"},      {kColInfo, "Information"},   {kColUser, "Username"},
      {kColIP, "IP Address"},      {kColNetBIOS, "NetBIOS"},    {kColIPX, "IPX Nodename"},
      {kColLasted, "Session Lasted"}, {kColBytesIn, "Data In (Bytes In)"},
      {kColBytesOut, "Data Out (Bytes Out)"}};
  int mask = settings.historyViewColumns;
  if (mask == 0 || mask == -1) mask = kAllLogColumns;
  int i = 0;
  for (const auto& [flag, name] : names) {
    auto* box = new QCheckBox(tr(name));
    box->setChecked(flag == kColTime || (mask & flag));
    if (flag == kColTime) box->setEnabled(false);  // the rows' key: always shown
    boxes_[flag] = box;
    grid->addWidget(box, i % 6, i / 6);
    ++i;
  }
  autoSize_->setChecked(settings.autoSizeColumns == 0);
  (settings.timeFormatSeconds ? seconds_ : hms_)->setChecked(true);
  auto* pageLayout = new QVBoxLayout(page);
  pageLayout->addWidget(columns);
  pageLayout->addWidget(autoSize_);
  pageLayout->addWidget(hms_);
  pageLayout->addWidget(seconds_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs);
  layout->addWidget(buttons);
}

int CustomizeLogViewDialog::columns() const {
  int mask = kColTime;
  for (const auto& [flag, box] : boxes_) {
    if (box->isChecked()) mask |= flag;
  }
  return mask;
}

void CustomizeLogViewDialog::Apply(CPladminDoc& doc) const {
  const plat::DWORD autoSizeValue = autoSize() ? 0 : 1;
  plat::RegKey key;
  if (plat::RegKey::Create(plat::Hive::LocalMachine, kClientKey, &key) != plat::ERROR_SUCCESS ||
      key.SetDword("HistoryViewColumns", static_cast<plat::DWORD>(columns())) != plat::ERROR_SUCCESS ||
      key.SetDword("AutoSizeColumns", autoSizeValue) != plat::ERROR_SUCCESS ||
      key.SetDword("TimeFormatSeconds", timeInSeconds() ? 1 : 0) != plat::ERROR_SUCCESS) {
    doc.sink().Message("Failed to write the log view's settings in the local registry",
                       MessageIcon::Warning);
  }
  doc.SetLogViewSettings(columns(), timeInSeconds(), autoSizeValue);
}

}  // namespace pladmin::ui
