#include "records/recordtablemodel.h"

#include <climits>

#include "meter/segmentsymbols.h"
#include "records/recordtable.h"

RecordTableModel::RecordTableModel(RecordTable* table, QObject* parent) : QAbstractTableModel(parent), table_(table) {
    rows_ = table_ ? int(std::min<size_t>(table_->RowCount(), INT_MAX)) : 0;
}

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
    if (!index.isValid() || !table_ || index.row() >= rows_ || size_t(index.row()) >= table_->RowCount()) return {};
    const int c = index.column();
    switch (role) {
        case Qt::DisplayRole: {
            const std::string text = table_->CellText(size_t(index.row()), c);
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
    if (role == Qt::DisplayRole) return section == current_ ? QString(QChar(0x25B6)) : QString();
    return {};
}

Qt::ItemFlags RecordTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void RecordTableModel::Refresh() {
    beginResetModel();
    rows_ = table_ ? int(std::min<size_t>(table_->RowCount(), INT_MAX)) : 0;
    if (current_ >= rows_) current_ = rows_ - 1;
    endResetModel();
}

void RecordTableModel::RowsAppended() {
    const int now = table_ ? int(std::min<size_t>(table_->RowCount(), INT_MAX)) : 0;
    if (now < rows_) {
        Refresh();
        return;
    }
    if (now == rows_) return;
    beginInsertRows(QModelIndex(), rows_, now - 1);
    rows_ = now;
    endInsertRows();
}

void RecordTableModel::SetCurrentRow(int row) {
    if (row == current_) return;
    const int old = current_;
    current_ = row;
    if (old >= 0 && old < rows_) emit headerDataChanged(Qt::Vertical, old, old);
    if (row >= 0 && row < rows_) emit headerDataChanged(Qt::Vertical, row, row);
}
