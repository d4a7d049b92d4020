// CCustomizeLogview: the sheet "Customize View" with its page "Settings":
// the columns of the log view, whether they are sized to their contents, and
// how durations are written. Apply keeps the choice in the Client key of the
// local computer and in the document.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QRadioButton>
#include <map>

#include "platform/win_types.h"

namespace pladmin {
class CPladminDoc;
struct ClientSettings;
}

namespace pladmin::ui {

class CustomizeLogViewDialog : public QDialog {
  Q_OBJECT
 public:
  CustomizeLogViewDialog(const ClientSettings& settings, QWidget* parent);

  // The sum of the checked columns' flags, Time always counted.
  int columns() const;
  bool autoSize() const { return autoSize_->isChecked(); }
  bool timeInSeconds() const { return seconds_->isChecked(); }
  QCheckBox* columnBox(int flag) const { return boxes_.at(flag); }
  // Writes HistoryViewColumns, AutoSizeColumns (0 when sizing) and
  // TimeFormatSeconds, and gives them to the document.
  void Apply(CPladminDoc& doc) const;

 private:
  std::map<int, QCheckBox*> boxes_;
  QCheckBox* autoSize_;
  QRadioButton* hms_;
  QRadioButton* seconds_;
};

}  // namespace pladmin::ui
