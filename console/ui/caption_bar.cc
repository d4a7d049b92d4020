#include "console/ui/caption_bar.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QLocale>
#include <QPainter>

namespace pladmin::ui {

CaptionBar::CaptionBar(QWidget* parent) : QWidget(parent) {
  QFont font("Arial");
  font.setPointSize(12);
  font.setWeight(QFont::Bold);
  setFont(font);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setFixedHeight(sizeHint().height());
}

QSize CaptionBar::sizeHint() const {
  // The text's height at the screen's resolution plus a margin; never less than the icon.
  const int height = std::max(QFontMetrics(font()).height(), 16) + 8;
  return {200, height};
}

void CaptionBar::SetCaption(const QString& text, const QIcon& icon) {
  text_ = text;
  icon_ = icon;
  update();
}

void CaptionBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QLinearGradient g(0, 0, width(), 0);
  g.setColorAt(0, QColor(0xEB, 0xEB, 0xEB));
  g.setColorAt(1, QColor(0xc9, 0xd6, 0xe8));
  p.fillRect(rect(), g);
  p.setPen(QColor(0xb0, 0xb0, 0xb0));
  p.drawLine(0, height() - 1, width(), height() - 1);
  const int iconTop = (height() - 16) / 2;
  icon_.paint(&p, QRect(6, iconTop, 16, 16));
  p.setPen(QColor(0x20, 0x30, 0x48));
  p.drawText(QRect(28, 0, width() - 32, height()), Qt::AlignLeft | Qt::AlignVCenter, text_);
}

}  // namespace pladmin::ui
