// Report-style list views as the forms use them: grid lines, whole-row selection, headers that
// do not react to clicks, nothing editable. GUI thread only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "present/main_window_design.h"

namespace kelvo {

// Creates the list view without columns; AOwnerData makes it a virtual list whose texts come
// from LVN_GETDISPINFOW; AMultiSelect lets several rows be selected (else one at most).
HWND CreateReportList(HWND AParent, int AId, const TBounds& ABounds96, int ADpi, HFONT AFont,
                      bool AOwnerData, bool AMultiSelect);
// Appends a column ACaption (UTF-8), AWidth96 pixels wide at 96 dpi.
void AddReportColumn(HWND AList, const char* ACaption, int AWidth96, int ADpi);
// The columns of a look table (items with Caption and Width at 96 dpi), in order.
template <typename TColumnLooks>
void AddReportColumns(HWND AList, const TColumnLooks& AColumns, int ADpi) {
  for (const auto& column : AColumns) {
    AddReportColumn(AList, column.Caption, column.Width, ADpi);
  }
}
// A status list's columns as wide as designed at ADpi, or narrowed to fit its inside
// (StatusColumnWidths).
void FitStatusColumns(HWND AList, int ADpi);
// The selected row, or -1; every selected row, in list order.
int SelectedRow(HWND AList);
std::vector<int> SelectedRows(HWND AList);
// The text of a cell as the list shows it (also for virtual lists).
std::string CellText(HWND AList, int ARow, int AColumn);
int ColumnWidth(HWND AList, int AColumn);
std::string ColumnCaption(HWND AList, int AColumn);

// Redrawing suspended while a list is rebuilt; resumed (and repainted) on every way out.
class TRedrawSuspended {
 public:
  explicit TRedrawSuspended(HWND AList);
  ~TRedrawSuspended();
  TRedrawSuspended(const TRedrawSuspended&) = delete;
  TRedrawSuspended& operator=(const TRedrawSuspended&) = delete;

 private:
  HWND fList;
};

}  // namespace kelvo
