#include "chart/reportlayout.h"

#include <algorithm>
#include <cmath>

namespace {
// Band arithmetic is done on millimetre values with two decimals; this keeps a band that fits
// exactly from being lost to rounding.
constexpr double kFitTolerance = 1e-6;
}  // namespace

// ---- rows ----

std::string VectorRowSource::CellText(size_t row, int column) const {
    if (row >= rows_.size() || column < 0 || column >= kReportColumns) return {};
    return rows_[row][static_cast<size_t>(column)];
}

ReportRows SnapshotRows(const ReportRowSource& source) {
    const size_t n = source.RowCount();
    ReportRows rows;
    rows.reserve(n);
    for (size_t r = 0; r < n; ++r) {
        ReportRow row;
        for (int c = 0; c < kReportColumns; ++c) row[static_cast<size_t>(c)] = source.CellText(r, c);
        rows.push_back(std::move(row));
    }
    return rows;
}

// ---- layout arithmetic ----

ReportLayout DefaultReportLayout() { return ReportLayout{}; }

int DetailLinesPerPage(const ReportLayout& layout) {
    const double room = layout.paperHeight - layout.marginTop - layout.marginBottom - layout.pageHeaderHeight -
                        layout.columnHeaderHeight - layout.pageFooterHeight;
    if (layout.detailHeight <= 0) return 1;
    const double lines = std::floor(room / layout.detailHeight + kFitTolerance);
    return lines < 1 ? 1 : static_cast<int>(lines);
}

int PageCount(size_t rows, const ReportLayout& layout) {
    if (rows == 0) return 0;
    const size_t perPage = static_cast<size_t>(DetailLinesPerPage(layout));
    return static_cast<int>((rows + perPage - 1) / perPage);
}

PageRows RowsOnPage(int page, size_t rows, const ReportLayout& layout) {
    if (page < 0) return {};
    const size_t perPage = static_cast<size_t>(DetailLinesPerPage(layout));
    const size_t first = static_cast<size_t>(page) * perPage;
    if (first >= rows) return {rows, 0};
    return {first, std::min(perPage, rows - first)};
}

BandTops BandTopsOf(const ReportLayout& layout) {
    BandTops tops;
    tops.pageHeader = layout.marginTop;
    tops.columnHeader = tops.pageHeader + layout.pageHeaderHeight;
    tops.firstDetail = tops.columnHeader + layout.columnHeaderHeight;
    tops.pageFooter = layout.paperHeight - layout.marginBottom - layout.pageFooterHeight;
    return tops;
}

double DetailTop(int line, const ReportLayout& layout) {
    return BandTopsOf(layout).firstDetail + line * layout.detailHeight;
}

double MmToDevice(double mm, double dotsPerInch) { return mm / kMmPerInch * dotsPerInch; }
