#include "present/status_rows.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace kelvo {

namespace {

int ClampedCount(std::size_t ASize) {
  return static_cast<int>(std::min<std::size_t>(ASize, std::numeric_limits<int>::max()));
}

}  // namespace

std::string MsgRateText(std::int32_t AMsgCount) {
  return std::to_string(AMsgCount) + " msg/sec";
}

int GaugePosition(std::int32_t AMsgCount) {
  return std::clamp(AMsgCount, 0, kGaugeMax);
}

std::string RowNumberText(int AIndex) {
  return std::to_string(static_cast<long long>(AIndex) + 1) + '.';
}

std::shared_ptr<const TTablesSnapshot> TakeStatusSnapshot(const TAddressTables& ATables) {
  return std::make_shared<const TTablesSnapshot>(ATables.Snapshot());
}

TStatusRows::TStatusRows(std::shared_ptr<const TTablesSnapshot> ASnapshot, TStatusList AList)
    : fSnapshot(std::move(ASnapshot)), fList(AList) {
  if (!fSnapshot) {
    return;
  }
  fRowCount = fList == TStatusList::Applications
                  ? ClampedCount(fSnapshot->NATRows.size())
                  : ClampedCount(fSnapshot->StaticRows.size() + fSnapshot->PushRows.size());
}

std::string TStatusRows::CellText(int ARow, TStatusColumn AColumn) const {
  if (ARow < 0 || ARow >= fRowCount) {
    return {};
  }
  const auto index = static_cast<std::size_t>(ARow);
  const TTableRow* row = nullptr;
  bool isStatic = false;
  if (fList == TStatusList::Applications) {
    row = &fSnapshot->NATRows[index];
  } else if (index < fSnapshot->StaticRows.size()) {
    row = &fSnapshot->StaticRows[index];
    isStatic = true;
  } else {
    row = &fSnapshot->PushRows[index - fSnapshot->StaticRows.size()];
  }
  switch (AColumn) {
    case TStatusColumn::No:
      return RowNumberText(ARow);
    case TStatusColumn::NAD:
      return NADText(row->NAD, row->NADAlias);
    case TStatusColumn::HostPort:
      return row->Host + ':' + std::to_string(row->Port);
    case TStatusColumn::Timeout:
      return isStatic ? std::string("static") : std::to_string(row->Timeout);
  }
  return {};
}

}  // namespace kelvo
