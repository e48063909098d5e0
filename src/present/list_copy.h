// What Ctrl+C and "Copy" put on the clipboard from a status list: the column titles, then the
// selected rows (every row when none is selected), cells separated by tabs, each line ended the
// way the platform's programs expect ("\r\n" on Windows, "\n" elsewhere), so the text pastes
// into a spreadsheet as a table. Any thread.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "present/status_rows.h"

namespace kelvo {

// ARows are zero-based row numbers in any order; they are copied in list order, each once, and
// numbers outside the list are left out.
std::string StatusRowsCopyText(const TStatusRows& ARows, std::span<const int> ASelectedRows,
                               std::string_view ALineEnd);

}  // namespace kelvo
