// velmo-pictures OUT_FOLDER: draws the program's own pictures: the command icons
// (icons/*.png), the logo and topic pictures (pic/*.jpg) and the desktop icon in
// the hicolor sizes (hicolor/NxN/apps/velmo.png). Run by the build.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

const QColor kGreen(0x2e, 0x7d, 0x32);
const QColor kBlue(0x15, 0x65, 0xc0);
const QColor kRed(0xc6, 0x28, 0x28);
const QColor kOrange(0xef, 0x6c, 0x00);
const QColor kGrey(0x54, 0x6e, 0x7a);

// An icon drawn on a 64 x 64 grid, saved at `size` pixels.
void icon(const QString& path, const std::function<void(QPainter&)>& draw, int size = 64) {
  QImage img(size, size, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);
  draw(p);
  p.end();
  img.save(path);
}

void document(QPainter& p, const QColor& c) {
  QPainterPath d;
  d.moveTo(14, 6);
  d.lineTo(40, 6);
  d.lineTo(52, 18);
  d.lineTo(52, 58);
  d.lineTo(14, 58);
  d.closeSubpath();
  p.setPen(QPen(c.darker(140), 3));
  p.setBrush(Qt::white);
  p.drawPath(d);
  p.setPen(QPen(c, 3));
  for (int y = 26; y <= 48; y += 8) p.drawLine(20, y, 46, y);
}

void arrow(QPainter& p, const QColor& c, double angleDeg) {
  p.save();
  p.translate(32, 32);
  p.rotate(angleDeg);
  QPainterPath a;
  a.moveTo(-24, -8);
  a.lineTo(4, -8);
  a.lineTo(4, -20);
  a.lineTo(26, 0);
  a.lineTo(4, 20);
  a.lineTo(4, 8);
  a.lineTo(-24, 8);
  a.closeSubpath();
  p.setPen(QPen(c.darker(140), 2));
  p.setBrush(c);
  p.drawPath(a);
  p.restore();
}

void globe(QPainter& p) {
  p.setPen(QPen(kBlue.darker(130), 3));
  p.setBrush(QColor(0xbb, 0xde, 0xfb));
  p.drawEllipse(QPointF(32, 32), 26, 26);
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(32, 32), 11, 26);
  p.drawLine(6, 32, 58, 32);
  p.drawLine(32, 6, 32, 58);
  p.drawLine(10, 19, 54, 19);
  p.drawLine(10, 45, 54, 45);
}

void letter(QPainter& p, const QString& text, const QColor& c, int size, const QRect& r) {
  QFont f("DejaVu Sans");
  f.setBold(true);
  f.setPixelSize(size);
  p.setFont(f);
  p.setPen(c);
  p.drawText(r, Qt::AlignCenter, text);
}

// A racecourse seen from above: the oval, the rail and a few runners.
void course(QPainter& p, int w, int h, const QColor& sky, const QColor& turf, const QColor& accent) {
  QLinearGradient g(0, 0, 0, h);
  g.setColorAt(0, sky);
  g.setColorAt(1, sky.lighter(130));
  p.fillRect(0, 0, w, h, g);
  QRectF oval(w * 0.08, h * 0.25, w * 0.84, h * 0.62);
  p.setPen(Qt::NoPen);
  p.setBrush(turf);
  p.drawRoundedRect(oval, h * 0.3, h * 0.3);
  p.setBrush(QColor(0xd7, 0xb8, 0x8a));
  p.drawRoundedRect(oval.adjusted(w * 0.07, h * 0.1, -w * 0.07, -h * 0.1), h * 0.2, h * 0.2);
  p.setBrush(turf.lighter(115));
  p.drawRoundedRect(oval.adjusted(w * 0.13, h * 0.18, -w * 0.13, -h * 0.18), h * 0.12, h * 0.12);
  p.setPen(QPen(Qt::white, 2));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(oval.adjusted(2, 2, -2, -2), h * 0.3, h * 0.3);
  const QColor caps[] = {Qt::white, Qt::black, kRed, kBlue, Qt::yellow, kGreen};
  for (int i = 0; i < 6; ++i) {
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(caps[i]);
    p.drawEllipse(QPointF(w * 0.3 + i * w * 0.06, h * 0.81 - (i % 2) * 6), 5, 5);
  }
  p.setPen(Qt::NoPen);
  p.setBrush(accent);
  p.drawEllipse(QPointF(w * 0.85, h * 0.13), h * 0.08, h * 0.08);
}

void picture(const QString& path, int w, int h, const std::function<void(QPainter&, int, int)>& draw) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  draw(p, w, h);
  p.end();
  img.save(path, "JPG", 90);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velmo-pictures OUT_FOLDER\n");
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out + "/icons");
  QDir().mkpath(out + "/pic");
  const QString ic = out + "/icons/";

  icon(ic + "internet.png", [](QPainter& p) {
    globe(p);
    arrow(p, kGreen, 90);
  });
  icon(ic + "download.png", [](QPainter& p) { arrow(p, kGreen, 90); });
  icon(ic + "file.png", [](QPainter& p) {
    document(p, kBlue);
    letter(p, "LZH", kBlue.darker(130), 11, QRect(14, 44, 38, 14));
  });
  icon(ic + "van.png", [](QPainter& p) {
    document(p, kOrange);
    letter(p, "VAN", kOrange.darker(130), 12, QRect(14, 42, 38, 16));
  });
  icon(ic + "delete.png", [](QPainter& p) {
    p.setPen(QPen(kGrey, 3));
    p.setBrush(QColor(0xec, 0xef, 0xf1));
    p.drawRect(16, 18, 32, 40);
    p.drawLine(10, 14, 54, 14);
    p.drawRect(26, 8, 12, 6);
    p.setPen(QPen(kRed, 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(22, 26, 42, 50);
    p.drawLine(42, 26, 22, 50);
  });
  icon(ic + "changeover.png", [](QPainter& p) { arrow(p, kOrange, 0); });
  icon(ic + "master.png", [](QPainter& p) {
    p.setPen(QPen(kBlue.darker(140), 3));
    p.setBrush(QColor(0xe3, 0xf2, 0xfd));
    p.drawRoundedRect(6, 12, 52, 40, 6, 6);
    p.setBrush(kBlue);
    p.drawEllipse(QPointF(22, 28), 7, 7);
    p.drawChord(QRectF(11, 36, 22, 20), 0, 180 * 16);
    p.setPen(QPen(kBlue.darker(140), 3));
    p.drawLine(38, 26, 52, 26);
    p.drawLine(38, 34, 52, 34);
    p.drawLine(38, 42, 48, 42);
  });
  icon(ic + "exit.png", [](QPainter& p) {
    p.setPen(QPen(kGrey.darker(130), 3));
    p.setBrush(QColor(0xbc, 0xaa, 0xa4));
    p.drawRect(10, 6, 30, 52);
    p.setBrush(Qt::black);
    p.drawEllipse(QPointF(34, 34), 2.5, 2.5);
    arrow(p, kRed, 0);
  });
  icon(ic + "folder.png", [](QPainter& p) {
    p.setPen(QPen(QColor(0xb2, 0x8a, 0x00), 3));
    p.setBrush(QColor(0xff, 0xd5, 0x4f));
    QPainterPath f;
    f.moveTo(6, 14);
    f.lineTo(24, 14);
    f.lineTo(30, 20);
    f.lineTo(58, 20);
    f.lineTo(58, 54);
    f.lineTo(6, 54);
    f.closeSubpath();
    p.drawPath(f);
  });
  icon(ic + "copy.png", [](QPainter& p) {
    p.save();
    p.translate(-6, -4);
    document(p, kGrey);
    p.restore();
    p.save();
    p.translate(8, 6);
    p.scale(0.85, 0.85);
    document(p, kBlue);
    p.restore();
  });
  icon(ic + "settings.png", [](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kGrey);
    p.translate(32, 32);
    for (int i = 0; i < 8; ++i) {
      p.drawRect(-5, -28, 10, 14);
      p.rotate(45);
    }
    p.drawEllipse(QPointF(0, 0), 19, 19);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(0, 0), 8, 8);
  });
  icon(ic + "run.png", [](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    QPolygonF t;
    t << QPointF(16, 8) << QPointF(56, 32) << QPointF(16, 56);
    p.drawPolygon(t);
  });
  icon(ic + "upgrade.png", [](QPainter& p) { arrow(p, kBlue, -90); });
  auto logo = [](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawRoundedRect(2, 2, 60, 60, 12, 12);
    letter(p, "V", Qt::white, 44, QRect(0, 0, 64, 64));
  };
  icon(ic + "velmo.png", logo);
  // The desktop menu's icon in the sizes of the hicolor theme.
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString dir = out + QString("/hicolor/%1x%1/apps").arg(size);
    QDir().mkpath(dir);
    icon(dir + "/velmo.png", logo, size);
  }

  const QString pic = out + "/pic/";
  picture(pic + "velmo_Rogo.jpg", 320, 240, [](QPainter& p, int w, int h) {
    course(p, w, h, QColor(0x90, 0xca, 0xf9), kGreen, QColor(0xff, 0xee, 0x58));
    QFont f("DejaVu Sans");
    f.setBold(true);
    f.setPixelSize(56);
    p.setFont(f);
    p.setPen(QColor(0, 0, 0, 90));
    p.drawText(QRect(3, 3, w, h * 0.45), Qt::AlignCenter, "Velmo");
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, w, h * 0.45), Qt::AlignCenter, "Velmo");
  });
  struct Scene {
    const char* name;
    QColor sky, turf, accent;
  };
  const Scene scenes[] = {
      {"spring.jpg", QColor(0xf8, 0xbb, 0xd0), QColor(0x66, 0xbb, 0x6a), QColor(0xff, 0xf5, 0x9d)},
      {"summer.jpg", QColor(0x4f, 0xc3, 0xf7), QColor(0x38, 0x8e, 0x3c), QColor(0xff, 0xca, 0x28)},
      {"autumn.jpg", QColor(0xff, 0xcc, 0x80), QColor(0x9e, 0x9d, 0x24), QColor(0xe6, 0x51, 0x00)},
      {"winter.jpg", QColor(0xcf, 0xd8, 0xdc), QColor(0x55, 0x8b, 0x2f), QColor(0xff, 0xff, 0xff)},
  };
  for (const Scene& s : scenes)
    picture(pic + s.name, 320, 240, [&](QPainter& p, int w, int h) { course(p, w, h, s.sky, s.turf, s.accent); });
  picture(pic + "odds.jpg", 320, 240, [](QPainter& p, int w, int h) {
    p.fillRect(0, 0, w, h, QColor(0x26, 0x32, 0x38));
    QFont f("DejaVu Sans Mono");
    f.setBold(true);
    f.setPixelSize(22);
    p.setFont(f);
    const char* rows[] = {"1  3.4", "2 12.8", "3  5.1", "4 45.0", "5  8.9", "6 23.6"};
    for (int i = 0; i < 6; ++i) {
      p.setPen(i == 0 ? QColor(0xff, 0x52, 0x52) : QColor(0xff, 0xd5, 0x4f));
      p.drawText(QRect(60, 18 + i * 36, 200, 34), Qt::AlignLeft | Qt::AlignVCenter, rows[i]);
    }
  });
  picture(pic + "data.jpg", 320, 240, [](QPainter& p, int w, int h) {
    p.fillRect(0, 0, w, h, QColor(0xe8, 0xf5, 0xe9));
    p.setPen(QPen(kGreen.darker(130), 2));
    p.drawLine(30, h - 30, w - 20, h - 30);
    p.drawLine(30, 20, 30, h - 30);
    const int bars[] = {60, 95, 80, 130, 150, 120, 170};
    for (int i = 0; i < 7; ++i) {
      p.setBrush(i == 6 ? kOrange : kGreen);
      p.drawRect(45 + i * 38, h - 30 - bars[i], 26, bars[i]);
    }
  });
  return 0;
}
