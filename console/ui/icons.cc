#include "console/ui/icons.h"

#include <QCoreApplication>
#include <QHash>
#include <QLinearGradient>
#include <QPointer>
#include <QPainter>
#include <QPainterPath>

#include "console/core/commands.h"

namespace pladmin::ui {

namespace {

const QColor kBlue(0x2f, 0x5f, 0x9e);
const QColor kGreen(0x3c, 0x9a, 0x4a);
const QColor kAmber(0xd9, 0x8e, 0x1c);
const QColor kRed(0xb8, 0x3b, 0x3b);
const QColor kGrey(0x70, 0x70, 0x70);

// Draws on a 32x32 canvas; the painter is scaled for smaller sizes.
using Drawing = void (*)(QPainter&);

QPixmap Render(Drawing draw, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  draw(p);
  return pixmap;
}

// Drawn once per program: the cache lives as long as the application object.
class IconCache : public QObject {
 public:
  using QObject::QObject;
  QHash<Drawing, QIcon> icons;
};

QIcon Make(Drawing draw) {
  static QPointer<IconCache> cache;
  if (!cache) cache = new IconCache(QCoreApplication::instance());
  auto it = cache->icons.find(draw);
  if (it != cache->icons.end()) return *it;
  QIcon icon;
  for (int size : {16, 24, 32, 48}) icon.addPixmap(Render(draw, size));
  cache->icons.insert(draw, icon);
  return icon;
}

void Monitor(QPainter& p) {  // Status: a screen with a pulse
  p.setPen(QPen(kGrey, 2));
  p.setBrush(QColor(0xf4, 0xf8, 0xff));
  p.drawRoundedRect(QRectF(3, 5, 26, 18), 2, 2);
  p.drawLine(QPointF(16, 23), QPointF(16, 27));
  p.drawLine(QPointF(10, 28), QPointF(22, 28));
  p.setPen(QPen(kGreen, 2.2));
  QPainterPath pulse(QPointF(6, 15));
  pulse.lineTo(11, 15);
  pulse.lineTo(13, 9);
  pulse.lineTo(17, 20);
  pulse.lineTo(19, 14);
  pulse.lineTo(26, 14);
  p.setBrush(Qt::NoBrush);
  p.drawPath(pulse);
}

void Clock(QPainter& p) {  // History: a clock over a page
  p.setPen(QPen(kGrey, 1.5));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(4, 3, 18, 24));
  for (int y = 8; y <= 20; y += 4) p.drawLine(QPointF(7, y), QPointF(18, y));
  p.setPen(QPen(kBlue, 2));
  p.setBrush(QColor(0xe8, 0xf0, 0xfb));
  p.drawEllipse(QPointF(21, 21), 8, 8);
  p.drawLine(QPointF(21, 21), QPointF(21, 16));
  p.drawLine(QPointF(21, 21), QPointF(25, 22));
}

void Bars(QPainter& p) {  // Usage: a bar graph
  p.setPen(QPen(kGrey, 1.5));
  p.drawLine(QPointF(4, 28), QPointF(29, 28));
  p.drawLine(QPointF(4, 28), QPointF(4, 3));
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawRect(QRectF(7, 16, 5, 12));
  p.setBrush(kGreen);
  p.drawRect(QRectF(14, 8, 5, 20));
  p.setBrush(kAmber);
  p.drawRect(QRectF(21, 12, 5, 16));
}

void Pie(QPainter& p) {  // Statistics: a pie chart
  const QRectF r(3, 3, 26, 26);
  p.setPen(QPen(Qt::white, 1));
  p.setBrush(kBlue);
  p.drawPie(r, 0, 200 * 16);
  p.setBrush(kAmber);
  p.drawPie(r, 200 * 16, 100 * 16);
  p.setBrush(kGreen);
  p.drawPie(r, 300 * 16, 60 * 16);
}

void ServerBox(QPainter& p, const QColor& light) {
  QLinearGradient g(0, 0, 32, 0);
  g.setColorAt(0, QColor(0xd8, 0xdc, 0xe2));
  g.setColorAt(1, QColor(0x9a, 0xa2, 0xad));
  p.setPen(QPen(kGrey, 1.5));
  p.setBrush(g);
  p.drawRoundedRect(QRectF(8, 2, 16, 28), 2, 2);
  for (int y = 7; y <= 15; y += 4) p.drawLine(QPointF(11, y), QPointF(21, y));
  p.setPen(Qt::NoPen);
  p.setBrush(light);
  p.drawEllipse(QPointF(16, 24), 2.5, 2.5);
}

void Server(QPainter& p) { ServerBox(p, kGreen); }
void Servers(QPainter& p) {
  p.save();
  p.translate(-5, 0);
  ServerBox(p, kGreen);
  p.restore();
  p.translate(6, 2);
  p.scale(0.9, 0.9);
  ServerBox(p, kGreen);
}

void Plug(QPainter& p, const QColor& colour) {
  p.setPen(QPen(kGrey, 1.5));
  p.setBrush(colour);
  p.drawRoundedRect(QRectF(6, 10, 20, 14), 3, 3);
  p.setBrush(Qt::NoBrush);
  p.drawLine(QPointF(11, 10), QPointF(11, 4));
  p.drawLine(QPointF(21, 10), QPointF(21, 4));
  p.drawLine(QPointF(16, 24), QPointF(16, 30));
}
void PortFree(QPainter& p) { Plug(p, QColor(0xdd, 0xdd, 0xdd)); }
void PortInUse(QPainter& p) { Plug(p, kGreen); }

void Person(QPainter& p, const QColor& colour) {
  p.setPen(QPen(kGrey, 1.2));
  p.setBrush(colour);
  p.drawEllipse(QPointF(16, 10), 6, 6);
  p.drawRoundedRect(QRectF(6, 18, 20, 12), 6, 6);
}
void User(QPainter& p) { Person(p, kBlue.lighter(150)); }
void Group(QPainter& p) {
  p.save();
  p.translate(-6, 0);
  Person(p, kAmber.lighter(130));
  p.restore();
  p.translate(6, 0);
  Person(p, kBlue.lighter(150));
}
void Domain(QPainter& p) {
  p.setPen(QPen(kBlue, 1.5));
  p.setBrush(QColor(0xe8, 0xf0, 0xfb));
  p.drawEllipse(QPointF(16, 16), 13, 13);
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QRectF(10, 3, 12, 26));
  p.drawLine(QPointF(3, 16), QPointF(29, 16));
}
void Profile(QPainter& p) {
  Person(p, QColor(0xcc, 0xcc, 0xcc));
  p.setPen(QPen(kAmber, 2));
  p.drawLine(QPointF(20, 24), QPointF(29, 24));
  p.drawLine(QPointF(24.5, 19.5), QPointF(24.5, 28.5));
}
void Refresh(QPainter& p) {
  p.setPen(QPen(kGreen, 3));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(6, 6, 20, 20), 60 * 16, 280 * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(kGreen);
  QPolygonF head;
  head << QPointF(18, 2) << QPointF(26, 7) << QPointF(18, 12);
  p.drawPolygon(head);
}
void Play(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kGreen);
  QPolygonF tri;
  tri << QPointF(9, 5) << QPointF(27, 16) << QPointF(9, 27);
  p.drawPolygon(tri);
}
void StopSquare(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kRed);
  p.drawRoundedRect(QRectF(7, 7, 18, 18), 2, 2);
}
void AddServerIcon(QPainter& p) {
  ServerBox(p, kGreen);
  p.setPen(QPen(kBlue, 3));
  p.drawLine(QPointF(24, 20), QPointF(24, 30));
  p.drawLine(QPointF(19, 25), QPointF(29, 25));
}
void RemoveServerIcon(QPainter& p) {
  ServerBox(p, kGrey);
  p.setPen(QPen(kRed, 3));
  p.drawLine(QPointF(19, 20), QPointF(29, 30));
  p.drawLine(QPointF(29, 20), QPointF(19, 30));
}
void Disconnect(QPainter& p) {
  Plug(p, kAmber);
  p.setPen(QPen(kRed, 3));
  p.drawLine(QPointF(3, 29), QPointF(29, 3));
}
void Help(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawEllipse(QPointF(16, 16), 13, 13);
  p.setPen(Qt::white);
  QFont f("Arial");
  f.setBold(true);
  f.setPixelSize(20);
  p.setFont(f);
  p.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter, "?");
}
void Arrow(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  QPolygonF a;
  a << QPointF(20, 5) << QPointF(8, 16) << QPointF(20, 27);
  p.drawPolygon(a);
}
void ArrowRight(QPainter& p) {
  p.translate(32, 0);
  p.scale(-1, 1);
  Arrow(p);
}
void Globe(QPainter& p) { Domain(p); }

}  // namespace

QIcon NavIcon(int navItem) {
  switch (navItem) {
    case kNavHistory: return Make(Clock);
    case kNavUsage: return Make(Bars);
    case kNavStatistics: return Make(Pie);
    default: return Make(Monitor);
  }
}

QIcon NodeIcon(int kind) {
  switch (kind) {
    case kNodeServersRoot: return Make(Servers);
    case kNodeServer:
    case kNodeServerAlt: return Make(Server);
    case kNodePortInUse: return Make(PortInUse);
    case kNodePort:
    case kNodePortAlt: return Make(PortFree);
    case kNodeAccountsRoot:
    case kNodeAccountsRootAlt:
    case kNodeGroup: return Make(Group);
    case kNodeDomain: return Make(Domain);
    case kNodeDefaultProfile: return Make(Profile);
    default: return Make(User);
  }
}

QIcon AppIcon() { return Make(Servers); }

QIcon CommandIcon(int id) {
  switch (id) {
    case ID_REFRESH: return Make(Refresh);
    case ID_START_PORTULON:
    case ID_START_RAS: return Make(Play);
    case ID_STOP_PORTULON:
    case ID_STOP_RAS: return Make(StopSquare);
    case ID_ADD_SERVER: return Make(AddServerIcon);
    case ID_REMOVE_SERVER:
    case ID_DELETE: return Make(RemoveServerIcon);
    case ID_PORT_DISCONNECT: return Make(Disconnect);
    case ID_HELP_CONTENTS: return Make(Help);
    case ID_DAY_BACK: return Make(Arrow);
    case ID_DAY_FORWARD: return Make(ArrowRight);
    case ID_WEB_HOME:
    case ID_WEB_SUPPORT: return Make(Globe);
    default: return NavIcon(kNavStatus);
  }
}

QPixmap SplashPixmap() {
  QPixmap pixmap(440, 220);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 440, 220);
  g.setColorAt(0, QColor(0x1d, 0x3f, 0x6e));
  g.setColorAt(1, QColor(0x4a, 0x7f, 0xc1));
  p.fillRect(pixmap.rect(), g);
  p.save();
  p.translate(28, 50);
  p.scale(3, 3);
  Servers(p);
  p.restore();
  p.setPen(Qt::white);
  QFont title("Arial");
  title.setBold(true);
  title.setPixelSize(34);
  p.setFont(title);
  p.drawText(QRect(150, 50, 280, 44), Qt::AlignLeft | Qt::AlignVCenter, "Portulon");
  QFont sub("Arial");
  sub.setPixelSize(16);
  p.setFont(sub);
  p.drawText(QRect(150, 94, 280, 24), Qt::AlignLeft | Qt::AlignVCenter, "Administrator");
  sub.setPixelSize(11);
  p.setFont(sub);
  p.drawText(QRect(150, 124, 280, 20), Qt::AlignLeft | Qt::AlignVCenter,
             "Access control and accounting for dial-in servers");
  return pixmap;
}

}  // namespace pladmin::ui
