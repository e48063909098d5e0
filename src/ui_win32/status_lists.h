// The one-second status display: the message rate on the gauge and its label, and both lists
// rebuilt from one snapshot of the address tables. The lists are virtual (owner data): a tick
// only swaps the rows and sets the row count, and the list asks for the texts of the rows it
// shows, so even 100,000 rows stay cheap. GUI thread only.
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
  void Tick(std::int32_t AMsgCount, std::shared_ptr<const TTablesSnapshot> ASnapshot);
  void ShowRate(std::int32_t AMsgCount);
  // Both lists emptied and refilled; no selection survives.
  void FillLists(const std::shared_ptr<const TTablesSnapshot>& ASnapshot);
  // LVN_GETDISPINFOW of either list; true when it was one of them.
  bool GetDispInfo(NMLVDISPINFOW& AInfo) const;

  const TStatusRows& Rows(TStatusList AList) const {
    return AList == TStatusList::Applications ? fApplications : fControllers;
  }

 private:
  HWND fListView1;
  HWND fListView2;
  HWND fGauge1;
  HWND flblMsgCount;
  TStatusRows fApplications;
  TStatusRows fControllers;
};

}  // namespace kelvo
