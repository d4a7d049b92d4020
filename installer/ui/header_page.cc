#include "installer/ui/header_page.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QVBoxLayout>

namespace {

constexpr int kHeaderHeight = 72;

QPixmap DrawSetupBitmap() {
  QPixmap pixmap(164, 60);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 164, 60);
  sky.setColorAt(0, QColor(0, 40, 110));
  sky.setColorAt(1, QColor(0, 130, 150));
  p.fillRect(pixmap.rect(), sky);
  // A door ajar: the one way in that Portulon keeps.
  p.setPen(QPen(Qt::white, 2));
  p.setBrush(QColor(255, 255, 255, 40));
  p.drawRect(QRectF(12, 10, 26, 40));
  p.setBrush(QColor(255, 200, 60));
  p.drawPolygon(QPolygonF({QPointF(12, 10), QPointF(30, 16), QPointF(30, 56), QPointF(12, 50)}));
  QFont font("Arial");
  font.setPixelSize(20);
  font.setWeight(QFont::Bold);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRect(46, 0, 118, 60), Qt::AlignVCenter | Qt::AlignLeft, "Portulon");
  return pixmap;
}

}  // namespace

HeaderPage::HeaderPage(const QString& headerTitle, QWidget* parent)
    : QWizardPage(parent), headerTitle_(headerTitle) {
  setObjectName(headerTitle);
  body_ = new QVBoxLayout(this);
  body_->setContentsMargins(12, kHeaderHeight + 8, 12, 8);
}

const QPixmap& HeaderPage::SetupBitmap() {
  static const QPixmap bitmap = DrawSetupBitmap();
  return bitmap;
}

void HeaderPage::paintEvent(QPaintEvent* event) {
  QWizardPage::paintEvent(event);
  QPainter p(this);
  p.fillRect(QRect(0, 0, width(), kHeaderHeight), Qt::white);
  p.drawPixmap(4, 4, SetupBitmap());
  QFont font("Arial");
  font.setPixelSize(18);
  font.setWeight(QFont::Weight(600));
  p.setFont(font);
  p.setPen(Qt::black);
  p.drawText(QRect(180, 30, width() - 184, 30), Qt::AlignLeft | Qt::AlignTop, headerTitle_);
  p.setPen(QColor(160, 160, 160));
  p.drawLine(0, kHeaderHeight, width(), kHeaderHeight);
}
