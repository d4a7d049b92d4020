// The console's help: HTML pages shipped inside the program, one per view
// and setting, shown in a browser window of their own.
#pragma once

#include <QTextBrowser>
#include <QWidget>

namespace pladmin::ui {

class HelpWindow : public QWidget {
  Q_OBJECT
 public:
  explicit HelpWindow(QWidget* parent = nullptr);
  void ShowPage(const QString& page);
  QTextBrowser* browser() const { return browser_; }

 private:
  QTextBrowser* browser_;
};

}  // namespace pladmin::ui
