// The report's page arithmetic: how many detail lines a page holds, how records fall on pages,
// where the bands sit, millimetres to device units, and the texts the fields show.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <QPaintEngine>
#include <climits>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <cmath>
#include <string>
#include <vector>

#include "chart/report.h"
#include "meter/segmentsymbols.h"

namespace {

constexpr double kBandSum = 10.58 + 10.58 + 10.58;  // page header, column header, page footer
constexpr double kDetail = 6.61;

ReportLayout WithPaperHeight(double height) {
    ReportLayout l = DefaultReportLayout();
    l.paperHeight = height;
    return l;
}

// ---- detail lines per page ----

struct LinesCase {
    const char* name;
    double paperHeight;
    int lines;
};

TEST(ReportLayoutLines, DetailLinesFollowTheBandHeights) {
    const LinesCase cases[] = {
        // A4: 297 - 20 mm of margins - three 10.58 mm bands = 245.26 mm = 37.1 detail bands.
        {"A4", 297.0, 37},
        // Letter (279.4 mm): 227.66 mm = 34.4 detail bands.
        {"Letter", 279.4, 34},
        // A5 (210 mm): 158.26 mm = 23.9 detail bands.
        {"A5", 210.0, 23},
        // Exactly ten detail bands of room: the tenth must not be lost to rounding.
        {"exact fit", 20.0 + kBandSum + 10 * kDetail, 10},
        {"a hair short of ten", 20.0 + kBandSum + 10 * kDetail - 0.01, 9},
        // No room at all: still one line per page, so that every record is printed.
        {"too small", 40.0, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DetailLinesPerPage(WithPaperHeight(c.paperHeight)), c.lines) << c.name;
    }
}

TEST(ReportLayoutLines, TheLastDetailLineEndsAboveTheFooter) {
    for (double height : {297.0, 279.4, 210.0, 420.0, 148.0}) {
        const ReportLayout l = WithPaperHeight(height);
        const int lines = DetailLinesPerPage(l);
        const BandTops tops = BandTopsOf(l);
        EXPECT_LE(DetailTop(lines - 1, l) + l.detailHeight, tops.pageFooter + 1e-9) << height;
        // One more line would run into the footer.
        EXPECT_GT(DetailTop(lines, l) + l.detailHeight, tops.pageFooter) << height;
    }
}

// ---- page count and the records on each page ----

TEST(ReportLayoutPages, PageCountForTypicalTableSizes) {
    const ReportLayout a4 = DefaultReportLayout();
    const int perPage = DetailLinesPerPage(a4);
    struct Case {
        const char* name;
        size_t rows;
        int pages;
    } cases[] = {
        {"empty table: nothing printed", 0, 0},
        {"one reading", 1, 1},
        {"a page's worth", size_t(perPage), 1},
        {"a page's worth + 1", size_t(perPage) + 1, 2},
        {"two pages' worth", size_t(2 * perPage), 2},
        {"two pages' worth + 1", size_t(2 * perPage) + 1, 3},
        {"the default record limit + 1", 10001, (10001 + perPage - 1) / perPage},
    };
    for (const auto& c : cases) EXPECT_EQ(PageCount(c.rows, a4), c.pages) << c.name;
}

TEST(ReportLayoutPages, EveryRecordFallsOnExactlyOnePageInOrder) {
    const ReportLayout a4 = DefaultReportLayout();
    const int perPage = DetailLinesPerPage(a4);
    for (size_t rows : {size_t(0), size_t(1), size_t(perPage - 1), size_t(perPage), size_t(perPage + 1), size_t(100),
                        size_t(10000)}) {
        const int pages = PageCount(rows, a4);
        size_t next = 0;
        for (int page = 0; page < pages; ++page) {
            const PageRows r = RowsOnPage(page, rows, a4);
            EXPECT_EQ(r.first, next) << rows << " rows, page " << page;
            EXPECT_GE(r.count, 1u) << rows << " rows, page " << page;
            EXPECT_LE(r.count, size_t(perPage)) << rows << " rows, page " << page;
            // Only the last page may be short.
            if (page + 1 < pages) {
                EXPECT_EQ(r.count, size_t(perPage)) << rows << " rows";
            }
            next = r.first + r.count;
        }
        EXPECT_EQ(next, rows) << rows << " rows";
        EXPECT_EQ(RowsOnPage(pages, rows, a4).count, 0u) << "page after the last, " << rows;
    }
    EXPECT_EQ(RowsOnPage(-1, 100, a4).count, 0u);
}

// ---- band positions ----

TEST(ReportLayoutBands, BandsFollowEachOtherFromTheTopMarginAndTheFooterSitsAtTheBottom) {
    struct Case {
        const char* name;
        ReportLayout layout;
    };
    ReportLayout wide = DefaultReportLayout();
    wide.marginTop = 25.0;
    wide.marginBottom = 15.0;
    wide.paperHeight = 279.4;
    const Case cases[] = {{"A4, 10 mm margins", DefaultReportLayout()}, {"Letter, 25/15 mm margins", wide}};
    for (const auto& c : cases) {
        const ReportLayout& l = c.layout;
        const BandTops t = BandTopsOf(l);
        EXPECT_DOUBLE_EQ(t.pageHeader, l.marginTop) << c.name;
        EXPECT_DOUBLE_EQ(t.columnHeader, l.marginTop + 10.58) << c.name;
        EXPECT_DOUBLE_EQ(t.firstDetail, l.marginTop + 2 * 10.58) << c.name;
        EXPECT_DOUBLE_EQ(t.pageFooter, l.paperHeight - l.marginBottom - 10.58) << c.name;
        EXPECT_DOUBLE_EQ(DetailTop(3, l), l.marginTop + 2 * 10.58 + 3 * kDetail) << c.name;
    }
    // The band width is the paper between the side margins (189.97 mm in the form's units).
    EXPECT_NEAR(DefaultReportLayout().BandWidth(), 189.97, 0.05);
}

TEST(ReportLayoutBands, MillimetresToDeviceUnits) {
    struct Case {
        double mm;
        double dpi;
        double units;
    } cases[] = {
        {25.4, 72, 72},              // one inch
        {10.0, 1200, 472.4409449},   // the left margin on the PDF writer
        {210.0, 300, 2480.3149606},  // the width of A4 at 300 dpi
        {6.61, 600, 156.1417323},    // a detail band at 600 dpi
        {0.0, 600, 0},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(MmToDevice(c.mm, c.dpi), c.units, 1e-6) << c.mm << " mm at " << c.dpi;
    }
    // Positions of the report on a 600 dpi page: the "Time" field and the footer.
    const ReportLayout a4 = DefaultReportLayout();
    EXPECT_NEAR(MmToDevice(a4.marginLeft + ReportColumns()[1].fieldLeft, 600), 1036.30, 0.01);
    EXPECT_NEAR(MmToDevice(BandTopsOf(a4).pageFooter + kFootTop, 600), 6629.53, 0.01);
}

TEST(ReportLayoutBands, LayoutTakesPaperAndMarginsFromThePageLayout) {
    struct Case {
        const char* name;
        QPageLayout page;
        double width, height, left, top, right, bottom;
    } cases[] = {
        {"A4 portrait, 10 mm",
         QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10),
                     QPageLayout::Millimeter),
         210, 297, 10, 10, 10, 10},
        {"Letter landscape, mixed margins",
         QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Landscape, QMarginsF(5, 6, 7, 8),
                     QPageLayout::Millimeter),
         279.4, 215.9, 5, 6, 7, 8},
    };
    for (const auto& c : cases) {
        const ReportLayout l = ReportLayoutFor(c.page);
        EXPECT_NEAR(l.paperWidth, c.width, 0.2) << c.name;
        EXPECT_NEAR(l.paperHeight, c.height, 0.2) << c.name;
        EXPECT_NEAR(l.marginLeft, c.left, 0.01) << c.name;
        EXPECT_NEAR(l.marginTop, c.top, 0.01) << c.name;
        EXPECT_NEAR(l.marginRight, c.right, 0.01) << c.name;
        EXPECT_NEAR(l.marginBottom, c.bottom, 0.01) << c.name;
        EXPECT_DOUBLE_EQ(l.detailHeight, kDetail) << c.name;
    }
}

// ---- field texts and fonts ----

TEST(ReportFields, SegmentCodesShowAsMeterSymbolsOnlyInTheSegmentColumns) {
    struct Case {
        int column;
        std::string cell;
        QString shown;
    } cases[] = {
        {4, "+*", QString::fromUtf8("µΩ")},
        {4, "k*", QString::fromUtf8("kΩ")},
        {4, "m@", QStringLiteral("mL")},
        {4, ")", QString::fromUtf8("▶|")},
        {4, "V", QStringLiteral("V")},
        {5, "AUTO", QStringLiteral("AUTO")},
        // Arial columns print the stored characters as they are.
        {3, "-1.234", QStringLiteral("-1.234")},
        {3, "*", QStringLiteral("*")},
        {0, "17", QStringLiteral("17")},
        {2, "AC", QStringLiteral("AC")},
        {1, "12:34:56", QStringLiteral("12:34:56")},
        // 8-bit texts are Latin-1.
        {3,
         "\xB0"
         "C",
         QString::fromUtf8("°C")},
        {4, "", QString()},
        {6, "out of range", QString()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReportFieldText(c.column, c.cell), c.shown) << "column " << c.column << " '" << c.cell << "'";
    }
}

TEST(ReportFields, FontsAreTenPointsWithAMetricCompatibleArial) {
    for (ReportFontKind kind : {ReportFontKind::Report, ReportFontKind::Arial}) {
        const QFont f = ReportFont(kind);
        EXPECT_EQ(f.pointSize(), 10);
        EXPECT_FALSE(f.bold());
        EXPECT_FALSE(f.italic());
    }
    const QString arial = QFontInfo(ReportFont(ReportFontKind::Arial)).family();
    EXPECT_TRUE(arial == QStringLiteral("Arial") || arial == QStringLiteral("Liberation Sans") ||
                arial == QStringLiteral("Arimo"))
        << arial.toStdString();
}

// ---- rows ----

class GrowingTable {
public:
    size_t RowCount() const { return rows.size(); }
    std::string CellText(size_t row, int column) const { return rows[row][size_t(column)]; }
    ReportRows rows;
};

TEST(ReportRowsSnapshot, SnapshotCopiesEveryRowInOrderAndIgnoresLaterAppends) {
    GrowingTable table;
    table.rows.push_back({"1", "10:00:00", "DC", "1.000", "V", "AUTO"});
    table.rows.push_back({"2", "10:00:01", "AC", "2.000", "+*", ""});
    const ReportRows snap = SnapshotRows(TableRowSource<GrowingTable>(table));
    table.rows.push_back({"3", "10:00:02", "", "3.000", "k*", ""});
    table.rows[0][3] = "changed";

    ASSERT_EQ(snap.size(), 2u);
    EXPECT_EQ(snap[0][3], "1.000");
    EXPECT_EQ(snap[1][0], "2");
    EXPECT_EQ(snap[1][4], "+*");
    EXPECT_TRUE(SnapshotRows(VectorRowSource({})).empty());
}

TEST(ReportRowsSnapshot, VectorSourceAnswersOutOfRangeCellsWithEmptyTexts) {
    const VectorRowSource source({{"1", "t", "DC", "v", "u", "AUTO"}});
    EXPECT_EQ(source.CellText(0, 5), "AUTO");
    EXPECT_EQ(source.CellText(1, 0), "");
    EXPECT_EQ(source.CellText(0, 6), "");
    EXPECT_EQ(source.CellText(0, -1), "");
}

}  // namespace

// ---- what a page shows (its upper part painted at `dpmm` dots per millimetre) ----
namespace {
struct PaintedPage {
    QImage image;
    ReportLayout layout = DefaultReportLayout();
    double dpmm;
    explicit PaintedPage(const ReportRows& rows, double dotsPerMm = 10.0) : dpmm(dotsPerMm) {
        // Down to the end of the second detail line: enough for the bands looked at.
        image = QImage(int(210 * dpmm), int((DetailTop(2, layout) + 1) * dpmm), QImage::Format_Grayscale8);
        image.setDotsPerMeterX(int(dpmm * 1000));  // fonts in points scale with the paper
        image.setDotsPerMeterY(int(dpmm * 1000));
        image.fill(255);
        QPainter p(&image);
        PaintReportPage(p, rows, 0, layout, dpmm, dpmm);
    }
    bool Dark(int x, int y) const { return qGray(image.pixel(x, y)) < 128; }
    // Lowest dark pixel row between x0 and x1 (mm from the paper's left) and y0 .. y1 (mm
    // from the top); -1 for none.
    int LowestInk(double x0, double x1, double y0, double y1) const {
        for (int y = int(y1 * dpmm) - 1; y >= int(y0 * dpmm); --y)
            for (int x = int(x0 * dpmm); x < int(x1 * dpmm); ++x)
                if (Dark(x, y)) return y;
        return -1;
    }
};
}  // namespace

// Records where each text is drawn: its baseline point on the device and the text.
class TextRecorder : public QPaintDevice {
public:
    struct Item {
        QPointF at;
        QString text;
    };
    std::vector<Item> items;
    QPaintEngine* paintEngine() const override { return &engine_; }

protected:
    int metric(PaintDeviceMetric m) const override {
        switch (m) {
            case PdmWidth: return 9921;  // A4 at 1200 dots per inch
            case PdmHeight: return 14031;
            case PdmWidthMM: return 210;
            case PdmHeightMM: return 297;
            case PdmDpiX:
            case PdmDpiY:
            case PdmPhysicalDpiX:
            case PdmPhysicalDpiY: return 1200;
            case PdmDepth: return 32;
            case PdmNumColors: return INT_MAX;
            case PdmDevicePixelRatio: return 1;
            case PdmDevicePixelRatioScaled: return int(QPaintDevice::devicePixelRatioFScale());
            default: return 0;
        }
    }

private:
    class Engine : public QPaintEngine {
    public:
        explicit Engine(TextRecorder* owner) : owner_(owner) {}
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override {}
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawTextItem(const QPointF& p, const QTextItem& ti) override {
            owner_->items.push_back({painter()->transform().map(p), ti.text()});
        }
        Type type() const override { return QPaintEngine::User; }

    private:
        TextRecorder* owner_;
    };
    mutable Engine engine_{this};
};

// Each band's texts stand on one baseline, whatever font each column uses.
TEST(ReportPage, EachBandsTextsShareOneBaseline) {
    const ReportLayout l = DefaultReportLayout();
    TextRecorder device;
    {
        QPainter p(&device);
        PaintReportPage(p, {{"12", "12:00:00", "DC", "1.234", "+*", "AUTO"}}, 0, l, 1200 / 25.4, 1200 / 25.4);
    }
    // Captions are drawn before the fields: a caption is a text's first drawing, a field its last.
    auto baselinesOf = [&](const std::vector<QString>& texts, bool field) {
        std::vector<double> ys;
        for (const QString& t : texts) {
            const TextRecorder::Item* found = nullptr;
            for (const auto& item : device.items)
                if (item.text == t && (field || !found)) found = &item;
            if (found) ys.push_back(found->at.y());
        }
        return ys;
    };
    const std::vector<std::vector<QString>> bands = {
        {"No", "Time", "DC/AC", "Value", "Unit", "AUTO"},
        {"12", "12:00:00", "DC", "1.234", SegmentText("+*"), "AUTO"},
    };
    for (size_t b = 0; b < bands.size(); ++b) {
        const std::vector<double> ys = baselinesOf(bands[b], b == 1);
        ASSERT_EQ(ys.size(), 6u) << "band " << b;
        for (size_t i = 1; i < ys.size(); ++i)
            EXPECT_NEAR(ys[i], ys[0], 0.5) << "band " << b << ": " << bands[b][i].toStdString() << " stands "
                                           << (ys[i] - ys[0]) * 25.4 / 1200 << " mm off the band's baseline";
    }
}

// A field longer than its column is cut where the next column begins.
TEST(ReportPage, LongFieldsAreCutAtTheNextColumn) {
    const std::string longText(60, '8');
    const ReportLayout l = DefaultReportLayout();
    const auto& cols = ReportColumns();
    for (int c : {1, 3}) {  // Time and Value, with their neighbours empty
        ReportRow row{};
        row[size_t(c)] = longText;
        const PaintedPage page({row});
        const double nextLeft = l.marginLeft + cols[size_t(c + 1)].fieldLeft;
        const double nextRight =
            l.marginLeft + (c + 2 < kReportColumns ? cols[size_t(c + 2)].fieldLeft : l.BandWidth());
        EXPECT_GE(page.LowestInk(l.marginLeft + cols[size_t(c)].fieldLeft, nextLeft, DetailTop(0, l), DetailTop(1, l)),
                  0)
            << c;
        EXPECT_EQ(page.LowestInk(nextLeft, nextRight, DetailTop(0, l), DetailTop(1, l)), -1)
            << "column " << c << " runs into the next";
    }
}
