#include "installer/ui/ras_version_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

RasVersionDialog::RasVersionDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Current RAS Version?");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Setup could not tell which remote-access service this computer runs.", this));
  ras = new QRadioButton("This computer runs Microsoft RAS.", this);
  rrasButton = new QRadioButton("This computer runs Microsoft RRAS.", this);
  ras->setChecked(true);
  layout->addWidget(ras);
  layout->addWidget(rrasButton);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool RasVersionDialog::rras() const { return rrasButton->isChecked(); }
