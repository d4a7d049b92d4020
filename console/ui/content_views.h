// The content views of the container's right-hand column share one
// interface: the document's update hints reach them through OnUpdate, and
// what they ask of the frame goes up as signals.
#pragma once

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include <string>
#include <vector>

#include "console/core/commands.h"
#include "console/core/message_sink.h"
#include "console/ui/list_columns.h"

namespace pladmin {
class CPladminDoc;
}

namespace pladmin::ui {

class ContentViewBase : public QWidget {
  Q_OBJECT
 public:
  ContentViewBase(CPladminDoc& doc, ContentView kind, QWidget* parent)
      : QWidget(parent), doc_(doc), kind_(kind) {}
  ContentView kind() const { return kind_; }
  // hint: kHint...; serverIndex for kHintServerData, else -1.
  virtual void OnUpdate(int hint, int serverIndex) = 0;
  // Redraws one server's row or data (a fetch started or found nothing new).
  virtual void RedrawServer(int /*serverIndex*/) {}
  // Print, Print Direct or Print Preview (ID_FILE_PRINT...); views that do not print ignore it.
  virtual void Print(int /*commandId*/) {}

 signals:
  // The view asks the frame to run a command (a button, a double click).
  void CommandRequested(int commandId);
  // The view asks the tree to select a server or a port.
  void SelectRequested(const QString& server, const QString& port);
  // A line for the status bar.
  void StatusText(const QString& text);
  // A load began that signals the document's "WaitProgressDraw" when done.
  void ProgressStarted();
  // What the commands act on changed (rows loaded, a selection).
  void CommandsChanged();
  // Settings were saved that these servers must be told of.
  void SettingsSaved(const std::vector<std::string>& servers);

 protected:
  // A line over the view that says whose times are not moved to their
  // server's clock (TimeZoneNote); hidden while there is nothing to say.
  void AddTimeZoneNote(QVBoxLayout* layout);
  void UpdateTimeZoneNote();
  // After a load off the window thread: its messages shown, the event count
  // set, the cursor back. False when a reload was asked for meanwhile (and
  // *reloadAgain is cleared): the caller then loads again.
  bool FinishLoad(DeferredSink& messages, int dayRecords, bool* reloadAgain);

  CPladminDoc& doc_;

 private:
  ContentView kind_;
  QLabel* timeZoneNote_ = nullptr;
};

}  // namespace pladmin::ui
