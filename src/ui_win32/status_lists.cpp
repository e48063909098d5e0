#include "ui_win32/status_lists.h"

#include <algorithm>
#include <cwchar>
#include <utility>

#include "ui_win32/report_list.h"
#include "ui_win32/win32_controls.h"
#include "ui_win32/win32_text.h"

namespace kelvo {

namespace {

void SetRowCount(HWND AList, int ACount) {
  TRedrawSuspended suspended(AList);
  // Emptied first, so that neither the selection nor the focus carries over to the new rows.
  SendMessageW(AList, LVM_SETITEMCOUNT, 0, 0);
  SendMessageW(AList, LVM_SETITEMCOUNT, static_cast<WPARAM>(ACount), LVSICF_NOINVALIDATEALL);
}

}  // namespace

TStatusLists::TStatusLists(HWND AListView1, HWND AListView2, HWND AGauge1, HWND AlblMsgCount)
    : fListView1(AListView1),
      fListView2(AListView2),
      fGauge1(AGauge1),
      flblMsgCount(AlblMsgCount) {}

void TStatusLists::Tick(std::int32_t AMsgCount, std::shared_ptr<const TTablesSnapshot> ASnapshot) {
  ShowRate(AMsgCount);
  FillLists(ASnapshot);
}

void TStatusLists::ShowRate(std::int32_t AMsgCount) {
  SendMessageW(fGauge1, PBM_SETPOS, static_cast<WPARAM>(GaugePosition(AMsgCount)), 0);
  SetWindowTextUtf8(flblMsgCount, MsgRateText(AMsgCount));
  // The label is drawn by the gauge, over its bar.
  InvalidateRect(fGauge1, nullptr, FALSE);
}

void TStatusLists::FillLists(const std::shared_ptr<const TTablesSnapshot>& ASnapshot) {
  fApplications = TStatusRows(ASnapshot, TStatusList::Applications);
  fControllers = TStatusRows(ASnapshot, TStatusList::Controllers);
  SetRowCount(fListView1, fApplications.RowCount());
  SetRowCount(fListView2, fControllers.RowCount());
}

bool TStatusLists::GetDispInfo(NMLVDISPINFOW& AInfo) const {
  const TStatusRows* rows = nullptr;
  if (AInfo.hdr.hwndFrom == fListView1) {
    rows = &fApplications;
  } else if (AInfo.hdr.hwndFrom == fListView2) {
    rows = &fControllers;
  } else {
    return false;
  }
  if ((AInfo.item.mask & LVIF_TEXT) != 0 && AInfo.item.pszText != nullptr &&
      AInfo.item.cchTextMax > 0) {
    const std::wstring text =
        Widen(rows->CellText(AInfo.item.iItem, static_cast<TStatusColumn>(AInfo.item.iSubItem)));
    const std::size_t room = static_cast<std::size_t>(AInfo.item.cchTextMax) - 1;
    const std::size_t length = std::min(text.size(), room);
    std::wmemcpy(AInfo.item.pszText, text.data(), length);
    AInfo.item.pszText[length] = L'\0';
  }
  return true;
}

}  // namespace kelvo
