#include "ui_qt/main_window_layout.h"

#include <QFontMetrics>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>

#include "present/accessible_texts.h"
#include "present/gauge_look.h"
#include "present/main_window_design.h"
#include "present/status_rows.h"
#include "ui_qt/form_helpers.h"
#include "ui_qt/gui_pictures.h"
#include "ui_qt/status_list_view.h"
#include "ui_qt/status_model.h"

namespace kelvo {

namespace {

constexpr int kListLeft = 8;
constexpr int kListTop = 88;
constexpr int kPanelWidth = 176;

// The window's design font is Tahoma; where it is missing a plain sans of similar width stands
// in, so the designed pixel places still fit their texts.
QFont WindowFont(int APixelSize, bool ABold = false) {
  QFont font = DesignFont(QStringLiteral("Tahoma"), APixelSize, ABold);
  font.setFamilies(
      {QStringLiteral("Tahoma"), QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  return font;
}

QColor ToQColor(TRgb AColor) {
  return QColor(AColor.R, AColor.G, AColor.B);
}

QString ColorName(TRgb AColor) {
  return ToQColor(AColor).name();
}

// A label whose size follows its text, placed by its top-left corner.
QLabel* MakeLabel(QWidget* AParent, const char* AName, int ALeft, int ATop, const QString& AText) {
  auto* label = new QLabel(AText, AParent);  // owned by AParent
  label->setObjectName(QString::fromLatin1(AName));
  label->move(ALeft, ATop);
  label->adjustSize();
  return label;
}

QLabel* MakePicture(QWidget* AParent, const char* AName, int ALeft, int ATop, int AWidth,
                    int AHeight, const QString& AResource) {
  auto* image = MakeChild<QLabel>(AParent, AName, ALeft, ATop, AWidth, AHeight);
  image->setPixmap(LoadPicture(AResource));
  return image;
}

// Report view with grid lines, read-only, headers that do not react to clicks, no sorting.
// Tab moves on to the next control instead of walking the cells. Rows can be selected (several
// with Shift and Ctrl) to be copied; a tick's rebuild clears the selection.
QTableView* MakeList(QWidget* AParent, const char* AName, int ALeft, int ATop, int AWidth,
                     int AHeight, TStatusList AList, TStatusModel*& AModel) {
  auto* list = MakeChild<TStatusListView>(AParent, AName, ALeft, ATop, AWidth, AHeight);
  list->setAccessibleName(QString::fromLatin1(StatusListAccessibleName(AList)));
  AModel = new TStatusModel(list);  // owned by the list
  AModel->setObjectName(QString::fromLatin1(AName) + QStringLiteral("Rows"));
  list->setModel(AModel);
  for (int column = 0; column < kStatusColumnCount; ++column) {
    list->setColumnWidth(column, kStatusColumns[static_cast<std::size_t>(column)].Width);
  }
  list->verticalHeader()->setVisible(false);
  list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list->verticalHeader()->setDefaultSectionSize(17);
  list->horizontalHeader()->setSectionsClickable(false);
  list->horizontalHeader()->setHighlightSections(false);
  list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  list->horizontalHeader()->setMinimumSectionSize(10);
  list->horizontalHeader()->setStretchLastSection(false);
  list->setShowGrid(true);
  list->setSortingEnabled(false);
  list->setWordWrap(false);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setTabKeyNavigation(false);
  return list;
}

QPushButton* MakeButton(QWidget* AParent, const char* AName, int ALeft, const QString& AText) {
  auto* button = MakeChild<QPushButton>(AParent, AName, ALeft, 423, 75, 25);
  button->setText(AText);
  button->setAutoDefault(false);
  return button;
}

void SetRightEdge(QLabel* ALabel, int ARight, const QString& AText) {
  ALabel->setText(AText);
  const int width = ALabel->fontMetrics().horizontalAdvance(AText) + 1;
  ALabel->setGeometry(ARight - width, ALabel->y(), width, ALabel->height());
}

}  // namespace

void TMainWindowUi::Setup(QWidget* AWindow) {
  AWindow->setFont(WindowFont(11));

  Image1 =
      MakePicture(AWindow, "Image1", 0, 0, kDesignClientWidth, 27, QStringLiteral("strip.png"));
  Image1->setScaledContents(true);
  Shape1 = MakeChild<QFrame>(AWindow, "Shape1", 0, 27, kDesignClientWidth, 1);
  Shape1->setFrameShape(QFrame::NoFrame);
  Shape1->setAutoFillBackground(true);
  Shape1->setStyleSheet(QStringLiteral("background-color: #a0a0a0;"));
  Image3 = MakePicture(AWindow, "Image3", 757, 2, 111, 26, QStringLiteral("logo.png"));

  lblLAN = MakeLabel(AWindow, "lblLAN", 8, 45, QStringLiteral("Applications (LAN)"));
  lblLAN->setFont(WindowFont(19));
  lblLAN->adjustSize();
  imgApplication =
      MakePicture(AWindow, "imgApplication", 284, 34, 64, 48, QStringLiteral("application.png"));
  lblWAN = MakeLabel(AWindow, "lblWAN", 525, 45, QStringLiteral("Controllers (WAN)"));
  lblWAN->setFont(WindowFont(19));
  lblWAN->adjustSize();
  imgController =
      MakePicture(AWindow, "imgController", 801, 33, 64, 48, QStringLiteral("controller.png"));

  ListView1 = MakeList(AWindow, "ListView1", kListLeft, kListTop, 340, 313,
                       TStatusList::Applications, ListModel1);
  ListView2 =
      MakeList(AWindow, "ListView2", 525, 87, 340, 314, TStatusList::Controllers, ListModel2);

  Panel1 = MakeChild<QWidget>(AWindow, "Panel1", 348, 141, kPanelWidth, 207);
  Image2 = MakePicture(Panel1, "Image2", 4, 0, 168, 204, QStringLiteral("relay.png"));
  Label1 = MakeLabel(Panel1, "Label1", 51, 8, QStringLiteral("LAN:"));
  lblReqCount = MakeLabel(Panel1, "lblReqCount", 116, 8, QStringLiteral("-"));
  Label2 = MakeLabel(Panel1, "Label2", 46, 24, QStringLiteral("WAN:"));
  lblAckCount = MakeLabel(Panel1, "lblAckCount", 116, 24, QStringLiteral("-"));
  fCountRight = 116 + lblReqCount->fontMetrics().horizontalAdvance(QStringLiteral("-")) + 1;
  lblReqCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lblAckCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  ShowReqCount(QStringLiteral("-"));
  ShowAckCount(QStringLiteral("-"));

  imgLANRx = MakeChild<QLabel>(Panel1, "imgLANRx", 40, 52, 16, 16);
  Label6 = MakeLabel(Panel1, "Label6", 59, 54, QStringLiteral("Rx"));
  imgWANRx = MakeChild<QLabel>(Panel1, "imgWANRx", 120, 52, 16, 16);
  Label5 = MakeLabel(Panel1, "Label5", 106, 54, QStringLiteral("Rx"));
  imgLANTx = MakeChild<QLabel>(Panel1, "imgLANTx", 40, 84, 16, 16);
  Label7 = MakeLabel(Panel1, "Label7", 59, 87, QStringLiteral("Tx"));
  imgWANTx = MakeChild<QLabel>(Panel1, "imgWANTx", 120, 84, 16, 16);
  Label8 = MakeLabel(Panel1, "Label8", 106, 87, QStringLiteral("Tx"));

  Label4 = MakeLabel(Panel1, "Label4", 19, 102, QStringLiteral("8442"));
  Label3 = MakeLabel(Panel1, "Label3", 128, 102, QStringLiteral("8442"));
  for (QLabel* port : {Label4, Label3}) {
    port->resize(28, port->height());
    port->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  }

  Gauge1 = MakeChild<QProgressBar>(Panel1, "Gauge1", 32, 130, 113, 17);
  Gauge1->setRange(0, 20);
  Gauge1->setValue(0);
  Gauge1->setTextVisible(false);
  Gauge1->setAccessibleName(QString::fromLatin1(
      kGaugeAccessibleName.data(), static_cast<qsizetype>(kGaugeAccessibleName.size())));
  Gauge1->setStyleSheet(QStringLiteral("QProgressBar { background-color: %1; border: 1px solid "
                                       "#7f7f7f; } QProgressBar::chunk { background-color: %2; }")
                            .arg(ColorName(kGaugeBackColor), ColorName(kGaugeBarColor)));
  lblMsgCount = MakeChild<QLabel>(Panel1, "lblMsgCount", 32, 132, 112, 14);
  lblMsgCount->setAlignment(Qt::AlignCenter);
  lblMsgCount->setText(QStringLiteral("-"));
  // The label lies over both the bar and the empty gauge, so its text must read on either.
  QPalette ratePalette = lblMsgCount->palette();
  ratePalette.setColor(QPalette::WindowText,
                       ToQColor(ReadableTextColor({kGaugeBackColor, kGaugeBarColor})));
  lblMsgCount->setPalette(ratePalette);
  lblMsgCount->raise();  // drawn over the gauge
  Label9 = MakeLabel(Panel1, "Label9", 32, 148, QStringLiteral("0"));
  Label10 = MakeLabel(Panel1, "Label10", 84, 148, QStringLiteral("10"));
  Label11 = MakeLabel(Panel1, "Label11", 138, 148, QStringLiteral("20"));
  for (QLabel* scale : {Label9, Label10, Label11}) {
    scale->setFont(WindowFont(8));
    scale->adjustSize();
  }

  lblLocalIP = MakeChild<QLabel>(AWindow, "lblLocalIP", 376, 351, 124, 14);
  lblLocalIP->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  // Both labels are read by their text; the description says what the text is.
  lblLocalIP->setAccessibleDescription(QString::fromLatin1(
      kLocalIPAccessibleName.data(), static_cast<qsizetype>(kLocalIPAccessibleName.size())));
  lblError = MakeChild<QLabel>(AWindow, "lblError", 367, 371, 137, 13);
  lblError->setText(QStringLiteral("Error opening port 8442!"));
  lblError->setFont(WindowFont(11, true));
  lblError->setStyleSheet(QStringLiteral("color: red;"));
  lblError->setWordWrap(true);
  lblError->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  lblError->setAccessibleDescription(QString::fromLatin1(
      kPortErrorAccessibleName.data(), static_cast<qsizetype>(kPortErrorAccessibleName.size())));
  lblError->hide();

  Button1 = MakeButton(AWindow, "Button1", 546, QStringLiteral("Setup"));
  Button4 = MakeButton(AWindow, "Button4", 626, QStringLiteral("Help"));
  Button2 = MakeButton(AWindow, "Button2", 707, QStringLiteral("About"));
  Button3 = MakeButton(AWindow, "Button3", 788, QStringLiteral("Close"));

  fParts = {Image1,        Shape1,    Image3,    lblLAN, imgApplication, lblWAN,
            imgController, ListView1, ListView2, Panel1, lblLocalIP,     lblError,
            Button1,       Button4,   Button2,   Button3};
}

void TMainWindowUi::ShowReqCount(const QString& AText) {
  SetRightEdge(lblReqCount, fCountRight, AText);
}

void TMainWindowUi::ShowAckCount(const QString& AText) {
  SetRightEdge(lblAckCount, fCountRight, AText);
}

void TMainWindowUi::FormResize(QSize AClientSize) {
  // The shared rule at 96 dpi: Qt's coordinates are the design's pixels at every scale.
  const std::vector<TBounds> places =
      MainWindowLayout(AClientSize.width(), AClientSize.height(), 96);
  const std::span<const TPartSpec> parts = MainWindowParts();
  for (std::size_t i = 0; i < fParts.size(); ++i) {
    const TPartSpec& part = parts[i];
    const TBounds& place = places[i];
    if (part.Design.Width == 0 || part.Design.Height == 0) {
      fParts[i]->move(place.Left, place.Top);  // a label sized by its text
    } else {
      fParts[i]->setGeometry(place.Left, place.Top, place.Width, place.Height);
    }
  }
  for (QTableView* list : {ListView1, ListView2}) {
    const auto widths = StatusColumnWidths(list->width() - 2 * list->frameWidth(), 96);
    for (int column = 0; column < kStatusColumnCount; ++column) {
      list->setColumnWidth(column, widths[static_cast<std::size_t>(column)]);
    }
  }
}

}  // namespace kelvo
