#include "records/recordtablemodel.h"

#include <algorithm>

#include "meter/segmentsymbols.h"
#include "records/recordtable.h"

RecordTableModel::RecordTableModel(RecordTable* table, QObject* parent) : QAbstractTableModel(parent), table_(table) {
    rows_ = int(std::min<size_t>(TableRows(), kWindowRows));
}

size_t RecordTableModel::TableRows() const { return table_ ? table_->RowCount() : 0; }

int RecordTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int RecordTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kRecordColumns; }

Qt::Alignment RecordTableModel::ColumnAlignment(int column) {
    switch (column) {
        case ColNo: return Qt::AlignLeft | Qt::AlignVCenter;
        case ColTime:
        case ColDcAc: return Qt::AlignHCenter | Qt::AlignVCenter;
        case ColValue:
        case ColUnit: return Qt::AlignRight | Qt::AlignVCenter;
        default: return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

const char* RecordTableModel::ColumnTitle(int column) {
    return column >= 0 && column < kRecordColumns ? RecordTable::kFieldNames[column] : "";
}

QVariant RecordTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !table_ || index.row() >= rows_) return {};
    const size_t row = first_ + size_t(index.row());
    if (row >= table_->RowCount()) return {};
    const int c = index.column();
    switch (role) {
        case Qt::DisplayRole: {
            const std::string text = table_->CellText(row, c);
            if (c == ColUnit) return SegmentText(text);
            return QString::fromLatin1(text.data(), qsizetype(text.size()));
        }
        case Qt::TextAlignmentRole: return QVariant::fromValue(ColumnAlignment(c));
        default: return {};
    }
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal) {
        if (role == Qt::DisplayRole) {
            const int f = table_ ? table_->ColumnField(section) : -1;
            if (f >= 0) return QString::fromLatin1(table_->Schema().fields[size_t(f)].name.c_str());
            return QString::fromLatin1(ColumnTitle(section));
        }
        if (role == Qt::TextAlignmentRole) return QVariant::fromValue(ColumnAlignment(section));
        return {};
    }
    // Row indicator: a marker on the current row only.
    if (role == Qt::DisplayRole) return section == CurrentRow() && section >= 0 ? QString(QChar(0x25B6)) : QString();
    return {};
}

Qt::ItemFlags RecordTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void RecordTableModel::Reset(size_t first) {
    const size_t total = TableRows();
    first = std::min(first, total > size_t(kWindowRows) ? total - size_t(kWindowRows) : size_t(0));
    const long long keep = current_;
    resetting_ = true;  // a view that drops its current row while the model resets keeps the indicator
    beginResetModel();
    first_ = first;
    rows_ = int(std::min<size_t>(total - first_, kWindowRows));
    endResetModel();
    resetting_ = false;
    current_ = keep < (long long)(total) ? keep : (long long)(total)-1;
}

void RecordTableModel::Refresh() { Reset(0); }

void RecordTableModel::ShowLastRows() {
    const size_t total = TableRows();
    if (first_ + size_t(rows_) == total) return;
    Reset(total > size_t(kWindowRows) ? total - size_t(kWindowRows) : 0);
}

bool RecordTableModel::MoveWindow(size_t first) {
    const size_t total = TableRows();
    first = std::min(first, total > size_t(kWindowRows) ? total - size_t(kWindowRows) : size_t(0));
    if (first == first_) return false;
    Reset(first);
    return true;
}

void RecordTableModel::RowsAppended() {
    const size_t total = TableRows();
    const size_t end = first_ + size_t(rows_);
    if (total < end) {
        Refresh();
        return;
    }
    if (total == end) return;
    if (total - first_ > size_t(kWindowRows)) {
        // The window would outgrow its size (or the user had moved it back): it moves on to
        // the table's end with half of it free for the rows to come, one reset per
        // kWindowRows / 2 appended rows.
        Reset(total - size_t(kWindowRows) / 2);
        return;
    }
    beginInsertRows(QModelIndex(), rows_, int(total - first_) - 1);
    rows_ = int(total - first_);
    endInsertRows();
}

int RecordTableModel::CurrentRow() const {
    if (current_ < (long long)(first_) || current_ >= (long long)(first_) + rows_) return -1;
    return int(current_ - (long long)(first_));
}

void RecordTableModel::SetCurrentRow(int row) {
    if (resetting_) return;
    const long long table = row < 0 ? -1 : (long long)(first_) + row;
    if (table == current_) return;
    const int old = CurrentRow();
    current_ = table;
    if (old >= 0 && old < rows_) emit headerDataChanged(Qt::Vertical, old, old);
    if (row >= 0 && row < rows_) emit headerDataChanged(Qt::Vertical, row, row);
}
