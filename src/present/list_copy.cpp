#include "present/list_copy.h"

#include <algorithm>
#include <vector>

namespace kelvo {

namespace {

void AppendRow(std::string& AText, const TStatusRows& ARows, int ARow, std::string_view ALineEnd) {
  for (int column = 0; column < kStatusColumnCount; ++column) {
    if (column > 0) {
      AText += '\t';
    }
    AText += ARows.CellText(ARow, static_cast<TStatusColumn>(column));
  }
  AText += ALineEnd;
}

}  // namespace

std::string StatusRowsCopyText(const TStatusRows& ARows, std::span<const int> ASelectedRows,
                               std::string_view ALineEnd) {
  std::string text;
  for (std::size_t column = 0; column < kStatusColumns.size(); ++column) {
    if (column > 0) {
      text += '\t';
    }
    text += kStatusColumns[column].Caption;
  }
  text += ALineEnd;
  std::vector<int> rows;
  for (int row : ASelectedRows) {
    if (row >= 0 && row < ARows.RowCount()) {
      rows.push_back(row);
    }
  }
  if (ASelectedRows.empty()) {
    for (int row = 0; row < ARows.RowCount(); ++row) {
      AppendRow(text, ARows, row, ALineEnd);
    }
    return text;
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  for (int row : rows) {
    AppendRow(text, ARows, row, ALineEnd);
  }
  return text;
}

}  // namespace kelvo
