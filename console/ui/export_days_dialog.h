// The multi-day export: a dialog that asks for the range of days, and the
// run that writes them into one CSV file on a worker thread behind a
// progress bar that can be cancelled (a cancelled or failed export leaves no
// file behind).
#pragma once

#include <QDate>
#include <QDateEdit>
#include <QDialog>

#include "console/core/export_sessions.h"
#include "console/core/message_sink.h"

class QProgressDialog;

namespace pladmin::ui {

class ExportDaysDialog : public QDialog {
  Q_OBJECT
 public:
  // Opens on the month of `day` up to `day`; `filterText` says which records go.
  ExportDaysDialog(QDate day, const QString& filterText, QWidget* parent);
  QDate from() const { return from_->date(); }
  QDate to() const { return to_->date(); }
  void SetRange(QDate from, QDate to);

 private:
  QDateEdit* from_;
  QDateEdit* to_;
};

// Runs the export into `path`; `onProgress` (tests) sees the progress dialog
// once it shows, before the first day is read.
ExportResult RunSessionExport(QWidget* parent, const ExportRequest& request, const QString& path,
                              MessageSink& sink,
                              const std::function<void(QProgressDialog*)>& onProgress = {});

}  // namespace pladmin::ui
