#include "ui_win32/attached_window.h"

#include <windows.h>

#include <commctrl.h>

#include <utility>

#include "ui_win32/lamp_panel.h"
#include "ui_win32/main_window.h"
#include "ui_win32/options_dialog.h"
#include "ui_win32/picture.h"
#include "ui_win32/status_lists.h"
#include "ui_win32/tray_icon.h"
#include "ui_win32/win32_controls.h"
#include "ui_win32/win32_text.h"

namespace kelvo {

TAttachedWindow::TAttachedWindow(TfmMain& AWindow, TRelayAsk AAsk)
    : fWindow(AWindow), fModel(std::move(AAsk)) {}

void TAttachedWindow::timPollTimer() {
  const TAttachedView::TPollResult result = fModel.Poll();
  if (result.Polled) {
    Show(result.RowsChanged);
  }
}

void TAttachedWindow::Show(bool ARowsChanged) {
  const TAttachedDisplay& shown = fModel.Display();
  if (ARowsChanged) {
    fWindow.fStatus->FillLists(shown.Rows);
  }
  SendMessageW(fWindow.Child(idGauge1), PBM_SETPOS, static_cast<WPARAM>(shown.Gauge), 0);
  SetWindowTextUtf8(fWindow.Child(idlblMsgCount), shown.MsgCount);
  InvalidateRect(fWindow.Child(idGauge1), nullptr, FALSE);  // it draws the label
  fWindow.ShowCount(idlblReqCount, shown.ReqCount);
  fWindow.ShowCount(idlblAckCount, shown.AckCount);
  SetWindowTextUtf8(fWindow.Child(idlblLocalIP), shown.LocalIP);
  // Setup is offered or withdrawn before the error appears or goes, so whoever sees the error
  // line sees the matching button.
  EnableWindow(fWindow.Child(idButton1), shown.SetupEnabled ? TRUE : FALSE);
  HWND error = fWindow.Child(idlblError);
  SetWindowTextUtf8(error, shown.ErrorText);
  fWindow.ShowPortErrorReason(shown.ErrorHint);
  fWindow.ShowPortError(shown.ErrorVisible);
  // Lit from one look to the next: the model has already decided, no lamp timer is needed.
  if (TLampPanel* lamps = fWindow.Lamps()) {
    const int ids[] = {idimgLANRx, idimgWANRx, idimgLANTx, idimgWANTx};
    for (std::size_t i = 0; i < shown.Lamps.size(); ++i) {
      SetPicture(fWindow.Child(ids[i]), &lamps->Picture(shown.Lamps[i]));
    }
  }
  fWindow.Tray().SetToolTip(shown.ToolTip);
  fWindow.Tray().SetAlert(shown.Alert);
}

void TAttachedWindow::RunSetup(TfmOptions& AOptions) {
  fModel.RunSetup(AOptions,
                  [this, &AOptions] { return AOptions.ShowModal(fWindow.Handle()) == IDOK; });
  Show(false);
}

// The attached window's part of the start-up (TMainPresenter::FormCreateAttached): no relay,
// tables, endpoint or ageing of its own; the status tick polls.
void TfmMain::StartAttached(TRelayAsk AAsk) {
  fStatus = std::make_unique<TStatusLists>(Child(idListView1), Child(idListView2), Child(idGauge1),
                                           Child(idlblMsgCount));
  CreateLamps();
  fAttached = std::make_unique<TAttachedWindow>(*this, std::move(AAsk));
  fAttached->timPollTimer();
  SetTimer(fHandle, kSystemTimerId, static_cast<UINT>(kAttachedPollPeriod.count()), nullptr);
}

}  // namespace kelvo
