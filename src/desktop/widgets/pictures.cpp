#include "widgets/pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace zevrin {

namespace {

QPixmap Blank(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

// A DB-9 style plug in a 24-unit square, with a coloured light at its lower right.
void DrawPlug(QPainter& p, const QColor& light) {
  p.setPen(QPen(QColor(60, 60, 70), 1.2));
  QLinearGradient metal(0, 4, 0, 16);
  metal.setColorAt(0, QColor(210, 214, 222));
  metal.setColorAt(1, QColor(140, 146, 160));
  p.setBrush(metal);
  QPainterPath shell;
  shell.moveTo(2, 5);
  shell.lineTo(20, 5);
  shell.lineTo(17.5, 15);
  shell.lineTo(4.5, 15);
  shell.closeSubpath();
  p.drawPath(shell);
  p.setBrush(QColor(40, 40, 48));
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 5; ++i) p.drawEllipse(QPointF(5 + 3 * i, 8.5), 0.9, 0.9);
  for (int i = 0; i < 4; ++i) p.drawEllipse(QPointF(6.5 + 3 * i, 11.5), 0.9, 0.9);
  p.setPen(QPen(QColor(60, 60, 70), 1.2));
  p.drawLine(QPointF(11, 15), QPointF(11, 21));
  p.setBrush(light);
  p.setPen(QPen(light.darker(160), 1));
  p.drawEllipse(QPointF(19, 19), 4, 4);
}

}  // namespace

QPixmap PortOpenPicture(int size) {
  QPixmap pixmap = Blank(size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 24.0, size / 24.0);
  DrawPlug(p, QColor(40, 200, 60));
  return pixmap;
}

QPixmap PortClosedPicture(int size) {
  QPixmap pixmap = Blank(size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 24.0, size / 24.0);
  DrawPlug(p, QColor(220, 50, 40));
  p.setPen(QPen(Qt::white, 1.4));
  p.drawLine(QPointF(17.3, 17.3), QPointF(20.7, 20.7));
  p.drawLine(QPointF(20.7, 17.3), QPointF(17.3, 20.7));
  return pixmap;
}

QPixmap StatusButtonPicture(int size) {
  QPixmap pixmap = Blank(size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 16.0, size / 16.0);
  QLinearGradient face(0, 0, 0, 16);
  face.setColorAt(0, QColor(250, 250, 252));
  face.setColorAt(1, QColor(200, 206, 220));
  p.setPen(QPen(QColor(110, 116, 135), 0.8));
  p.setBrush(face);
  p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
  // A magnifier over a row of bits: "look into this byte".
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 192));
  for (int i = 0; i < 4; ++i) p.drawRect(QRectF(2.5 + 2.2 * i, 11, 1.4, 2.5));
  p.setBrush(QColor(255, 255, 255, 200));
  p.setPen(QPen(QColor(30, 30, 40), 1.3));
  p.drawEllipse(QPointF(7, 6.5), 3.4, 3.4);
  p.setPen(QPen(QColor(30, 30, 40), 1.8, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(9.6, 9.1), QPointF(13, 12.5));
  return pixmap;
}

QPixmap SatellitePicture(int size) {
  QPixmap pixmap = Blank(size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);

  // The earth's limb in the lower left.
  QRadialGradient earth(QPointF(0, 70), 40);
  earth.setColorAt(0, QColor(60, 130, 210));
  earth.setColorAt(0.85, QColor(30, 90, 170));
  earth.setColorAt(1, QColor(150, 200, 250));
  p.setPen(Qt::NoPen);
  p.setBrush(earth);
  p.drawEllipse(QPointF(0, 70), 34, 34);

  // A cube body with a solar cell on each visible face.
  p.translate(36, 28);
  p.rotate(-18);
  p.setPen(QPen(QColor(50, 50, 60), 0.8));
  p.setBrush(QColor(205, 205, 210));
  p.drawRect(QRectF(-10, -10, 20, 20));
  p.setBrush(QColor(30, 50, 120));
  p.drawRect(QRectF(-7, -7, 14, 14));
  p.setPen(QPen(QColor(90, 120, 200), 0.5));
  for (int i = 1; i < 4; ++i) {
    p.drawLine(QPointF(-7 + 3.5 * i, -7), QPointF(-7 + 3.5 * i, 7));
    p.drawLine(QPointF(-7, -7 + 3.5 * i), QPointF(7, -7 + 3.5 * i));
  }
  // Four whip antennas.
  p.setPen(QPen(QColor(60, 60, 60), 0.9, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(10, -6), QPointF(24, -14));
  p.drawLine(QPointF(10, 6), QPointF(24, 14));
  p.drawLine(QPointF(-10, -6), QPointF(-24, -14));
  p.drawLine(QPointF(-10, 6), QPointF(-20, 20));

  // A downlink wave towards the earth.
  p.resetTransform();
  p.scale(size / 64.0, size / 64.0);
  p.setPen(QPen(QColor(220, 120, 0), 1.4, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  for (int r = 0; r < 3; ++r) {
    const double d = 8 + 5 * r;
    p.drawArc(QRectF(28 - d, 36 - d, 2 * d, 2 * d), 200 * 16, 50 * 16);
  }
  return pixmap;
}

}  // namespace zevrin
