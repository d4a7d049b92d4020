// A bar chart drawn with QPainter: one group of bars per label, one bar per
// series, a value axis with a few round ticks and a legend. Small and with no
// further library, it draws the same on screen, offscreen and in a picture.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <vector>

namespace pladmin::ui {

class BarChart : public QWidget {
  Q_OBJECT
 public:
  struct Series {
    QString name;
    QColor colour;
    std::vector<double> values;  // one per label
  };

  explicit BarChart(QWidget* parent = nullptr);
  void SetData(const QString& title, const QStringList& labels, std::vector<Series> series,
               const QString& unit = {});
  const QStringList& labels() const { return labels_; }
  const std::vector<Series>& series() const { return series_; }
  QSize sizeHint() const override { return {480, 220}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString title_, unit_;
  QStringList labels_;
  std::vector<Series> series_;
};

// A round step for an axis up to `maximum` with about `ticks` ticks.
double NiceStep(double maximum, int ticks);

}  // namespace pladmin::ui
