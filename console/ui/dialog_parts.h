// What the console's editing dialogs share: the line that says why a save was
// refused, and the OK / Cancel row.
#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>

namespace pladmin::ui {

// An empty error line (object name "error"), red, wrapping.
QLabel* ErrorLabel(QWidget* parent);
// OK and Cancel, wired to the dialog's accept and reject.
QDialogButtonBox* OkCancel(QDialog* dialog);

}  // namespace pladmin::ui
