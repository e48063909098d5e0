// Draws the window's pictures once into PNG files, so the committed pictures can be
// reproduced and changed in code rather than in an image editor. Each picture is drawn at 1x,
// 1.5x and 2x ("ledred.png", "ledred_150.png", "ledred_200.png"): the window shows the drawing
// that suits its screen instead of blowing up the 1x one.
//
//   kelvo_render_pictures <output folder> [<Windows resource folder>]   (the alert .ico)
//   kelvo_render_pictures --icons <icon theme folder>   the program icon at the desktop's sizes
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>
#include <iterator>

namespace {

// A transparent picture of AWidth x AHeight designed pixels at AScale device pixels each
// (rounded to whole pixels); draw into it through ScaledPainter.
QImage NewImage(int AWidth, int AHeight, double AScale = 1.0) {
  QImage image(qRound(AWidth * AScale), qRound(AHeight * AScale),
               QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

// A painter whose coordinates are designed pixels: the drawing code is the same at every scale.
void ScalePainter(QPainter& APainter, double AScale) {
  APainter.scale(AScale, AScale);
}

bool Save(const QImage& AImage, const QDir& AFolder, const QString& AName) {
  const QString path = AFolder.filePath(AName);
  if (!AImage.save(path, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

// A round lamp with a bright highlight, as on a front panel.
QImage DrawLed(const QColor& ABase, double AScale) {
  QImage image = NewImage(16, 16, AScale);
  QPainter p(&image);
  ScalePainter(p, AScale);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(ABase.darker(220), 1.0));
  QRadialGradient body(QPointF(6.0, 5.5), 9.0);
  body.setColorAt(0.0, ABase.lighter(180));
  body.setColorAt(0.45, ABase);
  body.setColorAt(1.0, ABase.darker(170));
  p.setBrush(body);
  p.drawEllipse(QRectF(1.5, 1.5, 13.0, 13.0));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 150));
  p.drawEllipse(QRectF(4.0, 3.5, 4.5, 3.0));
  return image;
}

QImage DrawStrip(double AScale) {
  QImage image(qRound(8 * AScale), qRound(27 * AScale), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::white);
  return image;
}

QImage DrawLogo(double AScale) {
  QImage image = NewImage(111, 26, AScale);
  QPainter p(&image);
  ScalePainter(p, AScale);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  // Mark: two linked rings standing for the two sides of the relay.
  p.setPen(QPen(QColor(0, 84, 166), 2.4));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QRectF(2.5, 6.5, 12.0, 12.0));
  p.setPen(QPen(QColor(230, 120, 20), 2.4));
  p.drawEllipse(QRectF(10.5, 6.5, 12.0, 12.0));
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(14);
  font.setBold(true);
  p.setFont(font);
  p.setPen(QColor(0, 84, 166));
  p.drawText(QRectF(27.0, 0.0, 84.0, 26.0), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Kelvo"));
  const int kelvoWidth = QFontMetrics(font).horizontalAdvance(QStringLiteral("Kelvo"));
  font.setBold(false);
  p.setFont(font);
  p.setPen(QColor(90, 90, 90));
  p.drawText(QRectF(26.0 + kelvoWidth, 0.0, 84.0, 26.0), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Relay"));
  return image;
}

// A small desktop application window: title bar, menu line and a table.
QImage DrawApplication(double AScale) {
  QImage image = NewImage(64, 48, AScale);
  QPainter p(&image);
  ScalePainter(p, AScale);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF frame(2.5, 3.5, 59.0, 41.0);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 40));
  p.drawRoundedRect(frame.translated(1.5, 1.5), 3, 3);
  p.setPen(QPen(QColor(60, 80, 110), 1.0));
  p.setBrush(Qt::white);
  p.drawRoundedRect(frame, 3, 3);
  QLinearGradient title(0, 4, 0, 12);
  title.setColorAt(0, QColor(70, 130, 210));
  title.setColorAt(1, QColor(20, 70, 150));
  QPainterPath titlePath;
  titlePath.addRoundedRect(QRectF(3, 4, 58, 9), 2.5, 2.5);
  p.fillPath(titlePath, title);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(235, 90, 70));
  p.drawEllipse(QRectF(53.5, 6, 5, 5));
  p.setBrush(QColor(225, 225, 225));
  p.drawRect(QRectF(6, 17, 52, 4));
  p.setPen(QPen(QColor(150, 160, 175), 1.0));
  for (int row = 0; row < 4; ++row) {
    const double y = 25.5 + row * 4.5;
    p.drawLine(QPointF(6, y), QPointF(58, y));
  }
  p.drawLine(QPointF(22.5, 23), QPointF(22.5, 41));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(90, 160, 90));
  p.drawRect(QRectF(25, 27, 18, 2));
  p.setBrush(QColor(70, 130, 210));
  p.drawRect(QRectF(25, 31.5, 26, 2));
  p.drawRect(QRectF(25, 36, 12, 2));
  return image;
}

// A DIN-rail controller module: housing, terminals on top and bottom, status lamps.
QImage DrawController(double AScale) {
  QImage image = NewImage(64, 48, AScale);
  QPainter p(&image);
  ScalePainter(p, AScale);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF body(12.5, 4.5, 40.0, 40.0);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 40));
  p.drawRoundedRect(body.translated(1.5, 1.5), 3, 3);
  QLinearGradient shell(12, 0, 52, 0);
  shell.setColorAt(0, QColor(200, 204, 210));
  shell.setColorAt(0.5, QColor(240, 242, 245));
  shell.setColorAt(1, QColor(180, 184, 190));
  p.setPen(QPen(QColor(90, 95, 105), 1.0));
  p.setBrush(shell);
  p.drawRoundedRect(body, 3, 3);
  // Terminal rows.
  p.setBrush(QColor(60, 120, 60));
  p.setPen(QPen(QColor(30, 70, 30), 0.8));
  for (int i = 0; i < 5; ++i) {
    p.drawRect(QRectF(15.5 + i * 7.0, 6.5, 5.0, 5.0));
    p.drawRect(QRectF(15.5 + i * 7.0, 37.5, 5.0, 5.0));
  }
  // Front plate with display and lamps.
  p.setPen(QPen(QColor(40, 60, 90), 1.0));
  p.setBrush(QColor(30, 50, 80));
  p.drawRoundedRect(QRectF(17.5, 15.5, 30.0, 9.0), 1.5, 1.5);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(120, 230, 140));
  p.drawRect(QRectF(20, 18.5, 14, 3));
  p.setBrush(QColor(60, 200, 80));
  p.drawEllipse(QRectF(19, 28, 4, 4));
  p.setBrush(QColor(240, 170, 30));
  p.drawEllipse(QRectF(25, 28, 4, 4));
  p.setBrush(QColor(150, 150, 150));
  p.drawEllipse(QRectF(31, 28, 4, 4));
  p.setPen(QPen(QColor(0, 84, 166), 1.4));
  p.drawLine(QPointF(39, 30), QPointF(46, 30));
  return image;
}

// An RJ45 socket seen from the front.
void DrawSocket(QPainter& p, const QRectF& ARect) {
  p.setPen(QPen(QColor(70, 70, 70), 1.0));
  p.setBrush(QColor(215, 215, 215));
  p.drawRoundedRect(ARect, 2, 2);
  const QRectF hole = ARect.adjusted(4, 4, -4, -4);
  QPainterPath path;
  const double notchW = hole.width() * 0.4;
  const double notchH = hole.height() * 0.25;
  path.moveTo(hole.left(), hole.top());
  path.lineTo(hole.right(), hole.top());
  path.lineTo(hole.right(), hole.bottom() - notchH);
  path.lineTo(hole.center().x() + notchW / 2, hole.bottom() - notchH);
  path.lineTo(hole.center().x() + notchW / 2, hole.bottom());
  path.lineTo(hole.center().x() - notchW / 2, hole.bottom());
  path.lineTo(hole.center().x() - notchW / 2, hole.bottom() - notchH);
  path.lineTo(hole.left(), hole.bottom() - notchH);
  path.closeSubpath();
  p.setBrush(QColor(35, 35, 35));
  p.drawPath(path);
  p.setPen(QPen(QColor(200, 170, 60), 1.0));
  for (int i = 0; i < 6; ++i) {
    const double x = hole.left() + 2.5 + i * (hole.width() - 5) / 5.0;
    p.drawLine(QPointF(x, hole.top() + 1), QPointF(x, hole.top() + 4));
  }
}

// The relay: a grey box whose face carries the counters, lamps and gauge (drawn by the window
// on top), with a LAN socket on the left and a WAN socket on the right below the lamps.
QImage DrawRelay(double AScale) {
  QImage image = NewImage(168, 204, AScale);
  QPainter p(&image);
  ScalePainter(p, AScale);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF box(1.5, 1.5, 164.0, 200.0);
  QLinearGradient shell(0, 0, 0, 204);
  shell.setColorAt(0, QColor(236, 237, 240));
  shell.setColorAt(1, QColor(196, 199, 205));
  p.setPen(QPen(QColor(105, 110, 120), 1.5));
  p.setBrush(shell);
  p.drawRoundedRect(box, 10, 10);
  // Inset face plates behind the counters, the lamps and the gauge.
  p.setPen(QPen(QColor(160, 164, 172), 1.0));
  p.setBrush(QColor(248, 248, 250));
  p.drawRoundedRect(QRectF(24.5, 3.5, 117.0, 37.0), 4, 4);
  p.drawRoundedRect(QRectF(32.5, 46.5, 102.0, 58.0), 4, 4);
  p.drawRoundedRect(QRectF(20.5, 124.5, 127.0, 38.0), 4, 4);
  // Sockets beside the lamps; the window prints "8442" below each.
  DrawSocket(p, QRectF(8.5, 72.5, 23.0, 24.0));
  DrawSocket(p, QRectF(136.5, 72.5, 23.0, 24.0));
  // Ventilation slots along the bottom.
  p.setPen(QPen(QColor(150, 154, 162), 2.0, Qt::SolidLine, Qt::RoundCap));
  for (int i = 0; i < 9; ++i) {
    const double x = 36 + i * 12.0;
    p.drawLine(QPointF(x, 176), QPointF(x, 192));
  }
  // Mounting screws in the corners.
  p.setPen(QPen(QColor(120, 124, 130), 1.0));
  p.setBrush(QColor(210, 212, 216));
  for (const QPointF& c :
       {QPointF(10, 10), QPointF(158, 10), QPointF(10, 194), QPointF(158, 194)}) {
    p.drawEllipse(c, 3.0, 3.0);
    p.drawLine(c + QPointF(-2, 0), c + QPointF(2, 0));
  }
  return image;
}

// The program icon: the relay's two rings on a blue tile.
QImage DrawIcon(int ASize) {
  QImage image = NewImage(ASize, ASize);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(ASize / 64.0, ASize / 64.0);
  QLinearGradient tile(0, 0, 0, 64);
  tile.setColorAt(0, QColor(40, 110, 200));
  tile.setColorAt(1, QColor(10, 60, 140));
  p.setPen(Qt::NoPen);
  p.setBrush(tile);
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Qt::white, 6.0));
  p.drawEllipse(QRectF(10, 20, 24, 24));
  p.setPen(QPen(QColor(250, 160, 40), 6.0));
  p.drawEllipse(QRectF(30, 20, 24, 24));
  return image;
}

// The icon while the relay cannot listen (or has ended): the tile greyed, the rings faded,
// and a red mark with a white bar and dot in the lower right corner, so that it stands out in
// the notification area even at 16 pixels.
QImage DrawAlertIcon(int ASize) {
  QImage image = NewImage(ASize, ASize);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(ASize / 64.0, ASize / 64.0);
  QLinearGradient tile(0, 0, 0, 64);
  tile.setColorAt(0, QColor(150, 155, 162));
  tile.setColorAt(1, QColor(95, 100, 108));
  p.setPen(Qt::NoPen);
  p.setBrush(tile);
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(235, 235, 235), 6.0));
  p.drawEllipse(QRectF(10, 20, 24, 24));
  p.setPen(QPen(QColor(205, 205, 205), 6.0));
  p.drawEllipse(QRectF(30, 20, 24, 24));
  // The mark.
  p.setPen(QPen(Qt::white, 3.0));
  p.setBrush(QColor(215, 25, 25));
  p.drawEllipse(QRectF(30, 30, 32, 32));
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawRoundedRect(QRectF(43, 35, 6, 15), 2.5, 2.5);
  p.drawEllipse(QRectF(43, 52, 6, 6));
  return image;
}

void AppendLE(QByteArray& AData, quint32 AValue, int ABytes) {
  for (int i = 0; i < ABytes; ++i) {
    AData.append(static_cast<char>((AValue >> (8 * i)) & 0xFF));
  }
}

// A Windows icon file with one 32-bit image per size, each a bottom-up BGRA bitmap with its
// AND mask, as the resource compiler and LoadImage take them.
bool SaveIco(const QDir& AFolder, const QString& AName, QImage (*ADraw)(int)) {
  const int sizes[] = {64, 48, 32, 16};
  QByteArray header;
  QByteArray images;
  AppendLE(header, 0, 2);
  AppendLE(header, 1, 2);
  AppendLE(header, std::size(sizes), 2);
  const quint32 firstOffset = 6 + 16 * std::size(sizes);
  for (const int size : sizes) {
    const QImage image = ADraw(size).convertToFormat(QImage::Format_ARGB32);
    QByteArray bitmap;
    AppendLE(bitmap, 40, 4);  // BITMAPINFOHEADER
    AppendLE(bitmap, size, 4);
    AppendLE(bitmap, 2 * size, 4);  // colour and mask rows
    AppendLE(bitmap, 1, 2);
    AppendLE(bitmap, 32, 2);
    for (int i = 0; i < 6; ++i) {
      AppendLE(bitmap, 0, 4);
    }
    for (int y = size - 1; y >= 0; --y) {
      const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
      for (int x = 0; x < size; ++x) {
        AppendLE(bitmap, line[x], 4);  // 0xAARRGGBB, little-endian: B G R A
      }
    }
    const int maskStride = ((size + 31) / 32) * 4;
    for (int y = size - 1; y >= 0; --y) {
      QByteArray row(maskStride, '\0');
      const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
      for (int x = 0; x < size; ++x) {
        if (qAlpha(line[x]) == 0) {
          row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
        }
      }
      bitmap.append(row);
    }
    header.append(static_cast<char>(size));
    header.append(static_cast<char>(size));
    AppendLE(header, 0, 2);  // no palette, reserved
    AppendLE(header, 1, 2);
    AppendLE(header, 32, 2);
    AppendLE(header, static_cast<quint32>(bitmap.size()), 4);
    AppendLE(header, firstOffset + static_cast<quint32>(images.size()), 4);
    images.append(bitmap);
  }
  QFile file(AFolder.filePath(AName));
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(header + images) != header.size() + images.size()) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
    return false;
  }
  return true;
}

bool MakeFolder(const QDir& AFolder) {
  if (!AFolder.exists() && !QDir().mkpath(AFolder.path())) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(AFolder.path()));
    return false;
  }
  return true;
}

// The desktop's menus and docks pick the icon by size from the hicolor theme:
// <theme>/<n>x<n>/apps/<application id>.png.
bool SaveThemeIcons(const QDir& ATheme) {
  bool ok = true;
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QDir folder(ATheme.filePath(QStringLiteral("%1x%1/apps").arg(size)));
    ok = MakeFolder(folder) && Save(DrawIcon(size), folder, "com.marlowin.KelvoRelay.png") && ok;
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc == 3 && QByteArray(argv[1]) == "--icons") {
    return SaveThemeIcons(QDir(QString::fromLocal8Bit(argv[2]))) ? 0 : 1;
  }
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr,
                 "usage: %s <output folder> [<Windows resource folder>]\n"
                 "       %s --icons <icon theme folder>\n",
                 argv[0], argv[0]);
    return 2;
  }
  QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!MakeFolder(folder)) {
    return 1;
  }
  bool ok = true;
  for (const int percent : {100, 150, 200}) {
    const double scale = percent / 100.0;
    // "ledred.png" at 1x, "ledred_150.png" at 1.5x, as the window looks them up.
    const auto name = [percent](const char* AName) {
      QString file = QString::fromLatin1(AName);
      if (percent != 100) {
        file.insert(file.lastIndexOf(QLatin1Char('.')), QStringLiteral("_%1").arg(percent));
      }
      return file;
    };
    ok = Save(DrawLed(QColor(220, 30, 30), scale), folder, name("ledred.png")) && ok;
    ok = Save(DrawLed(QColor(40, 190, 40), scale), folder, name("ledgreen.png")) && ok;
    ok = Save(DrawLed(QColor(150, 150, 150), scale), folder, name("ledgray.png")) && ok;
    ok = Save(DrawStrip(scale), folder, name("strip.png")) && ok;
    ok = Save(DrawLogo(scale), folder, name("logo.png")) && ok;
    ok = Save(DrawApplication(scale), folder, name("application.png")) && ok;
    ok = Save(DrawController(scale), folder, name("controller.png")) && ok;
    ok = Save(DrawRelay(scale), folder, name("relay.png")) && ok;
    ok = Save(DrawIcon(qRound(64 * scale)), folder, name("icon.png")) && ok;
    ok = Save(DrawIcon(qRound(96 * scale)), folder, name("about_logo.png")) && ok;
  }
  ok = Save(DrawAlertIcon(64), folder, "icon_alert.png") && ok;
  if (argc == 3) {
    const QDir windows(QString::fromLocal8Bit(argv[2]));
    ok = MakeFolder(windows) && SaveIco(windows, "kelvorelay_alert.ico", DrawAlertIcon) && ok;
  }
  return ok ? 0 : 1;
}
