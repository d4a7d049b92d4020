#include "console/ui/dialog_parts.h"

namespace pladmin::ui {

QLabel* ErrorLabel(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName("error");
  label->setWordWrap(true);
  label->setStyleSheet("color: #b00020;");
  return label;
}

QDialogButtonBox* OkCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

}  // namespace pladmin::ui
