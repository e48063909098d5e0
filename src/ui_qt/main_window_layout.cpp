#include "ui_qt/main_window_layout.h"

#include <QFontMetrics>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <utility>

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

const TPartSpec& Part(int AId) {
  return *FindMainPart(AId);
}

// The designed part AId, named and placed as the shared design has it.
template <typename TWidget>
TWidget* MakePart(QWidget* AParent, int AId) {
  const TPartSpec& part = Part(AId);
  return MakeChild<TWidget>(AParent, part.Name, part.Design.Left, part.Design.Top,
                            part.Design.Width, part.Design.Height);
}

// A label whose size follows its text, placed by its top-left corner.
QLabel* MakeLabel(QWidget* AParent, int AId, const QString& AText) {
  const TPartSpec& part = Part(AId);
  auto* label = new QLabel(AText, AParent);  // owned by AParent
  label->setObjectName(QString::fromLatin1(part.Name));
  label->move(part.Design.Left, part.Design.Top);
  label->adjustSize();
  return label;
}

QLabel* MakePicture(QWidget* AParent, int AId, const QString& AResource) {
  auto* image = MakePart<QLabel>(AParent, AId);
  image->setPixmap(LoadPicture(AResource));
  return image;
}

// Report view with grid lines, read-only, headers that do not react to clicks, no sorting.
// Tab moves on to the next control instead of walking the cells. Rows can be selected (several
// with Shift and Ctrl) to be copied; a tick's rebuild clears the selection.
QTableView* MakeList(QWidget* AParent, int AId, TStatusList AList, TStatusModel*& AModel) {
  auto* list = MakePart<TStatusListView>(AParent, AId);
  list->setAccessibleName(QString::fromLatin1(StatusListAccessibleName(AList)));
  AModel = new TStatusModel(list);  // owned by the list
  AModel->setObjectName(list->objectName() + QStringLiteral("Rows"));
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

QPushButton* MakeButton(QWidget* AParent, int AId, const QString& AText) {
  auto* button = MakePart<QPushButton>(AParent, AId);
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

  Image1 = MakePicture(AWindow, idImage1, QStringLiteral("strip.png"));
  Image1->setScaledContents(true);
  Shape1 = MakePart<QFrame>(AWindow, idShape1);
  Shape1->setFrameShape(QFrame::NoFrame);
  Shape1->setAutoFillBackground(true);
  Shape1->setStyleSheet(QStringLiteral("background-color: #a0a0a0;"));
  Image3 = MakePicture(AWindow, idImage3, QStringLiteral("logo.png"));

  lblLAN = MakeLabel(AWindow, idlblLAN, QStringLiteral("Applications (LAN)"));
  lblLAN->setFont(WindowFont(19));
  lblLAN->adjustSize();
  imgApplication = MakePicture(AWindow, idimgApplication, QStringLiteral("application.png"));
  lblWAN = MakeLabel(AWindow, idlblWAN, QStringLiteral("Controllers (WAN)"));
  lblWAN->setFont(WindowFont(19));
  lblWAN->adjustSize();
  imgController = MakePicture(AWindow, idimgController, QStringLiteral("controller.png"));

  ListView1 = MakeList(AWindow, idListView1, TStatusList::Applications, ListModel1);
  ListView2 = MakeList(AWindow, idListView2, TStatusList::Controllers, ListModel2);

  Panel1 = MakePart<QWidget>(AWindow, idPanel1);
  Image2 = MakePicture(Panel1, idImage2, QStringLiteral("relay.png"));
  Label1 = MakeLabel(Panel1, idLabel1, QStringLiteral("LAN:"));
  lblReqCount = MakeLabel(Panel1, idlblReqCount, QStringLiteral("-"));
  Label2 = MakeLabel(Panel1, idLabel2, QStringLiteral("WAN:"));
  lblAckCount = MakeLabel(Panel1, idlblAckCount, QStringLiteral("-"));
  // The counters end where a "-" at the designed left ends.
  fCountRight = Part(idlblReqCount).Design.Left +
                lblReqCount->fontMetrics().horizontalAdvance(QStringLiteral("-")) + 1;
  lblReqCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lblAckCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  ShowReqCount(QStringLiteral("-"));
  ShowAckCount(QStringLiteral("-"));

  imgLANRx = MakePart<QLabel>(Panel1, idimgLANRx);
  Label6 = MakeLabel(Panel1, idLabel6, QStringLiteral("Rx"));
  imgWANRx = MakePart<QLabel>(Panel1, idimgWANRx);
  Label5 = MakeLabel(Panel1, idLabel5, QStringLiteral("Rx"));
  imgLANTx = MakePart<QLabel>(Panel1, idimgLANTx);
  Label7 = MakeLabel(Panel1, idLabel7, QStringLiteral("Tx"));
  imgWANTx = MakePart<QLabel>(Panel1, idimgWANTx);
  Label8 = MakeLabel(Panel1, idLabel8, QStringLiteral("Tx"));

  Label4 = MakeLabel(Panel1, idLabel4, QStringLiteral("8442"));
  Label3 = MakeLabel(Panel1, idLabel3, QStringLiteral("8442"));
  for (const auto& [port, id] : {std::pair{Label4, idLabel4}, std::pair{Label3, idLabel3}}) {
    port->resize(Part(id).Design.Width, port->height());
    port->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  }

  Gauge1 = MakePart<QProgressBar>(Panel1, idGauge1);
  Gauge1->setRange(0, 20);
  Gauge1->setValue(0);
  Gauge1->setTextVisible(false);
  Gauge1->setAccessibleName(QString::fromLatin1(
      kGaugeAccessibleName.data(), static_cast<qsizetype>(kGaugeAccessibleName.size())));
  Gauge1->setStyleSheet(QStringLiteral("QProgressBar { background-color: %1; border: 1px solid "
                                       "#7f7f7f; } QProgressBar::chunk { background-color: %2; }")
                            .arg(ColorName(kGaugeBackColor), ColorName(kGaugeBarColor)));
  lblMsgCount = MakePart<QLabel>(Panel1, idlblMsgCount);
  lblMsgCount->setAlignment(Qt::AlignCenter);
  lblMsgCount->setText(QStringLiteral("-"));
  // The label lies over both the bar and the empty gauge, so its text must read on either.
  QPalette ratePalette = lblMsgCount->palette();
  ratePalette.setColor(QPalette::WindowText,
                       ToQColor(ReadableTextColor({kGaugeBackColor, kGaugeBarColor})));
  lblMsgCount->setPalette(ratePalette);
  lblMsgCount->raise();  // drawn over the gauge
  Label9 = MakeLabel(Panel1, idLabel9, QStringLiteral("0"));
  Label10 = MakeLabel(Panel1, idLabel10, QStringLiteral("10"));
  Label11 = MakeLabel(Panel1, idLabel11, QStringLiteral("20"));
  for (QLabel* scale : {Label9, Label10, Label11}) {
    scale->setFont(WindowFont(8));
    scale->adjustSize();
  }

  lblLocalIP = MakePart<QLabel>(AWindow, idlblLocalIP);
  lblLocalIP->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  // Both labels are read by their text; the description says what the text is.
  lblLocalIP->setAccessibleDescription(QString::fromLatin1(
      kLocalIPAccessibleName.data(), static_cast<qsizetype>(kLocalIPAccessibleName.size())));
  lblError = MakePart<QLabel>(AWindow, idlblError);
  lblError->setText(QStringLiteral("Error opening port 8442!"));
  lblError->setFont(WindowFont(11, true));
  lblError->setStyleSheet(QStringLiteral("color: red;"));
  lblError->setWordWrap(true);
  lblError->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  lblError->setAccessibleDescription(QString::fromLatin1(
      kPortErrorAccessibleName.data(), static_cast<qsizetype>(kPortErrorAccessibleName.size())));
  lblError->hide();

  Button1 = MakeButton(AWindow, idButton1, QStringLiteral("Setup"));
  Button4 = MakeButton(AWindow, idButton4, QStringLiteral("Help"));
  Button2 = MakeButton(AWindow, idButton2, QStringLiteral("About"));
  Button3 = MakeButton(AWindow, idButton3, QStringLiteral("Close"));

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
