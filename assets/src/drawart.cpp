// Draws the agent's artwork with QPainter and writes it into one folder:
//   banner.jpg      130 x 400 banner of the main window's picture box
//   check16.png     16 x 16 green check mark of the list's image list
//   AAA_48.png, AAA_32.png, AAA_16.png and AAA.ico (32 bits per pixel)
//   icon1.ico       32 x 32 at 1 bit, 32 x 32 and 16 x 16 at 4 bits per pixel
// Usage: drawart OUTPUT_FOLDER (run with QT_QPA_PLATFORM=offscreen).
#include <QtCore/QFile>
#include <QtGui/QFont>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QRadialGradient>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const QColor kNavy(11, 42, 104);
const QColor kOrange(255, 138, 0);

// Globe: shaded sphere, continents, meridians and parallels, highlight.
void DrawGlobe(QPainter& p, QPointF c, qreal r, bool grid) {
  p.save();
  QRadialGradient sea(c + QPointF(-r * 0.35, -r * 0.4), r * 1.45);
  sea.setColorAt(0.0, QColor(170, 220, 255));
  sea.setColorAt(0.45, QColor(46, 124, 214));
  sea.setColorAt(1.0, QColor(10, 48, 122));
  QPainterPath ball;
  ball.addEllipse(c, r, r);
  p.fillPath(ball, sea);
  p.setClipPath(ball);

  // Continents as soft blobs, in globe units (-1..1).
  auto at = [&](qreal x, qreal y) { return c + QPointF(x * r, y * r); };
  QPainterPath land;
  land.moveTo(at(-0.85, -0.35));
  land.cubicTo(at(-0.6, -0.75), at(-0.15, -0.8), at(-0.05, -0.5));
  land.cubicTo(at(0.05, -0.3), at(-0.25, -0.15), at(-0.3, 0.1));
  land.cubicTo(at(-0.35, 0.35), at(-0.15, 0.55), at(-0.3, 0.85));
  land.cubicTo(at(-0.55, 0.7), at(-0.7, 0.35), at(-0.65, 0.1));
  land.cubicTo(at(-0.95, 0.0), at(-1.0, -0.2), at(-0.85, -0.35));
  land.moveTo(at(0.2, -0.75));
  land.cubicTo(at(0.5, -0.85), at(0.9, -0.55), at(0.95, -0.2));
  land.cubicTo(at(0.9, 0.1), at(0.65, 0.05), at(0.55, 0.3));
  land.cubicTo(at(0.45, 0.6), at(0.2, 0.55), at(0.25, 0.2));
  land.cubicTo(at(0.3, -0.05), at(0.05, -0.2), at(0.1, -0.45));
  land.closeSubpath();
  QLinearGradient green(at(0, -1), at(0, 1));
  green.setColorAt(0, QColor(120, 200, 110));
  green.setColorAt(1, QColor(40, 120, 60));
  p.fillPath(land, green);

  if (grid) {
    p.setPen(QPen(QColor(255, 255, 255, 90), std::max(0.6, r / 40)));
    p.setBrush(Qt::NoBrush);
    for (qreal k : {0.38, 0.75}) p.drawEllipse(c, r * k, r);
    p.drawLine(at(0, -1), at(0, 1));
    for (qreal y : {-0.5, 0.0, 0.5}) {
      qreal w = std::sqrt(1 - y * y);
      p.drawEllipse(at(0, y), r * w, r * 0.12 * w);
    }
  }

  QRadialGradient shine(c + QPointF(-r * 0.4, -r * 0.5), r * 0.7);
  shine.setColorAt(0, QColor(255, 255, 255, 150));
  shine.setColorAt(1, QColor(255, 255, 255, 0));
  p.fillPath(ball, shine);
  p.setClipping(false);
  p.setPen(QPen(kNavy, std::max(1.0, r / 28)));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(c, r, r);
  p.restore();
}

// The product's logo: "Or" in orange and "Vento" in white, outlined, with a
// wind swoosh beneath.
void DrawLogo(QPainter& p, QPointF centre, qreal width) {
  p.save();
  QFont f("Liberation Sans");
  f.setBold(true);
  f.setItalic(true);
  f.setPixelSize(100);
  QPainterPath or_, vento;
  or_.addText(0, 0, f, "Or");
  vento.addText(or_.boundingRect().right() + 2, 0, f, "Vento");
  QRectF all = or_.boundingRect().united(vento.boundingRect());
  qreal s = width / all.width();
  QTransform t;
  t.translate(centre.x(), centre.y());
  t.scale(s, s);
  t.translate(-all.center().x(), -all.center().y());
  QPainterPath a = t.map(or_), b = t.map(vento);
  p.setPen(QPen(kNavy, 100 * s * 0.12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPath(a);
  p.drawPath(b);
  p.fillPath(a, kOrange);
  p.fillPath(b, Qt::white);

  QRectF box = t.mapRect(all);
  QPainterPath swoosh;
  swoosh.moveTo(box.left(), box.bottom() + box.height() * 0.18);
  swoosh.cubicTo(box.left() + box.width() * 0.35, box.bottom() + box.height() * 0.45,
                 box.left() + box.width() * 0.7, box.bottom() - box.height() * 0.05,
                 box.right() + box.width() * 0.05, box.bottom() + box.height() * 0.05);
  p.setPen(QPen(kOrange, box.height() * 0.14, Qt::SolidLine, Qt::RoundCap));
  p.drawPath(swoosh);
  p.restore();
}

// Transmitting antenna: a lattice mast under a beacon with waves either side.
void DrawSignal(QPainter& p, QPointF top) {
  p.save();
  const QColor blue(29, 79, 156);
  p.setPen(QPen(blue, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  QPointF l(top.x() - 9, top.y() + 34), r(top.x() + 9, top.y() + 34);
  p.drawLine(top, l);
  p.drawLine(top, r);
  p.setPen(QPen(blue, 1.2));
  for (int i = 1; i <= 3; ++i) {
    qreal f = i / 4.0;
    QPointF a = top + (l - top) * f, b = top + (r - top) * f;
    p.drawLine(a, b);
    if (i < 3) p.drawLine(a, top + (r - top) * (f + 0.25));
  }
  p.setPen(QPen(blue, 2.2, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  for (int i = 1; i <= 3; ++i) {
    qreal rad = 5.0 + 6.0 * i;
    QRectF box(top.x() - rad, top.y() - rad, 2 * rad, 2 * rad);
    p.drawArc(box, -40 * 16, 80 * 16);
    p.drawArc(box, 140 * 16, 80 * 16);
  }
  p.setPen(QPen(kNavy, 1));
  p.setBrush(kOrange);
  p.drawEllipse(top, 3.5, 3.5);
  p.restore();
}

// A desktop computer: monitor with a lit screen on a stand.
void DrawComputer(QPainter& p, QRectF m) {
  p.save();
  p.setPen(QPen(QColor(60, 70, 90), 1));
  QLinearGradient body(m.topLeft(), m.bottomLeft());
  body.setColorAt(0, QColor(245, 247, 250));
  body.setColorAt(1, QColor(190, 198, 210));
  p.setBrush(body);
  p.drawRoundedRect(m, 2.5, 2.5);
  QRectF screen = m.adjusted(3, 3, -3, -5);
  QLinearGradient glass(screen.topLeft(), screen.bottomRight());
  glass.setColorAt(0, QColor(120, 190, 255));
  glass.setColorAt(1, QColor(20, 70, 160));
  p.setBrush(glass);
  p.drawRect(screen);
  p.setPen(QPen(QColor(255, 255, 255, 140), 1));
  p.drawLine(screen.topLeft() + QPointF(2, 3), screen.topLeft() + QPointF(screen.width() * 0.5, 3));
  p.setPen(QPen(QColor(60, 70, 90), 1));
  p.setBrush(body);
  QPolygonF stand;
  stand << QPointF(m.center().x() - 4, m.bottom()) << QPointF(m.center().x() + 4, m.bottom())
        << QPointF(m.center().x() + 6, m.bottom() + 6)
        << QPointF(m.center().x() - 6, m.bottom() + 6);
  p.drawPolygon(stand);
  p.drawRoundedRect(QRectF(m.center().x() - 11, m.bottom() + 6, 22, 3), 1, 1);
  p.restore();
}

QImage Banner() {
  QImage img(130, 400, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, 400);
  sky.setColorAt(0.0, QColor(250, 252, 255));
  sky.setColorAt(0.5, QColor(214, 232, 250));
  sky.setColorAt(1.0, QColor(170, 205, 240));
  p.fillRect(img.rect(), sky);

  // Faint rings behind the globe.
  p.setPen(QPen(QColor(150, 190, 235, 110), 1));
  for (int i = 0; i < 3; ++i) p.drawEllipse(QPointF(65, 72), 56.0 + 5 * i, 56.0 + 5 * i);

  DrawGlobe(p, QPointF(65, 72), 52, true);
  DrawLogo(p, QPointF(65, 70), 92);
  DrawSignal(p, QPointF(65, 141));

  // Network: three computers tied to a hub.
  const QPointF hub(65, 312);
  QRectF a(6, 262, 46, 32), b(78, 262, 46, 32), c(42, 324, 46, 30);
  p.setPen(QPen(QColor(29, 79, 156), 2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(a.center().x(), a.bottom() + 9), hub);
  p.drawLine(QPointF(b.center().x(), b.bottom() + 9), hub);
  p.drawLine(a.center() + QPointF(a.width() / 2, 0), b.center() - QPointF(b.width() / 2, 0));
  DrawComputer(p, a);
  DrawComputer(p, b);
  p.setPen(QPen(QColor(29, 79, 156), 2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(hub, QPointF(c.center().x(), c.top()));
  p.setPen(QPen(kNavy, 1));
  p.setBrush(kOrange);
  p.drawEllipse(hub, 4, 4);
  p.drawEllipse(a.center() + QPointF(a.width() / 2 + 13, 0), 3, 3);
  DrawComputer(p, c);
  return img;
}

QImage CheckMark() {
  QImage img(16, 16, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath tick;
  tick.moveTo(2.5, 8.5);
  tick.lineTo(6.2, 12.2);
  tick.lineTo(13.5, 3.5);
  p.setPen(QPen(QColor(10, 90, 20), 4.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(tick);
  p.setPen(QPen(QColor(40, 190, 60), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(tick);
  return img;
}

// Curved update arrow, clockwise from the upper right of a circle round its
// lower half, the head pointing back up on the left.
void DrawUpdateArrow(QPainter& p, QPointF c, qreal r, qreal width, QColor fill, QColor line) {
  p.save();
  const qreal startDeg = 55, sweepDeg = -215;
  QRectF box(c.x() - r, c.y() - r, 2 * r, 2 * r);
  QPainterPath arc;
  arc.arcMoveTo(box, startDeg);
  arc.arcTo(box, startDeg, sweepDeg);
  QPainterPathStroker st;
  st.setWidth(width);
  st.setCapStyle(Qt::FlatCap);
  QPainterPath body = st.createStroke(arc);
  // Arrowhead at the end of the arc, pointing along it (clockwise).
  qreal endA = (startDeg + sweepDeg) * M_PI / 180;
  QPointF tip(c.x() + r * std::cos(endA), c.y() - r * std::sin(endA));
  QPointF tangent(-std::sin(endA), -std::cos(endA));
  QPointF normal(std::cos(endA), -std::sin(endA));
  QPolygonF head;
  head << tip + normal * width * 1.1 << tip - normal * width * 1.1 << tip + tangent * width * 1.5;
  QPainterPath headPath;
  headPath.addPolygon(head);
  headPath.closeSubpath();
  QPainterPath all = body.united(headPath);
  p.setPen(QPen(line, std::max(0.8, width / 5), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(fill);
  p.drawPath(all);
  p.restore();
}

QImage AppIcon(int size) {
  QImage img(size, size, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  qreal s = size / 48.0;
  QPointF c(24 * s, 24 * s);
  DrawGlobe(p, c, 16.5 * s, size >= 32);
  DrawUpdateArrow(p, c, 19 * s, std::max(2.2, 4.6 * s), kOrange, kNavy);
  return img;
}

// The same motif in the flat colours of the standard 16-colour palette,
// without smoothing, for the 4-bit images.
QImage FlatIcon(int size) {
  QImage img(size, size, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  qreal s = size / 48.0;
  QPointF c(24 * s - 0.5, 24 * s - 0.5);
  qreal r = 16.5 * s;
  p.setPen(QPen(QColor(0, 0, 128), 1));
  p.setBrush(QColor(0, 0, 255));
  p.drawEllipse(c, r, r);
  QPainterPath ball;
  ball.addEllipse(c, r, r);
  p.setClipPath(ball);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 128, 0));
  p.drawEllipse(c + QPointF(-r * 0.55, -r * 0.1), r * 0.35, r * 0.7);
  p.drawEllipse(c + QPointF(r * 0.5, -r * 0.35), r * 0.4, r * 0.4);
  p.setBrush(QColor(0, 255, 0));
  p.drawEllipse(c + QPointF(-r * 0.6, -r * 0.35), r * 0.15, r * 0.2);
  if (size >= 32) {
    p.setPen(QPen(QColor(0, 255, 255), 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, r * 0.45, r);
    p.drawLine(c + QPointF(-r, 0), c + QPointF(r, 0));
  }
  p.setClipping(false);
  p.setPen(QPen(QColor(0, 0, 128), 1));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(c, r, r);
  DrawUpdateArrow(p, c, 20 * s, std::max(2.5, 5.0 * s), QColor(255, 255, 0), QColor(128, 0, 0));
  return img;
}

// A one-bit drawing of the same motif: white globe, black lines and arrow.
QImage MonoIcon() {
  QImage img(32, 32, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  QPointF c(15.5, 15.5);
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::white);
  p.drawEllipse(c, 10.5, 10.5);
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(c, 4.5, 10.5);
  p.drawLine(QPointF(5, 15.5), QPointF(26, 15.5));
  p.drawLine(QPointF(15.5, 5), QPointF(15.5, 26));
  DrawUpdateArrow(p, c, 13.5, 3, Qt::black, Qt::black);
  return img;
}

// Icon file writing. Every image is stored as a bottom-up DIB (XOR bitmap)
// followed by the 1-bit AND mask, as the resource compiler expects.
struct IcoImage {
  int size;
  int bits;                   // 1, 4 or 32
  std::vector<QRgb> palette;  // 2 or 16 entries for 1 and 4 bits
  QImage image;               // ARGB32, alpha below 128 counts as transparent
};

void Put16(std::string& out, unsigned v) {
  out += char(v & 0xFF);
  out += char((v >> 8) & 0xFF);
}
void Put32(std::string& out, unsigned v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

int Nearest(const std::vector<QRgb>& pal, QRgb c) {
  int best = 0;
  long bestD = -1;
  for (int i = 0; i < int(pal.size()); ++i) {
    long dr = qRed(pal[i]) - qRed(c), dg = qGreen(pal[i]) - qGreen(c),
         db = qBlue(pal[i]) - qBlue(c);
    long d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
    if (bestD < 0 || d < bestD) bestD = d, best = i;
  }
  return best;
}

std::string Dib(const IcoImage& ico) {
  const int n = ico.size;
  std::string out;
  Put32(out, 40);
  Put32(out, n);
  Put32(out, 2 * n);  // XOR and AND bitmaps together
  Put16(out, 1);
  Put16(out, ico.bits);
  Put32(out, 0);
  const int xorStride = ((n * ico.bits + 31) / 32) * 4;
  const int andStride = ((n + 31) / 32) * 4;
  Put32(out, (xorStride + andStride) * n);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  for (QRgb c : ico.palette) {
    out += char(qBlue(c));
    out += char(qGreen(c));
    out += char(qRed(c));
    out += char(0);
  }
  for (int y = n - 1; y >= 0; --y) {
    std::string row(xorStride, '\0');
    for (int x = 0; x < n; ++x) {
      QRgb px = ico.image.pixel(x, y);
      bool opaque = qAlpha(px) >= 128;
      if (ico.bits == 32) {
        QRgb s = ico.image.pixel(x, y);  // straight (not premultiplied) colour
        row[x * 4 + 0] = char(qBlue(s));
        row[x * 4 + 1] = char(qGreen(s));
        row[x * 4 + 2] = char(qRed(s));
        row[x * 4 + 3] = char(qAlpha(s));
      } else {
        int idx = opaque ? Nearest(ico.palette, px) : 0;
        if (ico.bits == 4)
          row[x / 2] = char(row[x / 2] | (x % 2 ? idx : idx << 4));
        else if (idx)
          row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
      }
    }
    out += row;
  }
  for (int y = n - 1; y >= 0; --y) {
    std::string row(andStride, '\0');
    for (int x = 0; x < n; ++x)
      if (qAlpha(ico.image.pixel(x, y)) < 128) row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
    out += row;
  }
  return out;
}

bool WriteIco(const QString& path, const std::vector<IcoImage>& images) {
  std::string head, body;
  Put16(head, 0);
  Put16(head, 1);
  Put16(head, unsigned(images.size()));
  unsigned offset = 6 + 16 * unsigned(images.size());
  for (const IcoImage& ico : images) {
    std::string dib = Dib(ico);
    head += char(ico.size);
    head += char(ico.size);
    head += char(ico.bits == 32 ? 0 : (1 << ico.bits) & 0xFF);
    head += char(0);
    Put16(head, 1);
    Put16(head, ico.bits);
    Put32(head, unsigned(dib.size()));
    Put32(head, offset);
    offset += unsigned(dib.size());
    body += dib;
  }
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  std::string all = head + body;
  return f.write(all.data(), qint64(all.size())) == qint64(all.size());
}

// The standard 16-colour palette of 4-bit icons.
const std::vector<QRgb> kVga16 = {
    qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
    qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
    qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
    qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
const std::vector<QRgb> kMono = {qRgb(0, 0, 0), qRgb(255, 255, 255)};

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: drawart OUTPUT_FOLDER\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]) + "/";
  bool ok = Banner().save(out + "banner.jpg", "JPEG", 92);
  ok = CheckMark().save(out + "check16.png", "PNG") && ok;
  std::vector<IcoImage> aaa;
  for (int size : {48, 32, 16}) {
    QImage icon = AppIcon(size);
    ok = icon.save(out + QString("AAA_%1.png").arg(size), "PNG") && ok;
    aaa.push_back({size, 32, {}, icon});
  }
  ok = WriteIco(out + "AAA.ico", aaa) && ok;
  ok = WriteIco(out + "icon1.ico", {{32, 1, kMono, MonoIcon()},
                                    {32, 4, kVga16, FlatIcon(32)},
                                    {16, 4, kVga16, FlatIcon(16)}}) &&
       ok;
  if (!ok) std::fprintf(stderr, "drawart: could not write every file\n");
  return ok ? 0 : 1;
}
