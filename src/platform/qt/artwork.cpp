// Artwork of the console, all drawn with QPainter at run time so that no
// bitmap file travels with the program: a fan of beams over a dark sea for
// the splash, logo and icon, a bevelled HOLD button and a thin cross-hair
// cursor with an open centre.
#include "platform/qt/artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace plat::qt {

namespace {

constexpr double kPi = 3.14159265358979323846;

// A fan of `beams` lines from the apex (x, y) upward over `sectorDeg`, with
// two range arcs; brighter towards the centre beam.
void DrawFan(QPainter& p, double x, double y, double radius, int beams, double sectorDeg, QColor colour) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  for (int i = 0; i < beams; ++i) {
    const double f = beams > 1 ? static_cast<double>(i) / (beams - 1) : 0.5;
    const double a = (-sectorDeg / 2.0 + f * sectorDeg) * kPi / 180.0;
    QColor c = colour;
    c.setAlphaF(0.35 + 0.65 * (1.0 - std::fabs(f - 0.5) * 2.0));
    p.setPen(QPen(c, radius > 60 ? 1.6 : 1.0));
    p.drawLine(QPointF(x, y), QPointF(x + radius * std::sin(a), y - radius * std::cos(a)));
  }
  QColor arc = colour;
  arc.setAlphaF(0.8);
  p.setPen(QPen(arc, radius > 60 ? 2.0 : 1.0));
  for (double r : {radius * 0.55, radius}) {
    const QRectF box(x - r, y - r, 2 * r, 2 * r);
    p.drawArc(box, static_cast<int>((90 - sectorDeg / 2) * 16), static_cast<int>(sectorDeg * 16));
  }
  p.restore();
}

}  // namespace

QPixmap SplashPixmap() {
  QPixmap pm(520, 320);
  QPainter p(&pm);
  QLinearGradient sea(0, 0, 0, 320);
  sea.setColorAt(0.0, QColor(6, 22, 48));
  sea.setColorAt(1.0, QColor(2, 60, 82));
  p.fillRect(pm.rect(), sea);
  DrawFan(p, 260, 305, 165, 33, 120.0, QColor(90, 220, 200));
  // A seabed echo across the fan.
  p.setRenderHint(QPainter::Antialiasing, true);
  QPainterPath bed;
  bed.moveTo(120, 235);
  bed.cubicTo(200, 215, 320, 250, 400, 222);
  p.setPen(QPen(QColor(250, 200, 70), 3.0));
  p.drawPath(bed);
  QFont title(kSerifFont, 54, QFont::Bold);
  p.setFont(title);
  p.setPen(QColor(235, 245, 250));
  p.drawText(QRect(0, 30, 520, 80), Qt::AlignHCenter | Qt::AlignVCenter, "Orvale");
  p.setFont(QFont(kSansFont, 14));
  p.setPen(QColor(170, 210, 225));
  p.drawText(QRect(0, 108, 520, 30), Qt::AlignHCenter | Qt::AlignVCenter, "Multibeam Sonar");
  p.setPen(QPen(QColor(120, 170, 190), 2));
  p.drawRect(pm.rect().adjusted(1, 1, -2, -2));
  return pm;
}

void DrawLogo(QPainter& p, int x, int y, int w, int h) {
  p.save();
  const int fan = h;
  DrawFan(p, x + fan / 2.0, y + h - 2, h - 4, 9, 110.0, QColor(90, 220, 200));
  QFont f(kSerifFont, 1, QFont::Bold);
  f.setPixelSize(h * 3 / 5);
  p.setFont(f);
  p.setPen(QColor(220, 232, 240));
  p.drawText(QRect(x + fan + 4, y, w - fan - 4, h), Qt::AlignLeft | Qt::AlignVCenter, "Orvale");
  p.restore();
}

QIcon AppIcon() {
  QPixmap pm(64, 64);
  pm.fill(QColor(6, 22, 48));
  QPainter p(&pm);
  DrawFan(p, 32, 58, 52, 11, 120.0, QColor(90, 220, 200));
  return QIcon(pm);
}

void DrawHoldButton(QPainter& p, int x, int y, int held) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, false);
  const QRect r(x, y, 15, 15);
  p.fillRect(r, held ? QColor(150, 30, 30) : QColor(150, 150, 150));
  // Bevel: light top-left and dark bottom-right when raised, reversed when held.
  const QColor light(230, 230, 230), dark(50, 50, 50);
  p.setPen(held ? dark : light);
  p.drawLine(x, y, x + 14, y);
  p.drawLine(x, y, x, y + 14);
  p.setPen(held ? light : dark);
  p.drawLine(x + 14, y, x + 14, y + 14);
  p.drawLine(x, y + 14, x + 14, y + 14);
  // Two pause bars.
  p.fillRect(QRect(x + 4 + held, y + 4 + held, 2, 7), held ? QColor(255, 230, 230) : QColor(40, 40, 40));
  p.fillRect(QRect(x + 9 + held, y + 4 + held, 2, 7), held ? QColor(255, 230, 230) : QColor(40, 40, 40));
  p.restore();
}

QCursor CrossHairCursor() {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  // White arms with a dark outline, so the cross shows on every colour table;
  // the centre stays open over the pixel being measured.
  auto arms = [&](const QPen& pen) {
    p.setPen(pen);
    p.drawLine(15, 1, 15, 11);
    p.drawLine(15, 19, 15, 29);
    p.drawLine(1, 15, 11, 15);
    p.drawLine(19, 15, 29, 15);
  };
  arms(QPen(QColor(0, 0, 0), 3));
  arms(QPen(QColor(255, 255, 255), 1));
  p.setPen(QColor(255, 255, 255));
  p.drawPoint(15, 15);
  return QCursor(pm, 15, 15);
}

}  // namespace plat::qt
