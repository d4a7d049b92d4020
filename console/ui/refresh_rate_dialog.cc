#include "console/ui/refresh_rate_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace pladmin::ui {

RefreshRateDialog::RefreshRateDialog(int intervalMs, QWidget* parent)
    : QDialog(parent), seconds_(new QSpinBox(this)) {
  setWindowTitle(tr("Refresh Rate"));
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(tr("How often the console asks every monitored server for its state "
                             "and its ports. Off: only at start and on Refresh (F5)."),
                          this);
  text->setWordWrap(true);
  layout->addWidget(text);
  auto* form = new QFormLayout;
  seconds_->setRange(0, 3600);
  seconds_->setSuffix(tr(" s"));
  seconds_->setSpecialValueText(tr("Off"));
  seconds_->setValue((intervalMs + 999) / 1000);
  form->addRow(tr("Refresh every:"), seconds_);
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

int RefreshRateDialog::intervalMs() const { return seconds_->value() * 1000; }

}  // namespace pladmin::ui
