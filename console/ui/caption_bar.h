// The caption above the tree and the content view: a 16x16 icon and the
// view's name on a light gradient, in Arial bold 12 points.
#pragma once

#include <QIcon>
#include <QWidget>

namespace pladmin::ui {

class CaptionBar : public QWidget {
  Q_OBJECT
 public:
  explicit CaptionBar(QWidget* parent = nullptr);
  void SetCaption(const QString& text, const QIcon& icon);
  QString text() const { return text_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QString text_;
  QIcon icon_;
};

}  // namespace pladmin::ui
