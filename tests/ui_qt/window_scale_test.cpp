// The main window as drawn at the scale factor the test runs under (QT_SCALE_FACTOR 1, 1.25,
// 1.5, 1.75 or 2, one ctest each): what lands on the window's pixels is held against the 96-dpi
// design scaled, to within one pixel per scale step. Lit lamps are found by their colour, the
// lists' frame lines must be whole on all four sides, the pictures must be drawn at the
// screen's own resolution, and About's title must not lose its descenders.
// KELVO_SCALE_TEST_SAVE=<file.png> keeps the last grabbed picture of the window for a look.
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QTableView>
#include <QTest>
#include <cmath>
#include <memory>

#include "present/main_window_design.h"
#include "ui_qt/about_window.h"
#include "ui_qt/kelvo_application.h"
#include "ui_qt/lamp_panel.h"
#include "ui_qt/main_window.h"
#include "ui_qt/tray_icon.h"
#include "window_test_support.h"

using namespace kelvo;

namespace {

struct TBox {
  int Left = 0, Top = 0, Right = -1, Bottom = -1;  // inclusive; empty while Right < Left
  bool Empty() const { return Right < Left; }
};

// The box around every pixel of AArea that APixel accepts.
template <typename TAccept>
TBox FindPixels(const QImage& AImage, const QRect& AArea, TAccept APixel) {
  TBox box{AArea.right() + 1, AArea.bottom() + 1, -1, -1};
  const QRect area = AArea & AImage.rect();
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (APixel(AImage.pixelColor(x, y))) {
        box.Left = std::min(box.Left, x);
        box.Top = std::min(box.Top, y);
        box.Right = std::max(box.Right, x);
        box.Bottom = std::max(box.Bottom, y);
      }
    }
  }
  return box;
}

bool IsLampRed(const QColor& AColor) {
  return AColor.red() > 120 && AColor.green() < 90 && AColor.blue() < 90;
}

bool IsLampGreen(const QColor& AColor) {
  return AColor.green() > 110 && AColor.red() < 110 && AColor.blue() < 110;
}

bool IsFrameLine(const QColor& AColor) {
  return qGray(AColor.rgb()) < 0xD8;
}

// The share of pixels along a column (or row) that are frame line.
double LineShare(const QImage& AImage, bool AColumn, int AAt, int AFrom, int ATo) {
  int hits = 0;
  for (int i = AFrom; i <= ATo; ++i) {
    const QPoint p = AColumn ? QPoint(AAt, i) : QPoint(i, AAt);
    if (AImage.rect().contains(p) && IsFrameLine(AImage.pixelColor(p))) {
      ++hits;
    }
  }
  return ATo >= AFrom ? double(hits) / (ATo - AFrom + 1) : 0.0;
}

// The column (or row) nearest AExpected, within ASlack, that is frame line along nine tenths of
// AFrom..ATo; -1 when there is none.
int FindLine(const QImage& AImage, bool AColumn, int AExpected, int ASlack, int AFrom, int ATo) {
  for (int offset = 0; offset <= ASlack; ++offset) {
    for (int at : {AExpected - offset, AExpected + offset}) {
      if (LineShare(AImage, AColumn, at, AFrom, ATo) >= 0.9) {
        return at;
      }
    }
  }
  return -1;
}

}  // namespace

class TWindowScaleTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    TTrayIcon::OverrideAvailable(true);
    fRig =
        std::make_unique<test::TWindowRig>("\"Top\"=dword:00000028\r\n\"Left\"=dword:00000032\r\n");
    fRig->fWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(fRig->fWindow.get()));
    fScale = fRig->fWindow->devicePixelRatioF();
  }
  void cleanup() {
    fRig.reset();
    TTrayIcon::OverrideAvailable(std::nullopt);
  }

  void scaleIsTheOneAskedFor() {
    const double asked = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble();
    QCOMPARE(fScale, asked);
    // The window keeps its designed size in its own (designed) pixels.
    QCOMPARE(fRig->fWindow->size(), QSize(872, 456));
  }

  void litLampsWhereTheDesignPutsThem() {
    TfmMain& window = *fRig->fWindow;
    window.SetLed(TLamp::LANRx, TLedColor::Red);
    window.SetLed(TLamp::WANRx, TLedColor::Red);
    window.SetLed(TLamp::LANTx, TLedColor::Green);
    window.SetLed(TLamp::WANTx, TLedColor::Green);
    const QImage image = Grab();
    struct TLampPlace {
      const char* Name;
      int Id;
      bool Red;
    };
    const TLampPlace lamps[] = {
        {"imgLANRx", idimgLANRx, true},
        {"imgWANRx", idimgWANRx, true},
        {"imgLANTx", idimgLANTx, false},
        {"imgWANTx", idimgWANTx, false},
    };
    // At the designed size Panel1 stands at its designed place.
    const TBounds& panel = FindMainPart(idPanel1)->Design;
    for (const TLampPlace& lamp : lamps) {
      // In the window, at 96 dpi: Panel1's place plus the lamp's.
      const TBounds& design = FindMainPart(lamp.Id)->Design;
      const QRect expected = Scaled(
          QRect(panel.Left + design.Left, panel.Top + design.Top, design.Width, design.Height));
      const int slack = int(std::ceil(fScale));
      const TBox box =
          FindPixels(image, expected.adjusted(-4 * slack, -4 * slack, 4 * slack, 4 * slack),
                     lamp.Red ? IsLampRed : IsLampGreen);
      QVERIFY2(!box.Empty(), lamp.Name);
      // The lamp's body lies inside its scaled place, and fills most of it: a 1x picture
      // blown up would be as big, but the test below checks its sharpness.
      QVERIFY2(box.Left >= expected.left() - slack && box.Right <= expected.right() + slack &&
                   box.Top >= expected.top() - slack && box.Bottom <= expected.bottom() + slack,
               qPrintable(QStringLiteral("%1: lamp at %2,%3-%4,%5, place %6,%7 %8x%9")
                              .arg(QLatin1String(lamp.Name))
                              .arg(box.Left)
                              .arg(box.Top)
                              .arg(box.Right)
                              .arg(box.Bottom)
                              .arg(expected.x())
                              .arg(expected.y())
                              .arg(expected.width())
                              .arg(expected.height())));
      QVERIFY2(box.Right - box.Left + 1 >= int(10 * fScale), lamp.Name);
    }
  }

  // The pictures are the drawings for this scale, not the 1x ones stretched.
  void picturesDrawnForTheScreen() {
    const TMainWindowUi& ui = fRig->fWindow->Ui();
    const int expectedPercent = fScale <= 1.0 ? 100 : (fScale <= 1.5 ? 150 : 200);
    for (const QLabel* picture :
         {ui.Image3, ui.imgApplication, ui.imgController, ui.Image2, ui.imgLANRx}) {
      const QPixmap pixmap = picture->pixmap();
      QCOMPARE(qRound(pixmap.devicePixelRatio() * 100), expectedPercent);
      QVERIFY2(std::abs(pixmap.width() - picture->width() * pixmap.devicePixelRatio()) <= 1.0,
               qPrintable(picture->objectName()));
    }
  }

  // All four frame lines of both lists are drawn, each where the design scaled puts it.
  void listFrameLinesWhole() {
    const QImage image = Grab();
    const TMainWindowUi& ui = fRig->fWindow->Ui();
    const int slack = int(std::ceil(fScale));
    for (const QTableView* list : {ui.ListView1, ui.ListView2}) {
      const QRect expected =
          Scaled(QRect(list->mapTo(fRig->fWindow.get(), QPoint(0, 0)), list->size()));
      const int inset = 4 * slack;
      struct TEdge {
        const char* Name;
        bool Column;
        int At;
        int From, To;
      };
      const TEdge edges[] = {
          {"left", true, expected.left(), expected.top() + inset, expected.bottom() - inset},
          {"right", true, expected.right(), expected.top() + inset, expected.bottom() - inset},
          {"top", false, expected.top(), expected.left() + inset, expected.right() - inset},
          {"bottom", false, expected.bottom(), expected.left() + inset, expected.right() - inset},
      };
      for (const TEdge& edge : edges) {
        const int found = FindLine(image, edge.Column, edge.At, slack, edge.From, edge.To);
        QVERIFY2(found >= 0,
                 qPrintable(QStringLiteral("%1: %2 frame line missing near %3 at scale %4")
                                .arg(list->objectName(), QLatin1String(edge.Name))
                                .arg(edge.At)
                                .arg(fScale)));
      }
    }
  }

  void aboutTitleKeepsItsDescenders() {
    TfmAbout about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    const QFontMetrics metrics(about.lblProgramName->font());
    QVERIFY(about.lblProgramName->height() >= metrics.height());
    // The "y" reaches below the baseline; its lowest dark pixel lies inside the label.
    const QImage image = about.lblProgramName->grab().toImage();
    const TBox ink = FindPixels(image, image.rect(),
                                [](const QColor& AColor) { return qGray(AColor.rgb()) < 0x80; });
    QVERIFY(!ink.Empty());
    QVERIFY2(ink.Bottom < image.height() - 1,
             qPrintable(QStringLiteral("ink to row %1 of %2").arg(ink.Bottom).arg(image.height())));
    // The descender of the "y" is drawn: ink below the baseline.
    QVERIFY2(ink.Bottom >= int(metrics.ascent() * fScale),
             qPrintable(QStringLiteral("ink to row %1, baseline at %2")
                            .arg(ink.Bottom)
                            .arg(metrics.ascent() * fScale)));
    // "version 1.0.2": a gap between the word and the number, whatever the face.
    const QRect word = about.Label3->geometry();
    const QRect number = about.lblVersionNum->geometry();
    const int numberTextLeft =
        number.x() + number.width() -
        about.lblVersionNum->fontMetrics().horizontalAdvance(about.lblVersionNum->text());
    QVERIFY(word.x() + word.width() + 5 <= numberTextLeft);
    QCOMPARE(number.x() + number.width(), 332);
  }

 private:
  QImage Grab() {
    QCoreApplication::processEvents();
    fRig->fWindow->repaint();
    // Drawn the way the window draws itself onto the screen: into device pixels at the
    // window's ratio, children clipped to their places.
    QImage image = fRig->fWindow->grab().toImage();
    if (qEnvironmentVariableIsSet("KELVO_SCALE_TEST_SAVE")) {
      image.save(qEnvironmentVariable("KELVO_SCALE_TEST_SAVE"));
    }
    return image;
  }
  QRect Scaled(const QRect& ADesign) const {
    return QRect(QPoint(qRound(ADesign.left() * fScale), qRound(ADesign.top() * fScale)),
                 QPoint(qRound((ADesign.right() + 1) * fScale) - 1,
                        qRound((ADesign.bottom() + 1) * fScale) - 1));
  }

  std::unique_ptr<test::TWindowRig> fRig;
  double fScale = 1.0;
};

int main(int argc, char** argv) {
  TKelvoApplication app(argc, argv);
  TWindowScaleTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "window_scale_test.moc"
