#pragma once
// The grid's view of the record table: six read-only columns (No, Time, DC/AC, Value, Unit,
// AUTO) with their alignments, the unit shown as the meter's symbols, and a row indicator on
// the current row. Cells are formatted on demand from the stored records, so the grid
// scrolls freely over millions of rows.
#include <QAbstractTableModel>

class RecordTable;

class RecordTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RecordTableModel(RecordTable* table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The table changed as a whole (opened, emptied, closed).
    void Refresh();
    // Rows were appended to the table since the model last looked.
    void RowsAppended();
    // The current row (row indicator); -1 for none.
    void SetCurrentRow(int row);
    int CurrentRow() const { return current_; }

    static Qt::Alignment ColumnAlignment(int column);
    static const char* ColumnTitle(int column);

private:
    RecordTable* table_;
    int rows_ = 0;
    int current_ = -1;
};
