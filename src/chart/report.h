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

#include "chart/reportlayout.h"

class QPainter;
class QPagedPaintDevice;
class QPageLayout;

// ---- layout on a device ----

// The same bands on the paper and margins of a device's page layout (the user may choose
// another paper size or margins in the preview's page set-up).
ReportLayout ReportLayoutFor(const QPageLayout& pageLayout);

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
inline constexpr double kTitleTop = 2.12;                            // centred on the band
inline constexpr double kCaptionTop = 4.23;                          // in the column header band
inline constexpr double kFieldTop = 2.12;                            // in the detail band
inline constexpr double kFootLeft = 8.47;
inline constexpr double kFootTop = 4.23;

// The text a detail field shows for a cell (segment codes mapped to the meter's symbols).
QString ReportFieldText(int column, const std::string& cell);

// ---- painting ----

// Paints page `page` (0-based) of the report with `painter`, whose device coordinates begin at
// the top-left corner of the paper and measure `dotsPerMmX`/`dotsPerMmY` units per millimetre.
void PaintReportPage(QPainter& painter, const ReportRows& rows, int page, const ReportLayout& layout, double dotsPerMmX,
                     double dotsPerMmY);

// Called after each page; returning false stops the report there.
using ReportProgress = std::function<bool(int pagesDone, int pageCount)>;

// Paints the whole report onto a paged device (a printer, a PDF writer, the preview's printer),
// with the paper and margins of the device's page layout. Returns the pages painted: 0 for an
// empty table (the painter is not even begun), fewer than PageCount when `progress` stopped it.
// Throws std::runtime_error when painting cannot begin on the device.
int PaintReport(QPagedPaintDevice& device, const ReportRows& rows, const ReportProgress& progress = {});

// Prepares a paged device for the report: A4 portrait, 10 mm margins.
void SetReportPage(QPagedPaintDevice& device);

// Writes the report as a PDF file, replacing `path` only when the whole file was written.
// Returns the pages written (0 for an empty table: no file is written then). Throws
// std::runtime_error with a message naming the file when it cannot be written.
int WriteReportPdf(const QString& path, const ReportRows& rows);
