#pragma once
// The printed list report's rows and page arithmetic, without painting: which records a page
// holds and where its bands lie, in millimetres from the top-left corner of the paper. The
// painting, fonts and devices are in chart/report.h.
#include <array>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// ---- rows ----

// Field columns in the record table's order: No, Time, DC/AC, Value, Unit, AUTO.
constexpr int kReportColumns = 6;

// One detail line: the six field texts as the table holds them (8-bit; the unit text in the
// meter's segment-font codes).
using ReportRow = std::array<std::string, kReportColumns>;
using ReportRows = std::vector<ReportRow>;

// What the report reads: anything that tells its row count and a cell's text.
class ReportRowSource {
public:
    virtual ~ReportRowSource() = default;
    virtual size_t RowCount() const = 0;
    virtual std::string CellText(size_t row, int column) const = 0;
};

// A row source over any table type with `size_t RowCount() const` and
// `std::string CellText(size_t row, int column) const` (the record table).
template <class Table>
class TableRowSource final : public ReportRowSource {
public:
    explicit TableRowSource(const Table& table) : table_(table) {}
    size_t RowCount() const override { return table_.RowCount(); }
    std::string CellText(size_t row, int column) const override { return table_.CellText(row, column); }

private:
    const Table& table_;
};

// A row source over rows already in memory.
class VectorRowSource final : public ReportRowSource {
public:
    explicit VectorRowSource(ReportRows rows) : rows_(std::move(rows)) {}
    size_t RowCount() const override { return rows_.size(); }
    std::string CellText(size_t row, int column) const override;

private:
    ReportRows rows_;
};

// Copies every row of the source, first to last, in the source's order.
ReportRows SnapshotRows(const ReportRowSource& source);

// ---- layout arithmetic (millimetres) ----

// The page and band geometry of the report.
struct ReportLayout {
    double paperWidth = 210.0;  // A4 portrait
    double paperHeight = 297.0;
    double marginLeft = 10.0;
    double marginTop = 10.0;
    double marginRight = 10.0;
    double marginBottom = 10.0;
    double pageHeaderHeight = 10.58;    // PageHeaderBand1
    double columnHeaderHeight = 10.58;  // ColumnHeaderBand1
    double detailHeight = 6.61;         // DetailBand1
    double pageFooterHeight = 10.58;    // PageFooterBand1

    // Width of every band: the paper between the left and right margins.
    double BandWidth() const { return paperWidth - marginLeft - marginRight; }
};

// The report's own design: A4 portrait with 10 mm margins.
ReportLayout DefaultReportLayout();

// Detail lines that fit between the column header and the page footer; at least 1, so that a
// page too small for the bands still advances through the table.
int DetailLinesPerPage(const ReportLayout& layout);

// Pages of the report for `rows` records; 0 for an empty table (nothing is printed then).
int PageCount(size_t rows, const ReportLayout& layout);

// The records printed on one page (0-based).
struct PageRows {
    size_t first = 0;
    size_t count = 0;
};
PageRows RowsOnPage(int page, size_t rows, const ReportLayout& layout);

// Top edges of the bands on a page, in millimetres from the top of the paper. The page footer
// sits at the bottom margin, whatever the number of detail lines above it.
struct BandTops {
    double pageHeader = 0;
    double columnHeader = 0;
    double firstDetail = 0;
    double pageFooter = 0;
};
BandTops BandTopsOf(const ReportLayout& layout);

// Top of detail line `line` (0-based on its page), millimetres from the top of the paper.
double DetailTop(int line, const ReportLayout& layout);

inline constexpr double kMmPerInch = 25.4;

// A length in millimetres as device units at `dotsPerInch`.
double MmToDevice(double mm, double dotsPerInch);
