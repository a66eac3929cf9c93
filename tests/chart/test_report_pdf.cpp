// The report as it comes out of a PDF file: the text of every page read back with the
// poppler tools (pdftotext, pdfinfo, pdftohtml), the fonts and positions of the elements, and
// the PDF writer's handling of empty tables and unwritable files.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "chart/report.h"

namespace {

constexpr double kPtPerMm = 72.0 / 25.4;

// Runs a poppler tool and returns its standard output (the test fails when the tool does).
QString Run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " failed: " << p.readAllStandardError().toStdString();
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

int PdfPages(const QString& pdf) {
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(Run(QStringLiteral("pdfinfo"), {pdf}));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// The text of one page (1-based), laid out as it stands on the paper.
QString PageText(const QString& pdf, int page) {
    return Run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(page),
                                             QStringLiteral("-l"), QString::number(page), pdf, QStringLiteral("-")});
}

// One piece of text on a page as pdftohtml finds it: position in points, font family.
struct PdfText {
    QString text;
    double left;
    double top;
    QString family;
};

std::vector<PdfText> PageElements(const QString& pdf, int page) {
    const QString xml =
        Run(QStringLiteral("pdftohtml"), {QStringLiteral("-xml"), QStringLiteral("-i"), QStringLiteral("-stdout"),
                                          QStringLiteral("-zoom"), QStringLiteral("1"), QStringLiteral("-f"),
                                          QString::number(page), QStringLiteral("-l"), QString::number(page), pdf});
    std::map<QString, QString> families;
    std::vector<PdfText> out;
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        if (r.readNext() != QXmlStreamReader::StartElement) continue;
        const auto a = r.attributes();
        if (r.name() == QStringLiteral("fontspec")) {
            families[a.value(QStringLiteral("id")).toString()] = a.value(QStringLiteral("family")).toString();
        } else if (r.name() == QStringLiteral("text")) {
            PdfText t;
            t.left = a.value(QStringLiteral("left")).toDouble();
            t.top = a.value(QStringLiteral("top")).toDouble();
            t.family = families[a.value(QStringLiteral("font")).toString()];
            t.text = r.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
            out.push_back(t);
        }
    }
    return out;
}

// "Liberation Sans" as the PDF names it ("LiberationSans", "ABCDEF+LiberationSans-Regular").
QString Squeezed(QString s) { return s.remove(QLatin1Char(' ')).toLower(); }

QString FamilyOf(ReportFontKind kind) { return QFontInfo(ReportFont(kind)).family(); }

// A recorded session: every row distinct, all unit symbols, AC/DC and AUTO both ways.
ReportRows Session(int n) {
    static const char* const units[] = {"V", "+*", "k*", ")", "m@", "&", "mA", "nF"};
    static const char* const modes[] = {"DC", "AC", ""};
    ReportRows rows;
    for (int i = 0; i < n; ++i) {
        ReportRow row;
        row[0] = std::to_string(i + 1);
        char time[16];
        std::snprintf(time, sizeof time, "10:%02d:%02d", i / 60, i % 60);
        row[1] = time;
        row[2] = modes[i % 3];
        row[3] = std::to_string(1000 + i) + ".5";  // unique and of equal width: 1000.5 .. 1099.5
        row[4] = units[i % 8];
        row[5] = i % 2 ? "AUTO" : "";
        rows.push_back(row);
    }
    return rows;
}

class ReportPdf : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir_;
};

// ---- the text of every page ----

TEST_F(ReportPdf, HundredRowsGiveFullPagesWithTitleCaptionsRowsAndFooterOnEach) {
    const ReportRows rows = Session(100);
    const QString pdf = Path("hundred.pdf");
    const int perPage = DetailLinesPerPage(DefaultReportLayout());
    const int expectedPages = (100 + perPage - 1) / perPage;

    ASSERT_EQ(WriteReportPdf(pdf, rows), expectedPages);
    ASSERT_EQ(PdfPages(pdf), expectedPages);

    std::vector<QString> pages;
    for (int p = 1; p <= expectedPages; ++p) pages.push_back(PageText(pdf, p));

    for (int p = 0; p < expectedPages; ++p) {
        const QString& text = pages[size_t(p)];
        SCOPED_TRACE("page " + std::to_string(p + 1));
        // Title first, then the captions, the detail lines and the footer last.
        const qsizetype title = text.indexOf(QStringLiteral("The Data Print Title"));
        const qsizetype captions =
            text.indexOf(QRegularExpression(QStringLiteral("No\\s+Time\\s+DC/AC\\s+Value\\s+Unit\\s+AUTO")));
        const qsizetype foot = text.indexOf(QStringLiteral("The Data Print Foot"));
        ASSERT_GE(title, 0);
        ASSERT_GT(captions, title);
        ASSERT_GT(foot, captions);
        EXPECT_EQ(text.count(QStringLiteral("The Data Print Title")), 1);
        EXPECT_EQ(text.count(QStringLiteral("The Data Print Foot")), 1);

        // The rows of this page, each on its own line with all of its fields, in table order.
        const QStringList lines = text.split(QLatin1Char('\n'));
        const size_t first = size_t(p) * size_t(perPage);
        const size_t last = std::min(rows.size(), first + size_t(perPage));
        qsizetype previous = captions;
        for (size_t r = first; r < last; ++r) {
            const ReportRow& row = rows[r];
            const QString value = QString::fromStdString(row[3]);
            const qsizetype at = text.indexOf(value);
            ASSERT_GT(at, previous) << "row " << r + 1 << " missing or out of order";
            ASSERT_LT(at, foot) << "row " << r + 1 << " below the footer";
            previous = at;
            const QString line =
                *std::find_if(lines.begin(), lines.end(), [&](const QString& l) { return l.contains(value); });
            QStringList expected;
            for (int c = 0; c < kReportColumns; ++c) {
                const QString shown = ReportFieldText(c, row[size_t(c)]);
                if (!shown.isEmpty()) expected << QRegularExpression::escape(shown);
            }
            EXPECT_TRUE(line.contains(QRegularExpression(
                QStringLiteral("^\\s*") + expected.join(QStringLiteral("\\s+")) + QStringLiteral("\\s*$"))))
                << "row " << r + 1 << ": " << line.toStdString();
        }
        // No row of another page shows up here.
        for (size_t r = 0; r < rows.size(); ++r) {
            if (r >= first && r < last) continue;
            EXPECT_FALSE(text.contains(QString::fromStdString(rows[r][3])))
                << "row " << r + 1 << " also on page " << p + 1;
        }
    }
}

TEST_F(ReportPdf, OneReadingGivesOnePageWithOneDetailLine) {
    const ReportRows rows = {{"1", "09:15:00", "AC", "230.4", "V", "AUTO"}};
    const QString pdf = Path("one.pdf");
    ASSERT_EQ(WriteReportPdf(pdf, rows), 1);
    ASSERT_EQ(PdfPages(pdf), 1);
    const QString text = PageText(pdf, 1);
    EXPECT_TRUE(text.contains(QStringLiteral("The Data Print Title")));
    EXPECT_TRUE(text.contains(QStringLiteral("The Data Print Foot")));
    EXPECT_TRUE(
        text.contains(QRegularExpression(QStringLiteral("\\n\\s*1\\s+09:15:00\\s+AC\\s+230\\.4\\s+V\\s+AUTO\\s*\\n"))))
        << text.toStdString();
}

TEST_F(ReportPdf, UnitSymbolsPrintAsTheMeterShowsThem) {
    struct Case {
        const char* codes;
        const char* shown;
    } cases[] = {{"+*", "µΩ"}, {"M*", "MΩ"}, {")", "▶|"}, {"&", "♫"}, {"+A", "µA"}};
    ReportRows rows;
    for (const auto& c : cases) {
        rows.push_back(
            {std::to_string(rows.size() + 1), "08:00:00", "DC", std::to_string(rows.size() + 7) + ".25", c.codes, ""});
    }
    const QString pdf = Path("units.pdf");
    ASSERT_EQ(WriteReportPdf(pdf, rows), 1);
    const QStringList lines = PageText(pdf, 1).split(QLatin1Char('\n'));
    for (size_t i = 0; i < rows.size(); ++i) {
        const QString value = QString::fromStdString(rows[i][3]);
        const auto line = std::find_if(lines.begin(), lines.end(), [&](const QString& l) { return l.contains(value); });
        ASSERT_NE(line, lines.end()) << cases[i].codes;
        EXPECT_TRUE(line->trimmed().endsWith(QString::fromUtf8(cases[i].shown)))
            << cases[i].codes << ": " << line->toStdString();
    }
}

// ---- fonts and positions on the paper ----

TEST_F(ReportPdf, ElementsStandAtTheirPositionsInTheirFonts) {
    const ReportRows rows = {{"42", "11:22:33", "DC", "-3.141", "+*", "AUTO"}};
    const QString pdf = Path("fonts.pdf");
    ASSERT_EQ(WriteReportPdf(pdf, rows), 1);
    const std::vector<PdfText> elements = PageElements(pdf, 1);
    // The form's design on A4 with 10 mm margins, in millimetres from the paper's corner: bands
    // at 10 (page header), 20.58 (column header), 31.16 (first detail) and 276.42 (footer).
    using K = ReportFontKind;
    struct Expect {
        QString text;
        double leftMm;  // negative: centred on the band
        double topMm;
        ReportFontKind font;
    };
    const double caption = 20.58 + 4.23;
    const double field = 31.16 + 2.12;
    const std::vector<Expect> expects = {
        {QStringLiteral("The Data Print Title"), -1, 10 + 2.12, K::Report},
        {QStringLiteral("No"), 10 + 8.47, caption, K::Report},
        {QStringLiteral("Time"), 10 + 33.87, caption, K::Report},
        {QStringLiteral("DC/AC"), 10 + 64.29, caption, K::Arial},
        {QStringLiteral("Value"), 10 + 99.48, caption, K::Report},
        {QStringLiteral("Unit"), 10 + 132.29, caption, K::Report},
        {QStringLiteral("AUTO"), 10 + 162.98, caption, K::Report},
        {QStringLiteral("42"), 10 + 8.47, field, K::Arial},
        {QStringLiteral("11:22:33"), 10 + 33.87, field, K::Arial},
        {QStringLiteral("DC"), 10 + 65.62, field, K::Arial},
        {QStringLiteral("-3.141"), 10 + 99.48, field, K::Arial},
        {QString::fromUtf8("µΩ"), 10 + 131.23, field, K::Report},
        {QStringLiteral("AUTO"), 10 + 162.98, field, K::Report},
        {QStringLiteral("The Data Print Foot"), 10 + 8.47, 276.42 + 4.23, K::Report},
    };
    for (const auto& e : expects) {
        // Captions and fields can share a text ("AUTO"): pick the one nearest the expected top.
        const PdfText* best = nullptr;
        for (const auto& t : elements) {
            if (t.text != e.text) continue;
            if (!best || std::abs(t.top - e.topMm * kPtPerMm) < std::abs(best->top - e.topMm * kPtPerMm)) best = &t;
        }
        ASSERT_NE(best, nullptr) << e.text.toStdString() << " not on the page";
        SCOPED_TRACE(e.text.toStdString());
        // Within 0.6 mm: pdftohtml rounds to whole points and measures the glyph box.
        if (e.leftMm >= 0) {
            EXPECT_NEAR(best->left, e.leftMm * kPtPerMm, 1.7);
        } else {
            EXPECT_GT(best->left, 10 * kPtPerMm + 100);
            EXPECT_LT(best->left, 105 * kPtPerMm);
        }
        EXPECT_NEAR(best->top, e.topMm * kPtPerMm, 1.7);
        EXPECT_TRUE(Squeezed(best->family).contains(Squeezed(FamilyOf(e.font))))
            << best->family.toStdString() << " instead of " << FamilyOf(e.font).toStdString();
    }
}

// ---- files ----

TEST_F(ReportPdf, EmptyTablePrintsNothingAndWritesNoFile) {
    const QString pdf = Path("empty.pdf");
    EXPECT_EQ(WriteReportPdf(pdf, {}), 0);
    EXPECT_FALSE(QFile::exists(pdf));
}

TEST_F(ReportPdf, UnwritableOutputIsAnErrorNamingTheFileAndLeavesNoFile) {
    const ReportRows rows = Session(3);
    const char* const targets[] = {"no-such-folder/out.pdf", "."};
    for (const char* target : targets) {
        const QString path = Path(target);
        try {
            WriteReportPdf(path, rows);
            ADD_FAILURE() << "no error for " << target;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(path.toStdString()), std::string::npos) << e.what();
        }
    }
    EXPECT_FALSE(QFileInfo::exists(Path("no-such-folder")));
}

TEST_F(ReportPdf, AnExistingFileIsReplacedByTheNewReport) {
    const QString pdf = Path("again.pdf");
    ASSERT_EQ(WriteReportPdf(pdf, Session(100)), PageCount(100, DefaultReportLayout()));
    ASSERT_EQ(WriteReportPdf(pdf, Session(1)), 1);
    EXPECT_EQ(PdfPages(pdf), 1);
    EXPECT_FALSE(PageText(pdf, 1).contains(QStringLiteral("1001.5")));
}

// A report that cannot be written leaves the old one whole: a read-only report is refused
// and keeps its pages and its permissions, and no temporary file is left beside it.
TEST_F(ReportPdf, AFailedWriteLeavesTheOldReportIntact) {
    const QString pdf = Path("kept.pdf");
    ASSERT_EQ(WriteReportPdf(pdf, Session(1)), 1);
    QFile f(pdf);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray old = f.readAll();
    f.close();
    ASSERT_TRUE(QFile::setPermissions(pdf, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    try {
        WriteReportPdf(pdf, Session(100));
        ADD_FAILURE() << "no error for a read-only report";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(pdf.toStdString()), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("read-only"), std::string::npos) << e.what();
    }
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), old);
    EXPECT_EQ(PdfPages(pdf), 1);
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("kept.pdf")});
}

// ---- painting onto any paged device ----

TEST_F(ReportPdf, PaintingFollowsThePaperOfTheDeviceAndStopsWhenAsked) {
    struct Case {
        const char* name;
        QPageSize::PageSizeId size;
        QPageLayout::Orientation orientation;
        int stopAfter;  // 0: never
    } cases[] = {
        {"A4 portrait", QPageSize::A4, QPageLayout::Portrait, 0},
        {"A5 portrait", QPageSize::A5, QPageLayout::Portrait, 0},
        {"A4 landscape", QPageSize::A4, QPageLayout::Landscape, 0},
        {"A4, stopped after page 2", QPageSize::A4, QPageLayout::Portrait, 2},
    };
    const ReportRows rows = Session(100);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString pdf = Path("device.pdf");
        QFile::remove(pdf);
        int expected = 0;
        {
            QPdfWriter writer(pdf);
            writer.setResolution(300);
            writer.setPageLayout(
                QPageLayout(QPageSize(c.size), c.orientation, QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
            const int all = PageCount(rows.size(), ReportLayoutFor(writer.pageLayout()));
            expected = c.stopAfter ? c.stopAfter : all;
            std::vector<int> seen;
            const int painted = PaintReport(writer, rows, [&](int done, int count) {
                EXPECT_EQ(count, all);
                seen.push_back(done);
                return done != c.stopAfter;
            });
            EXPECT_EQ(painted, expected);
            EXPECT_EQ(int(seen.size()), expected);
        }
        ASSERT_EQ(PdfPages(pdf), expected);
        // The last page painted ends with its own rows and still carries the footer.
        const QString last = PageText(pdf, expected);
        EXPECT_TRUE(last.contains(QStringLiteral("The Data Print Foot")));
        const QPageLayout layout(QPageSize(c.size), c.orientation, QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
        const PageRows onLast = RowsOnPage(expected - 1, rows.size(), ReportLayoutFor(layout));
        EXPECT_TRUE(last.contains(QString::fromStdString(rows[onLast.first + onLast.count - 1][3])));
    }
}

}  // namespace
