// The main window's widgets at their designed places (pixels at 96 dpi, client area 872 x 456),
// placed by the shared design and resize rule (present/main_window_design.h) when the window is
// resized.
// GUI thread only.
#pragma once

#include <QSize>
#include <QString>
#include <array>

#include "present/main_window_design.h"

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;
class QWidget;

namespace kelvo {

class TStatusModel;

inline constexpr int kDesignClientWidth = kMainClientWidth;
inline constexpr int kDesignClientHeight = kMainClientHeight;

// Every widget is a child of the window (Qt parent-child ownership) named like its field.
struct TMainWindowUi {
  QLabel* Image1 = nullptr;  // white strip along the top
  QFrame* Shape1 = nullptr;  // grey line under the strip
  QLabel* Image3 = nullptr;  // logo
  QLabel* lblLAN = nullptr;
  QLabel* imgApplication = nullptr;
  QLabel* lblWAN = nullptr;
  QLabel* imgController = nullptr;
  QTableView* ListView1 = nullptr;     // applications
  QTableView* ListView2 = nullptr;     // static and announced controllers
  TStatusModel* ListModel1 = nullptr;  // the rows ListView1 shows (owned by the list)
  TStatusModel* ListModel2 = nullptr;
  QWidget* Panel1 = nullptr;  // the relay drawing with lamps, counters and gauge
  QLabel* Image2 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* lblReqCount = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* lblAckCount = nullptr;
  QLabel* imgLANRx = nullptr;
  QLabel* imgWANRx = nullptr;
  QLabel* imgLANTx = nullptr;
  QLabel* imgWANTx = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label6 = nullptr;
  QLabel* Label7 = nullptr;
  QLabel* Label8 = nullptr;
  QProgressBar* Gauge1 = nullptr;
  QLabel* lblMsgCount = nullptr;
  QLabel* Label9 = nullptr;
  QLabel* Label10 = nullptr;
  QLabel* Label11 = nullptr;
  QLabel* lblLocalIP = nullptr;
  QLabel* lblError = nullptr;
  QPushButton* Button1 = nullptr;  // Setup
  QPushButton* Button4 = nullptr;  // Help
  QPushButton* Button2 = nullptr;  // About
  QPushButton* Button3 = nullptr;  // Close

  // Creates every widget inside AWindow at its designed place.
  void Setup(QWidget* AWindow);
  // The lamps in TLamp order: LANRx, WANRx, LANTx, WANTx.
  std::array<QLabel*, 4> Lamps() const { return {imgLANRx, imgWANRx, imgLANTx, imgWANTx}; }
  // The counters keep their right edge as the number grows.
  void ShowReqCount(const QString& AText);
  void ShowAckCount(const QString& AText);
  // FormResize: the bottom-right buttons and top-right pictures follow the corner, then the
  // lists share the width left and right of the relay panel, which the address and the error
  // line follow.
  void FormResize(QSize AClientSize);

 private:
  int fCountRight = 0;  // right edge of both counters inside Panel1
  // The window's own children in the order of MainWindowParts() (Panel1's come after them).
  std::array<QWidget*, idButton3 - idImage1 + 1> fParts{};
};

}  // namespace kelvo
