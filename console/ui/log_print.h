// The log view's printout, drawn in twips: a title line naming the product,
// the heading "Logged activities in Portulon during <day> <filter>.     Page
// n(m)", the column headings under a rule, then one line per row in list
// order, continued page after page.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QPrinter;

namespace pladmin::ui {

struct LogPrintout {
  QString dayText;     // the day shown, as a long date
  QString filterText;  // "(all available records)", ...
  QStringList headings;
  std::vector<int> widths;  // on-screen widths of the displayed columns
  int listWidth = 1;        // the list's client width on screen
  int rowCount = 0;
  std::function<QStringList(int row)> row;
};

// Rows that fit one page of `pageHeightTwips`.
int RowsPerPage(int pageHeightTwips);
// Pages for `rows` rows (at least one).
int PageCount(int rows, int pageHeightTwips);

// Prints every row; returns the number of pages.
int PrintLog(QPrinter* printer, const LogPrintout& printout);

}  // namespace pladmin::ui
