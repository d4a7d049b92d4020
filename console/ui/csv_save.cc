#include "console/ui/csv_save.h"

#include <QFileDialog>
#include <QSaveFile>

namespace pladmin::ui {

QString AskCsvPath(QWidget* parent, const QString& title) {
  QFileDialog dialog(parent, title);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix("csv");
  dialog.setNameFilter(QObject::tr("Comma Separated File (*.csv)"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

bool WriteTextFile(const QString& path, const std::string& text, MessageSink& sink) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
      !file.commit()) {
    sink.Message("Error opening file for output.", MessageIcon::Stop);
    return false;
  }
  return true;
}

}  // namespace pladmin::ui
