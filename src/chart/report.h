#pragma once
// The printed list report of the record table, `QuickRep1`: A4 portrait, 10 mm margins, and on
// every page a page header (the title), a column header (six captions), as many detail lines as
// fit (one per record) and a page footer. All positions are millimetres from the top-left corner
// of the paper; the painting functions convert them to the device's own units.
//
// The report never reads the live record table while it paints: the rows are copied into a
// ReportRows snapshot when the pages are generated, so readings appended later do not show.
#include <QFont>
#include <QString>
#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class QPainter;
class QPagedPaintDevice;
class QPageLayout;

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
    std::string CellText(size_t row, int column) const override {
        return table_.CellText(row, column);
    }

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

// The same bands on the paper and margins of a device's page layout (the user may choose
// another paper size or margins in the preview's page set-up).
ReportLayout ReportLayoutFor(const QPageLayout& pageLayout);

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

// A length in millimetres as device units at `dotsPerInch`.
double MmToDevice(double mm, double dotsPerInch);

// ---- the report's elements ----

enum class ReportFontKind {
    Report,  // the report font: the meter's segment font (or its stand-in), 10 points
    Arial,   // Arial 10 points (a metric-compatible face where Arial is not installed)
};

// The font of a kind, 10 points regular, with the faces that stand in for a missing one.
QFont ReportFont(ReportFontKind kind);

// One column of the report: its caption in the column header and its field in the detail band.
struct ReportColumn {
    const char* captionName;  // QRLabel2..QRLabel7
    const char* caption;
    double captionLeft;  // millimetres from the band's left edge
    ReportFontKind captionFont;
    const char* fieldName;  // QRDBText1..QRDBText6
    double fieldLeft;
    ReportFontKind fieldFont;
    bool segmentCodes;  // the field holds segment-font codes, shown as the meter's symbols
};
const std::array<ReportColumn, kReportColumns>& ReportColumns();

// Fixed texts and positions of the page header and footer.
inline constexpr const char* kReportTitle = "The Data Print Title";  // QRLabel1
inline constexpr const char* kReportFoot = "The Data Print Foot";    // QRLabel8
inline constexpr double kTitleTop = 2.12;       // centred on the band
inline constexpr double kCaptionTop = 4.23;     // in the column header band
inline constexpr double kFieldTop = 2.12;       // in the detail band
inline constexpr double kFootLeft = 8.47;
inline constexpr double kFootTop = 4.23;

// The text a detail field shows for a cell (segment codes mapped to the meter's symbols).
QString ReportFieldText(int column, const std::string& cell);

// ---- painting ----

// Paints page `page` (0-based) of the report with `painter`, whose device coordinates begin at
// the top-left corner of the paper and measure `dotsPerMmX`/`dotsPerMmY` units per millimetre.
void PaintReportPage(QPainter& painter, const ReportRows& rows, int page,
                     const ReportLayout& layout, double dotsPerMmX, double dotsPerMmY);

// Called after each page; returning false stops the report there.
using ReportProgress = std::function<bool(int pagesDone, int pageCount)>;

// Paints the whole report onto a paged device (a printer, a PDF writer, the preview's printer),
// with the paper and margins of the device's page layout. Returns the pages painted: 0 for an
// empty table (the painter is not even begun), fewer than PageCount when `progress` stopped it.
// Throws std::runtime_error when painting cannot begin on the device.
int PaintReport(QPagedPaintDevice& device, const ReportRows& rows,
                const ReportProgress& progress = {});

// Prepares a paged device for the report: A4 portrait, 10 mm margins.
void SetReportPage(QPagedPaintDevice& device);

// Writes the report as a PDF file, replacing `path` only when the whole file was written.
// Returns the pages written (0 for an empty table: no file is written then). Throws
// std::runtime_error with a message naming the file when it cannot be written.
int WriteReportPdf(const QString& path, const ReportRows& rows);
