#include "console/ui/export_days_dialog.h"

#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFile>
#include <QFormLayout>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <thread>

namespace pladmin::ui {

ExportDaysDialog::ExportDaysDialog(QDate day, const QString& filterText, QWidget* parent)
    : QDialog(parent), from_(new QDateEdit), to_(new QDateEdit) {
  setWindowTitle(tr("Export Sessions To File"));
  for (QDateEdit* edit : {from_, to_}) {
    edit->setCalendarPopup(true);
    edit->setDisplayFormat("yyyy-MM-dd");
  }
  SetRange(QDate(day.year(), day.month(), 1), day);
  auto* form = new QFormLayout;
  form->addRow(tr("From:"), from_);
  form->addRow(tr("To:"), to_);
  form->addRow(tr("Records:"), new QLabel(filterText));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  // A range that ends before it starts exports nothing: not offered.
  const auto check = [this, buttons] {
    buttons->button(QDialogButtonBox::Ok)->setEnabled(from_->date() <= to_->date());
  };
  connect(from_, &QDateEdit::dateChanged, this, check);
  connect(to_, &QDateEdit::dateChanged, this, check);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

void ExportDaysDialog::SetRange(QDate from, QDate to) {
  from_->setDate(from);
  to_->setDate(to);
}

ExportResult RunSessionExport(QWidget* parent, const ExportRequest& request, const QString& path,
                              MessageSink& sink,
                              const std::function<void(QProgressDialog*)>& onProgress) {
  ExportResult result;
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    sink.Message("Error opening file for output.", MessageIcon::Stop);
    result.writeFailed = true;
    return result;
  }
  const int days = static_cast<int>(DaysBetween(request.from, request.to).size());
  QProgressDialog progress(QObject::tr("Exporting sessions..."), QObject::tr("Cancel"), 0, days, parent);
  progress.setWindowTitle(QObject::tr("Export Sessions To File"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(0);
  progress.setValue(0);
  std::atomic<bool> cancel{false};  // set by the user-interface thread, read by the worker
  std::atomic<int> done{0};         // written by the worker, shown by the user-interface thread
  QObject::connect(&progress, &QProgressDialog::canceled, &progress, [&cancel] { cancel = true; });
  if (onProgress) onProgress(&progress);
  if (progress.wasCanceled()) cancel = true;
  QEventLoop loop;
  GroupMembers members;
  DeferredSink messages;
  std::thread worker([&] {
    // The file, and the group's members (read from its domain controller
    // when the request brings none), belong to the worker until it ends.
    ExportRequest own = request;
    if (!own.members && IsGroupFilter(own.filter.nodeKind)) {
      members.Load(own.filter.domain, own.filter.group, messages);
      own.members = &members;
    }
    result = ExportSessions(
        own,
        [&file](std::string_view text) {
          return file.write(text.data(), static_cast<qint64>(text.size())) ==
                 static_cast<qint64>(text.size());
        },
        [&](int n, int) {
          done = n;
          return !cancel.load();
        });
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &progress, [&] {
    if (progress.wasCanceled()) {
      cancel = true;
    } else {
      progress.setValue(done.load());
    }
  });
  poll.start(50);
  loop.exec();
  worker.join();
  poll.stop();
  messages.ReplayTo(sink);
  const bool flushed = file.flush();
  file.close();
  if (!flushed) result.writeFailed = true;
  if (result.cancelled || result.writeFailed) file.remove();
  if (result.writeFailed) sink.Message("Error writing the export file.", MessageIcon::Stop);
  progress.reset();
  return result;
}

}  // namespace pladmin::ui
