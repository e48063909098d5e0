// The one-second status display: the message rate on the gauge and its label, and both lists
// rebuilt from one snapshot of the address tables. The lists are virtual (owner data): a tick
// only swaps the rows and sets the row count, and the list asks for the texts of the rows it
// shows, so even 100,000 rows stay cheap. Each list copies its selected rows (all rows when
// none is selected) with Ctrl+C or its context menu's "Copy". The lists and the gauge carry
// their accessible names in their (undrawn) window texts. GUI thread only.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <memory>
#include <string>

#include "present/status_rows.h"

namespace kelvo {

class TStatusLists {
 public:
  TStatusLists(HWND AListView1, HWND AListView2, HWND AGauge1, HWND AlblMsgCount);

  // One tick: AMsgCount frames were counted since the last one.
  void Tick(std::int32_t AMsgCount, const std::shared_ptr<const TTablesSnapshot>& ASnapshot);
  void ShowRate(std::int32_t AMsgCount);
  // Both lists emptied and refilled; no selection survives.
  void FillLists(const std::shared_ptr<const TTablesSnapshot>& ASnapshot);
  // LVN_GETDISPINFOW of either list; true when it was one of them.
  bool GetDispInfo(NMLVDISPINFOW& AInfo) const;
  // The main window's WM_NOTIFY (LVN_KEYDOWN: Ctrl+C) and WM_CONTEXTMENU for either list;
  // true when it was one of them and the message is handled.
  bool ListMessage(HWND AOwner, UINT AMessage, WPARAM AWParam, LPARAM ALParam);
  // What Copy puts on the clipboard for AList, and the copy itself.
  std::string CopyText(HWND AList) const;
  void CopyRows(HWND AOwner, HWND AList) const;

  const TStatusRows& Rows(TStatusList AList) const {
    return AList == TStatusList::Applications ? fApplications : fControllers;
  }

  // The context menu's one item.
  static constexpr UINT kCopyCommand = 0x7101;

 private:
  HWND fListView1;
  HWND fListView2;
  HWND fGauge1;
  HWND flblMsgCount;
  TStatusRows fApplications;
  TStatusRows fControllers;
};

}  // namespace kelvo
