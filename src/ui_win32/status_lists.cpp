#include "ui_win32/status_lists.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <utility>

#include "present/accessible_texts.h"
#include "present/list_copy.h"
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
    : fListView1(AListView1), fListView2(AListView2), fGauge1(AGauge1), flblMsgCount(AlblMsgCount) {
  SetWindowTextUtf8(fListView1, StatusListAccessibleName(TStatusList::Applications));
  SetWindowTextUtf8(fListView2, StatusListAccessibleName(TStatusList::Controllers));
  SetWindowTextUtf8(fGauge1, LabelledAccessibleText(kGaugeAccessibleName, ""));
}

void TStatusLists::Tick(std::int32_t AMsgCount,
                        const std::shared_ptr<const TTablesSnapshot>& ASnapshot) {
  ShowRate(AMsgCount);
  FillLists(ASnapshot);
}

void TStatusLists::ShowRate(std::int32_t AMsgCount) {
  SendMessageW(fGauge1, PBM_SETPOS, static_cast<WPARAM>(GaugePosition(AMsgCount)), 0);
  const std::string rate = MsgRateText(AMsgCount);
  SetWindowTextUtf8(flblMsgCount, rate);
  // The bar stops at 20; its name carries the rate itself.
  SetWindowTextUtf8(fGauge1, LabelledAccessibleText(kGaugeAccessibleName, rate));
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

std::string TStatusLists::CopyText(HWND AList) const {
  const TStatusRows& rows = AList == fListView1 ? fApplications : fControllers;
  const std::vector<int> selected = SelectedRows(AList);
  return StatusRowsCopyText(rows, selected, "\r\n");
}

void TStatusLists::CopyRows(HWND AOwner, HWND AList) const {
  const std::wstring text = Widen(CopyText(AList));
  if (!OpenClipboard(AOwner)) {
    return;  // another program holds the clipboard; the user can copy again
  }
  EmptyClipboard();
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    if (void* target = GlobalLock(memory)) {
      std::memcpy(target, text.c_str(), bytes);
      GlobalUnlock(memory);
      if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) {
        GlobalFree(memory);
      }
    } else {
      GlobalFree(memory);
    }
  }
  CloseClipboard();
}

bool TStatusLists::ListMessage(HWND AOwner, UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
  if (AMessage == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(ALParam);
    if ((header->hwndFrom != fListView1 && header->hwndFrom != fListView2) ||
        header->code != LVN_KEYDOWN) {
      return false;
    }
    const auto* key = reinterpret_cast<const NMLVKEYDOWN*>(ALParam);
    if (key->wVKey == 'C' && GetKeyState(VK_CONTROL) < 0) {
      CopyRows(AOwner, header->hwndFrom);
      return true;
    }
    return false;
  }
  if (AMessage != WM_CONTEXTMENU) {
    return false;
  }
  auto list = reinterpret_cast<HWND>(AWParam);
  if (list != fListView1 && list != fListView2) {
    return false;
  }
  POINT at{static_cast<short>(LOWORD(ALParam)), static_cast<short>(HIWORD(ALParam))};
  if (ALParam == -1) {
    // From the keyboard (Shift+F10, the menu key): at the list's top-left corner.
    at = {0, 0};
    ClientToScreen(list, &at);
  }
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, kCopyCommand, L"Copy");
  const auto chosen = static_cast<UINT>(TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, AOwner, nullptr));
  DestroyMenu(menu);
  if (chosen == kCopyCommand) {
    CopyRows(AOwner, list);
  }
  return true;
}

}  // namespace kelvo
