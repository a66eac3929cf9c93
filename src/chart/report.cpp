#include "chart/report.h"

#include <QBuffer>
#include <QFile>
#include <QFontMetricsF>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "meter/segmentsymbols.h"
#include "records/datafiles.h"

namespace {
constexpr int kFontPoints = 10;

std::runtime_error Failure(const QString& text) { return std::runtime_error(text.toStdString()); }
}  // namespace

// ---- layout on a device ----

ReportLayout ReportLayoutFor(const QPageLayout& pageLayout) {
    ReportLayout layout;
    const QRectF paper = pageLayout.fullRect(QPageLayout::Millimeter);
    const QMarginsF margins = pageLayout.margins(QPageLayout::Millimeter);
    layout.paperWidth = paper.width();
    layout.paperHeight = paper.height();
    layout.marginLeft = margins.left();
    layout.marginTop = margins.top();
    layout.marginRight = margins.right();
    layout.marginBottom = margins.bottom();
    return layout;
}

// ---- elements ----

QFont ReportFont(ReportFontKind kind) {
    QFont font;
    if (kind == ReportFontKind::Arial) {
        font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
    } else {
        // The meter's segment font when it is installed; the stand-in has every symbol that
        // the segment codes map to (ohm, micro, diode, beeper).
        font.setFamilies({QStringLiteral("SEGM-A2"), QStringLiteral("DejaVu Sans")});
    }
    font.setPointSize(kFontPoints);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

const std::array<ReportColumn, kReportColumns>& ReportColumns() {
    using K = ReportFontKind;
    static const std::array<ReportColumn, kReportColumns> columns = {{
        {"QRLabel2", "No", 8.47, K::Report, "QRDBText1", 8.47, K::Arial, false},
        {"QRLabel3", "Time", 33.87, K::Report, "QRDBText2", 33.87, K::Arial, false},
        {"QRLabel4", "DC/AC", 64.29, K::Arial, "QRDBText3", 65.62, K::Arial, false},
        {"QRLabel5", "Value", 99.48, K::Report, "QRDBText4", 99.48, K::Arial, false},
        {"QRLabel6", "Unit", 132.29, K::Report, "QRDBText5", 131.23, K::Report, true},
        {"QRLabel7", "AUTO", 162.98, K::Report, "QRDBText6", 162.98, K::Report, true},
    }};
    return columns;
}

QString ReportFieldText(int column, const std::string& cell) {
    if (column < 0 || column >= kReportColumns) return {};
    if (ReportColumns()[static_cast<size_t>(column)].segmentCodes) return SegmentText(cell);
    return QString::fromLatin1(cell.data(), static_cast<qsizetype>(cell.size()));
}

// ---- painting ----

namespace {
// Draws a left-aligned label whose top-left corner is at (xMm, yMm) on the paper. A band's
// texts share one baseline: ascent is the largest ascent of the band's fonts (0: this font's).
// A text longer than its column is cut at rightMm (0: not cut).
void DrawLabel(QPainter& p, const QFont& font, const QString& text, double xMm, double yMm, double dpmmX, double dpmmY,
               double ascent = 0, double rightMm = 0) {
    if (text.isEmpty()) return;
    p.setFont(font);
    const QFontMetricsF fm(font, p.device());
    const double base = yMm * dpmmY + (ascent > 0 ? ascent : fm.ascent());
    if (rightMm > xMm) {
        p.save();
        p.setClipRect(QRectF(xMm * dpmmX, base - 2 * fm.height(), (rightMm - xMm) * dpmmX, 4 * fm.height()),
                      Qt::IntersectClip);
        p.drawText(QPointF(xMm * dpmmX, base), text);
        p.restore();
        return;
    }
    p.drawText(QPointF(xMm * dpmmX, base), text);
}

double LargestAscent(QPainter& p, std::initializer_list<const QFont*> fonts) {
    double a = 0;
    for (const QFont* f : fonts) a = std::max(a, QFontMetricsF(*f, p.device()).ascent());
    return a;
}
}  // namespace

void PaintReportPage(QPainter& p, const ReportRows& rows, int page, const ReportLayout& layout, double dpmmX,
                     double dpmmY) {
    const BandTops tops = BandTopsOf(layout);
    const QFont reportFont = ReportFont(ReportFontKind::Report);
    const QFont arialFont = ReportFont(ReportFontKind::Arial);
    auto fontOf = [&](ReportFontKind k) -> const QFont& { return k == ReportFontKind::Arial ? arialFont : reportFont; };
    p.save();
    p.setPen(QColor(Qt::black));  // window-text colour on white bands, no frame lines

    // PageHeaderBand1: the title centred on the band.
    {
        const QString title = QString::fromLatin1(kReportTitle);
        p.setFont(reportFont);
        const QFontMetricsF fm(reportFont, p.device());
        const double widthMm = fm.horizontalAdvance(title) / dpmmX;
        const double left = layout.marginLeft + (layout.BandWidth() - widthMm) / 2;
        DrawLabel(p, reportFont, title, left, tops.pageHeader + kTitleTop, dpmmX, dpmmY);
    }
    // Each band's texts on one baseline; each text cut at the next column (the last at the
    // band's right edge).
    const double ascent = LargestAscent(p, {&reportFont, &arialFont});
    const auto& columns = ReportColumns();
    auto rightOf = [&](size_t c, bool caption) {
        if (c + 1 < columns.size()) return caption ? columns[c + 1].captionLeft : columns[c + 1].fieldLeft;
        return layout.BandWidth();
    };
    // ColumnHeaderBand1: the six captions.
    for (size_t c = 0; c < columns.size(); ++c) {
        const ReportColumn& col = columns[c];
        DrawLabel(p, fontOf(col.captionFont), QString::fromLatin1(col.caption), layout.marginLeft + col.captionLeft,
                  tops.columnHeader + kCaptionTop, dpmmX, dpmmY, ascent, layout.marginLeft + rightOf(c, true));
    }
    // DetailBand1, once per record of this page.
    const PageRows range = RowsOnPage(page, rows.size(), layout);
    for (size_t i = 0; i < range.count; ++i) {
        const ReportRow& row = rows[range.first + i];
        const double top = DetailTop(static_cast<int>(i), layout) + kFieldTop;
        for (int c = 0; c < kReportColumns; ++c) {
            const ReportColumn& col = ReportColumns()[static_cast<size_t>(c)];
            DrawLabel(p, fontOf(col.fieldFont), ReportFieldText(c, row[static_cast<size_t>(c)]),
                      layout.marginLeft + col.fieldLeft, top, dpmmX, dpmmY, ascent,
                      layout.marginLeft + rightOf(size_t(c), false));
        }
    }
    // PageFooterBand1 at the bottom margin.
    DrawLabel(p, reportFont, QString::fromLatin1(kReportFoot), layout.marginLeft + kFootLeft,
              tops.pageFooter + kFootTop, dpmmX, dpmmY);
    p.restore();
}

void SetReportPage(QPagedPaintDevice& device) {
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10),
                                     QPageLayout::Millimeter));
}

int PaintReport(QPagedPaintDevice& device, const ReportRows& rows, const ReportProgress& progress) {
    const QPageLayout pageLayout = device.pageLayout();
    const ReportLayout layout = ReportLayoutFor(pageLayout);
    const int pages = PageCount(rows.size(), layout);
    if (pages == 0) return 0;

    QPainter p;
    if (!p.begin(&device)) throw Failure(QStringLiteral("the report cannot be painted on this device"));
    const double dpiX = device.logicalDpiX();
    const double dpiY = device.logicalDpiY();
    // The painter's origin is the corner of the printable rectangle; move it to the paper's.
    const QRectF paint = pageLayout.paintRect(QPageLayout::Millimeter);
    p.translate(-MmToDevice(paint.left(), dpiX), -MmToDevice(paint.top(), dpiY));

    int done = 0;
    for (int page = 0; page < pages; ++page) {
        if (page > 0 && !device.newPage()) {
            p.end();
            throw Failure(QStringLiteral("the printer could not start page %1").arg(page + 1));
        }
        PaintReportPage(p, rows, page, layout, dpiX / kMmPerInch, dpiY / kMmPerInch);
        done = page + 1;
        if (progress && !progress(done, pages)) break;
    }
    p.end();
    return done;
}

int WriteReportPdf(const QString& path, const ReportRows& rows) {
    if (PageCount(rows.size(), DefaultReportLayout()) == 0) return 0;
    QByteArray bytes;
    int pages = 0;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setCreator(QStringLiteral("ms42k"));
        writer.setTitle(QString::fromLatin1(kReportTitle));
        SetReportPage(writer);
        pages = PaintReport(writer, rows);
    }
    try {
        WriteFileAtomically(QFile::encodeName(path).toStdString(), bytes.constData(), size_t(bytes.size()));
    } catch (const SaveError& e) {
        throw Failure(QStringLiteral("cannot write '%1': %2").arg(path, QString::fromLocal8Bit(e.Reason().c_str())));
    }
    return pages;
}
