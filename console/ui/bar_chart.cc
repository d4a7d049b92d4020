#include "console/ui/bar_chart.h"

#include <QPainter>
#include <cmath>

namespace pladmin::ui {

double NiceStep(double maximum, int ticks) {
  if (maximum <= 0 || ticks <= 0) return 1;
  const double raw = maximum / ticks;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (raw <= m * power) return m * power;
  }
  return 10 * power;
}

BarChart::BarChart(QWidget* parent) : QWidget(parent) {
  setMinimumHeight(160);
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, Qt::white);
  setPalette(p);
}

void BarChart::SetData(const QString& title, const QStringList& labels, std::vector<Series> series,
                       const QString& unit) {
  title_ = title;
  labels_ = labels;
  series_ = std::move(series);
  unit_ = unit;
  update();
}

void BarChart::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QFontMetrics fm(font());
  const int line = fm.height();
  p.setPen(palette().color(QPalette::WindowText));
  QFont bold = font();
  bold.setBold(true);
  p.setFont(bold);
  p.drawText(QRect(8, 4, width() - 16, line), Qt::AlignLeft, title_);
  p.setFont(font());

  double maximum = 0;
  for (const Series& s : series_) {
    for (double v : s.values) maximum = std::max(maximum, v);
  }
  // Counts step by whole numbers.
  bool whole = true;
  for (const Series& s : series_) {
    for (double v : s.values) whole = whole && v == std::floor(v);
  }
  const double step = whole ? std::max(1.0, NiceStep(maximum, 4)) : NiceStep(maximum, 4);
  const double top = std::max(step, std::ceil(maximum / step) * step);
  const int axisWidth = fm.horizontalAdvance(QString::number(top, 'g', 6)) + 12;
  const QRect plot(axisWidth + 8, line * 2 + 8, width() - axisWidth - 20, height() - line * 4 - 16);
  if (plot.width() < 20 || plot.height() < 20) return;

  // The value axis: ticks and light grid lines.
  for (double v = 0; v <= top + step / 2; v += step) {
    const int y = plot.bottom() - static_cast<int>(v / top * plot.height());
    p.setPen(QColor(0xE2, 0xE4, 0xE8));
    p.drawLine(plot.left(), y, plot.right(), y);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(0, y - line / 2, axisWidth, line), Qt::AlignRight | Qt::AlignVCenter,
               QString::number(v, 'g', 6));
  }
  p.drawLine(plot.bottomLeft(), plot.bottomRight());
  if (!unit_.isEmpty()) p.drawText(QRect(0, line + 4, axisWidth + 40, line), Qt::AlignLeft, unit_);

  // The bars.
  const int groups = static_cast<int>(labels_.size());
  if (groups > 0 && !series_.empty()) {
    const double groupWidth = static_cast<double>(plot.width()) / groups;
    const double barWidth = std::max(1.0, groupWidth * 0.8 / static_cast<double>(series_.size()));
    // Labels are thinned out when they would overlap.
    int every = 1;
    int widest = 0;
    for (const QString& label : labels_) widest = std::max(widest, fm.horizontalAdvance(label));
    while (every < groups && widest + 6 > groupWidth * every) ++every;
    for (int g = 0; g < groups; ++g) {
      const double x0 = plot.left() + g * groupWidth + groupWidth * 0.1;
      for (size_t s = 0; s < series_.size(); ++s) {
        const double v = g < static_cast<int>(series_[s].values.size()) ? series_[s].values[static_cast<size_t>(g)] : 0;
        const double h = v / top * plot.height();
        p.fillRect(QRectF(x0 + static_cast<double>(s) * barWidth, plot.bottom() - h, barWidth - 1, h),
                   series_[s].colour);
      }
      if (g % every == 0) {
        p.drawText(QRectF(plot.left() + g * groupWidth - groupWidth * (every - 1) / 2.0, plot.bottom() + 2,
                          groupWidth * every, line),
                   Qt::AlignHCenter | Qt::AlignTop, labels_[g]);
      }
    }
  } else {
    p.drawText(plot, Qt::AlignCenter, tr("Nothing recorded"));
  }

  // The legend.
  int x = plot.left();
  const int y = height() - line - 4;
  for (const Series& s : series_) {
    p.fillRect(QRect(x, y + 3, 10, line - 6), s.colour);
    x += 14;
    p.drawText(QRect(x, y, fm.horizontalAdvance(s.name) + 4, line), Qt::AlignLeft, s.name);
    x += fm.horizontalAdvance(s.name) + 18;
  }
}

}  // namespace pladmin::ui
