// One status list as a table model over the rows of the last tick. A tick replaces the rows
// with a model reset, so the view drops every selection; the view asks only for the cells it
// draws, which keeps a tick cheap at any number of rows. GUI thread only.
#pragma once

#include <QAbstractTableModel>

#include "present/status_rows.h"

namespace kelvo {

class TStatusModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TStatusModel(QObject* AParent);

  void SetRows(TStatusRows ARows);
  const TStatusRows& Rows() const { return fRows; }

  int rowCount(const QModelIndex& AParent = QModelIndex()) const override;
  int columnCount(const QModelIndex& AParent = QModelIndex()) const override;
  QVariant data(const QModelIndex& AIndex, int ARole = Qt::DisplayRole) const override;
  QVariant headerData(int ASection, Qt::Orientation AOrientation,
                      int ARole = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& AIndex) const override;

 private:
  TStatusRows fRows;
};

}  // namespace kelvo
