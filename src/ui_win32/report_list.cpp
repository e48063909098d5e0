#include "ui_win32/report_list.h"

#include <commctrl.h>

#include <vector>

#include "ui_win32/win32_controls.h"
#include "ui_win32/win32_text.h"

namespace kelvo {

HWND CreateReportList(HWND AParent, int AId, const TBounds& ABounds96, int ADpi, HFONT AFont,
                      bool AOwnerData, bool AMultiSelect) {
  const DWORD style = WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER |
                      (AMultiSelect ? 0 : LVS_SINGLESEL) | (AOwnerData ? LVS_OWNERDATA : 0);
  HWND list =
      CreateChild(AParent, WC_LISTVIEWW, L"", style, WS_EX_CLIENTEDGE, AId, ABounds96, ADpi, AFont);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
               LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  return list;
}

void AddReportColumn(HWND AList, const char* ACaption, int AWidth96, int ADpi) {
  HWND header = reinterpret_cast<HWND>(SendMessageW(AList, LVM_GETHEADER, 0, 0));
  const auto index = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
  std::wstring caption = Widen(ACaption);
  LVCOLUMNW info{};
  info.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
  info.fmt = LVCFMT_LEFT;
  info.cx = ScaleFrom96(AWidth96, ADpi);
  info.pszText = caption.data();
  SendMessageW(AList, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index < 0 ? 0 : index),
               reinterpret_cast<LPARAM>(&info));
}

void FitStatusColumns(HWND AList, int ADpi) {
  RECT client{};
  GetClientRect(AList, &client);
  const auto widths = StatusColumnWidths(client.right, ADpi);
  for (std::size_t column = 0; column < widths.size(); ++column) {
    if (ColumnWidth(AList, static_cast<int>(column)) != widths[column]) {
      SendMessageW(AList, LVM_SETCOLUMNWIDTH, column, widths[column]);
    }
  }
}

int SelectedRow(HWND AList) {
  return static_cast<int>(
      SendMessageW(AList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

std::vector<int> SelectedRows(HWND AList) {
  std::vector<int> rows;
  int row = -1;
  while ((row = static_cast<int>(SendMessageW(AList, LVM_GETNEXTITEM, static_cast<WPARAM>(row),
                                              LVNI_SELECTED))) >= 0) {
    rows.push_back(row);
  }
  return rows;
}

std::string CellText(HWND AList, int ARow, int AColumn) {
  std::vector<wchar_t> buffer(512, L'\0');
  LVITEMW item{};
  item.iSubItem = AColumn;
  item.pszText = buffer.data();
  item.cchTextMax = static_cast<int>(buffer.size());
  SendMessageW(AList, LVM_GETITEMTEXTW, static_cast<WPARAM>(ARow), reinterpret_cast<LPARAM>(&item));
  return Narrow(buffer.data());
}

int ColumnWidth(HWND AList, int AColumn) {
  return static_cast<int>(SendMessageW(AList, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(AColumn), 0));
}

std::string ColumnCaption(HWND AList, int AColumn) {
  std::vector<wchar_t> buffer(128, L'\0');
  LVCOLUMNW info{};
  info.mask = LVCF_TEXT;
  info.pszText = buffer.data();
  info.cchTextMax = static_cast<int>(buffer.size());
  SendMessageW(AList, LVM_GETCOLUMNW, static_cast<WPARAM>(AColumn),
               reinterpret_cast<LPARAM>(&info));
  return Narrow(buffer.data());
}

TRedrawSuspended::TRedrawSuspended(HWND AList) : fList(AList) {
  SendMessageW(fList, WM_SETREDRAW, FALSE, 0);
}

TRedrawSuspended::~TRedrawSuspended() {
  SendMessageW(fList, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(fList, nullptr, TRUE);
}

}  // namespace kelvo
