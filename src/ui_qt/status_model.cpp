#include "ui_qt/status_model.h"

#include <utility>

namespace kelvo {

TStatusModel::TStatusModel(QObject* AParent) : QAbstractTableModel(AParent) {}

void TStatusModel::SetRows(TStatusRows ARows) {
  beginResetModel();
  fRows = std::move(ARows);
  endResetModel();
}

int TStatusModel::rowCount(const QModelIndex& AParent) const {
  return AParent.isValid() ? 0 : fRows.RowCount();
}

int TStatusModel::columnCount(const QModelIndex& AParent) const {
  return AParent.isValid() ? 0 : kStatusColumnCount;
}

QVariant TStatusModel::data(const QModelIndex& AIndex, int ARole) const {
  if (ARole != Qt::DisplayRole || !AIndex.isValid()) {
    return {};
  }
  return QString::fromStdString(
      fRows.CellText(AIndex.row(), static_cast<TStatusColumn>(AIndex.column())));
}

QVariant TStatusModel::headerData(int ASection, Qt::Orientation AOrientation, int ARole) const {
  if (AOrientation != Qt::Horizontal || ARole != Qt::DisplayRole || ASection < 0 ||
      ASection >= kStatusColumnCount) {
    return {};
  }
  return QString::fromLatin1(kStatusColumns[static_cast<std::size_t>(ASection)].Caption);
}

Qt::ItemFlags TStatusModel::flags(const QModelIndex& AIndex) const {
  return AIndex.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

}  // namespace kelvo
