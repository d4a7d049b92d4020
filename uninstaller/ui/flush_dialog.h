// The uninstaller's one dialog, "Portulon Uninstall": a fixed text, the
// status text and a progress bar from 0 to 100. It runs the chosen removal
// from its one-shot start timer and shows each step as it happens.
#pragma once

#include <QDialog>
#include <QString>

#include "uninstaller/core/flush_steps.h"

class QLabel;
class QProgressBar;

class FlushDialog : public QDialog, public pl_flush::FlushUi {
  Q_OBJECT

 public:
  // `interactive` false: warnings go to standard error instead of a message
  // box (a run without a screen, which nobody could answer).
  FlushDialog(pl_flush::FlushMode mode, bool interactive, QWidget* parent = nullptr);

  // Runs the removal once the event loop runs, then closes the dialog.
  void StartTimer();
  bool refused() const { return refused_; }
  int removedCount() const { return removed_; }
  QString statusText() const;
  int position() const;

  void SetStatus(std::string_view text) override;
  void Step(int position) override;
  void Pause(int milliseconds) override;
  void Warning(std::string_view text) override;
  // Named on standard output, one line each.
  void Removed(std::string_view what) override;

 signals:
  void finished_removal();

 private:
  void RunRemoval();

  pl_flush::FlushMode mode_;
  bool interactive_;
  bool refused_ = false;
  int removed_ = 0;
  QString status_;        // the dialog's data, shown at the next step
  QString shownStatus_;
  QLabel* statusLabel_;
  QProgressBar* bar_;
};
