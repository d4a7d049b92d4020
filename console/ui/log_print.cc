#include "console/ui/log_print.h"

#include <QFont>
#include <QPainter>
#include <QPrinter>

namespace pladmin::ui {

namespace {

constexpr int kTwipsPerInch = 1440;
constexpr int kTitleHeight = 300;    // twips
constexpr int kHeadingHeight = 240;
constexpr int kRowHeight = 200;      // the rows' font height
constexpr int kLineHeight = 240;     // a row's line, with its leading
constexpr int kBottomReserve = 2000; // the page height the rows do not use
constexpr int kRuleEnd = 20000;
constexpr int kNarrowColumn = 12;    // on-screen pixels: such columns are not printed

// The space above the rows: the title, five title lines, the heading, two
// heading lines, the column headings and the rule.
constexpr int kTopBlock = kTitleHeight * 6 + kHeadingHeight * 3 + kLineHeight + 60;

QFont Font(int heightTwips, bool bold) {
  QFont font("Arial");
  font.setPixelSize(heightTwips);
  font.setBold(bold);
  return font;
}

// A cell's text, cut with an ellipsis where it would run into the next column.
void DrawCell(QPainter& painter, const QRect& cell, const QString& text) {
  const int room = std::max(0, cell.width() - 60);
  painter.drawText(cell.adjusted(0, 0, -60, 0), Qt::AlignLeft | Qt::AlignVCenter,
                   painter.fontMetrics().elidedText(text, Qt::ElideRight, room));
}

}  // namespace

int RowsPerPage(int pageHeightTwips) {
  return std::max(1, (pageHeightTwips - kBottomReserve - kTopBlock) / kLineHeight);
}

int PageCount(int rows, int pageHeightTwips) {
  const int perPage = RowsPerPage(pageHeightTwips);
  return std::max(1, (rows + perPage - 1) / perPage);
}

int PrintLog(QPrinter* printer, const LogPrintout& printout) {
  QPainter painter;
  if (!painter.begin(printer)) return 0;
  // Twips from here on.
  const double scale = printer->resolution() / static_cast<double>(kTwipsPerInch);
  painter.scale(scale, scale);
  const QRectF page = printer->pageLayout().paintRectPixels(printer->resolution());
  const int pageWidth = static_cast<int>(page.width() / scale);
  const int pageHeight = static_cast<int>(page.height() / scale);
  const int perPage = RowsPerPage(pageHeight);
  const int pages = PageCount(printout.rowCount, pageHeight);

  // Column positions: on-screen widths scaled from the list to the page; from
  // the columns' total when they are wider than the list, so that none falls
  // off the page.
  int screenWidth = std::max(1, printout.listWidth);
  int total = 0;
  for (const int w : printout.widths) total += w > kNarrowColumn ? w : 0;
  screenWidth = std::max(screenWidth, total);
  std::vector<int> columns, starts;
  int x = 0;
  for (size_t c = 0; c < printout.widths.size(); ++c) {
    if (printout.widths[c] <= kNarrowColumn) continue;
    columns.push_back(static_cast<int>(c));
    starts.push_back(x);
    x += printout.widths[c] * pageWidth / screenWidth;
  }
  starts.push_back(x);

  int row = 0;
  for (int pageNo = 1; pageNo <= pages; ++pageNo) {
    if (pageNo > 1) printer->newPage();
    int y = 0;
    painter.setFont(Font(kTitleHeight, false));
    painter.drawText(QRect(0, y, pageWidth, kTitleHeight + 60), Qt::AlignLeft | Qt::AlignTop,
                     "Portulon Administrator");
    y += kTitleHeight * 6;
    painter.setFont(Font(kHeadingHeight, true));
    const QString heading = QString("Logged activities in Portulon during %1 %2.     Page %3(%4)")
                                .arg(printout.dayText, printout.filterText)
                                .arg(pageNo)
                                .arg(pages);
    painter.drawText(QRect(0, y, pageWidth, kHeadingHeight + 60), Qt::AlignLeft | Qt::AlignTop, heading);
    y += kHeadingHeight * 3;
    painter.setFont(Font(kRowHeight, false));
    for (size_t i = 0; i < columns.size(); ++i) {
      DrawCell(painter, QRect(starts[i], y, starts[i + 1] - starts[i], kLineHeight),
               printout.headings.value(columns[i]));
    }
    y += kLineHeight + 30;
    painter.drawLine(0, y, std::min(kRuleEnd, pageWidth), y);
    y += 30;
    for (int n = 0; n < perPage && row < printout.rowCount; ++n, ++row) {
      const QStringList texts = printout.row(row);
      for (size_t i = 0; i < columns.size(); ++i) {
        DrawCell(painter, QRect(starts[i], y, starts[i + 1] - starts[i], kLineHeight),
                 texts.value(columns[i]));
      }
      y += kLineHeight;
    }
  }
  painter.end();
  return pages;
}

}  // namespace pladmin::ui
