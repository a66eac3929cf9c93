#pragma once
// The grid's view of the record table: six read-only columns (No, Time, DC/AC, Value, Unit,
// AUTO) with their alignments, the unit shown as the meter's symbols, and a row indicator on
// the current row. Cells are formatted on demand from the stored records.
//
// The model shows a window of at most kWindowRows consecutive table rows (all of them for a
// smaller table). A view keeps per-row bookkeeping (header sections) that costs time on every
// appended row and memory per row; with the window that cost stays bounded at any table size.
// Model row r is table row WindowFirst() + r. The window follows appended rows to the end and
// is moved by MoveWindow (the grid does so when the user scrolls to one of its ends).
#include <QAbstractTableModel>
#include <cstddef>

class RecordTable;

class RecordTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kWindowRows = 65536;

    explicit RecordTableModel(RecordTable* table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The table changed as a whole (opened, emptied, closed): the window shows its first rows.
    void Refresh();
    // Rows were appended to the table since the model last looked: the window takes them in,
    // moving on to the table's end when it would grow beyond kWindowRows (or did not reach the
    // end before).
    void RowsAppended();
    // The window shows the table's last rows.
    void ShowLastRows();
    // The window begins at table row first (held inside the table); true when it moved.
    bool MoveWindow(size_t first);
    size_t WindowFirst() const { return first_; }
    size_t TableRows() const;
    // The current row (row indicator), as a model row; -1 for none or outside the window.
    void SetCurrentRow(int row);
    int CurrentRow() const;

    static Qt::Alignment ColumnAlignment(int column);
    static const char* ColumnTitle(int column);

private:
    void Reset(size_t first);
    RecordTable* table_;
    size_t first_ = 0;        // table row of model row 0
    int rows_ = 0;            // rows in the window
    long long current_ = -1;  // table row of the indicator, -1 for none
    bool resetting_ = false;
};
