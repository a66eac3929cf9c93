#pragma once
#include <QAbstractTableModel>

class RecordTable;

// The grid's view of the record table.
class RecordTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RecordTableModel(RecordTable* table, QObject* parent = nullptr)
        : QAbstractTableModel(parent), table_(table) {}
    int rowCount(const QModelIndex& = QModelIndex()) const override { return 0; }
    int columnCount(const QModelIndex& = QModelIndex()) const override { return 6; }
    QVariant data(const QModelIndex&, int = Qt::DisplayRole) const override { return {}; }
private:
    RecordTable* table_;
};
