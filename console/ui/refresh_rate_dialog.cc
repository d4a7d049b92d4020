#include "console/ui/refresh_rate_dialog.h"

#include <cmath>

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace pladmin::ui {

RefreshRateDialog::RefreshRateDialog(int intervalMs, QWidget* parent)
    : QDialog(parent), seconds_(new QDoubleSpinBox(this)) {
  setWindowTitle(tr("Refresh Rate"));
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(tr("How often the console asks every monitored server for its state "
                             "and its ports. Off: only at start and on Refresh (F5)."),
                          this);
  text->setWordWrap(true);
  layout->addWidget(text);
  auto* form = new QFormLayout;
  // Milliseconds are kept: an interval of 1,500 ms is not rounded to 2 s.
  seconds_->setRange(0, 3600);
  seconds_->setDecimals(3);
  seconds_->setSingleStep(0.5);
  seconds_->setSuffix(tr(" s"));
  seconds_->setSpecialValueText(tr("Off"));
  seconds_->setValue(intervalMs / 1000.0);
  form->addRow(tr("Refresh every:"), seconds_);
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

int RefreshRateDialog::intervalMs() const { return static_cast<int>(std::lround(seconds_->value() * 1000)); }

}  // namespace pladmin::ui
