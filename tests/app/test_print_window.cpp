// Printing from the window: the "Print" speed button opens the report's print preview over the
// record table, one preview at a time, with the rows as they were when it opened; the hidden
// "Print" button does nothing. And the same report written by `ms42k report IN.db --pdf OUT`.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrintPreviewWidget>
#include <QScreen>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QToolButton>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/cli.h"
#include "app/tfcomm.h"
#include "window_test_support.h"
#include "chart/report.h"
#include "chart/report_preview.h"
#include "meter/segmentsymbols.h"
#include "records/datafiles.h"
#include "records/recordtable.h"

namespace {

const QString kEmptyTable = QStringLiteral(MS42K_TEST_DATA "/paradox/Ms35fdb.DB");

RecordRow Reading(int no) {
    RecordRow r;
    r.No = no;
    r.Time = EncodeTime(9, no / 60 % 60, no % 60);
    r.DcAc = no % 2 ? "DC" : "AC";
    r.Value = std::to_string(2000 + no) + ".7";
    r.Unit = no % 3 ? "+*" : "V";
    r.Auto = no % 2 ? "AUTO" : "";
    r.Nval = float(2000 + no) + 0.7f;
    return r;
}

// A window started in a folder with a fresh copy of the empty record table, the interactive
// hooks replaced so that nothing blocks.
class PrintWindowTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (HasFatalFailure()) return;
        StartWindow(InFolder());
        ASSERT_TRUE(w().T22GDB && w().T22GDB->IsOpen()) << "the record table did not open";
    }
    void Record(int n) {
        const int first = int(w().T22GDB->RowCount()) + 1;
        for (int i = 0; i < n; ++i) w().T22GDB->Append(Reading(first + i));
    }
    ReportPreviewDialog* Preview() { return w().findChild<ReportPreviewDialog*>(QStringLiteral("QuickRep1Preview")); }
    static int PreviewPages(ReportPreviewDialog* d) { return d->findChild<QPrintPreviewWidget*>()->pageCount(); }
    void ClickPrint() {
        Control<QToolButton>(w(), "BtPrint")->click();
        QCoreApplication::processEvents();
    }
    void ClosePreview() {
        Preview()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

    QuietUi ui_;  // every dialog recorded instead of shown
    std::vector<QString>& messages_ = ui_.messages;
    std::vector<QString>& errors_ = ui_.errors;
};

TEST_F(PrintWindowTest, PrintButtonPreviewsEveryRowOfTheRecordTable) {
    struct Case {
        const char* name;
        int rows;
    } cases[] = {{"empty table: no pages", 0}, {"one reading", 1}, {"100 readings", 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        w().T22GDB->Empty();
        Record(c.rows);
        ClickPrint();
        ReportPreviewDialog* d = Preview();
        ASSERT_NE(d, nullptr);
        EXPECT_TRUE(d->isVisible());
        EXPECT_EQ(d->parent(), &w());
        ASSERT_EQ(d->Rows().size(), size_t(c.rows));
        for (size_t r = 0; r < d->Rows().size(); ++r) {
            for (int col = 0; col < kReportColumns; ++col) {
                EXPECT_EQ(d->Rows()[r][size_t(col)], w().T22GDB->CellText(r, col)) << "row " << r << " column " << col;
            }
        }
        EXPECT_EQ(PreviewPages(d), PageCount(size_t(c.rows), DefaultReportLayout()));
        // A page-sized window whatever the table holds, inside the screen.
        QCoreApplication::processEvents();
        EXPECT_GE(d->height(), 360);
        EXPECT_GE(d->width(), 480);
        EXPECT_TRUE(d->screen()->availableGeometry().size().expandedTo(QSize(480, 360)).boundedTo(d->size()) ==
                    d->size());
        ClosePreview();
        EXPECT_EQ(w().findChild<QPrintPreviewDialog*>(QStringLiteral("QuickRep1Preview")), nullptr);
    }
    EXPECT_TRUE(errors_.empty());
    EXPECT_TRUE(messages_.empty());
}

TEST_F(PrintWindowTest, ReadingsRecordedWhileThePreviewIsOpenShowOnlyInTheNextPreview) {
    Record(40);
    ClickPrint();
    ReportPreviewDialog* first = Preview();
    ASSERT_NE(first, nullptr);

    Record(5);     // the meter goes on recording
    ClickPrint();  // a second click while the preview shows: no new preview, no new rows
    EXPECT_EQ(Preview(), first);
    EXPECT_EQ(w().findChildren<ReportPreviewDialog*>().size(), 1);
    EXPECT_EQ(first->Rows().size(), 40u);
    EXPECT_EQ(w().T22GDB->RowCount(), 45u);

    ClosePreview();
    ClickPrint();
    ASSERT_NE(Preview(), nullptr);
    EXPECT_EQ(Preview()->Rows().size(), 45u);
    EXPECT_EQ(w().findChildren<ReportPreviewDialog*>().size(), 1);
}

TEST_F(PrintWindowTest, HiddenPrintButtonDoesNothing) {
    Record(3);
    ASSERT_TRUE(Control<QToolButton>(w(), "Print")->isHidden());
    w().PrintClick();
    Control<QToolButton>(w(), "Print")->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(w().findChild<QPrintPreviewDialog*>(QStringLiteral("QuickRep1Preview")), nullptr);
    EXPECT_TRUE(w().findChildren<QPrintPreviewDialog*>().isEmpty());
    EXPECT_EQ(w().T22GDB->RowCount(), 3u);
    EXPECT_TRUE(errors_.empty());
    EXPECT_TRUE(messages_.empty());
}

TEST_F(PrintWindowTest, ThePreviewGoesWithTheWindow) {
    Record(2);
    ClickPrint();
    QPointer<QPrintPreviewDialog> d = w().findChild<QPrintPreviewDialog*>(QStringLiteral("QuickRep1Preview"));
    ASSERT_FALSE(d.isNull());
    window_.reset();
    EXPECT_TRUE(d.isNull());
}

// ---- ms42k report IN.db --pdf OUT.pdf ----

class ReportCommandTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    std::string Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)).toStdString(); }
    // A record table file holding n readings, written as the window's Save writes it.
    std::string TableWith(int n, const char* name) {
        const QString work = dir_.filePath(QStringLiteral("work.DB"));
        QFile::remove(work);
        EXPECT_TRUE(QFile::copy(kEmptyTable, work));
        RecordTable t;
        t.Open(work.toStdString());
        for (int i = 1; i <= n; ++i) t.Append(Reading(i));
        SaveTable(t, Path(name));
        return Path(name);
    }
    struct Result {
        int status;
        std::string out;
        std::string err;
    };
    Result Run(const CliArgs& args) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = CmdReport(args);
        Result r{status, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
        return r;
    }
    static QString PdfText(const std::string& pdf) {
        QProcess p;
        p.start(QStringLiteral("pdftotext"),
                {QStringLiteral("-layout"), QString::fromStdString(pdf), QStringLiteral("-")});
        p.waitForFinished(60000);
        return QString::fromUtf8(p.readAllStandardOutput());
    }
    QTemporaryDir dir_;
};

TEST_F(ReportCommandTest, WritesTheReportOfEveryRow) {
    const std::string in = TableWith(100, "session.db");
    const std::string out = Path("session.pdf");
    const Result r = Run({in, "--pdf", out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(out)));

    const QString text = PdfText(out);
    const int pages = PageCount(100, DefaultReportLayout());
    // pdftotext ends every page with a form feed.
    EXPECT_EQ(text.count(QLatin1Char('\f')), pages);
    EXPECT_EQ(text.count(QStringLiteral("The Data Print Title")), pages);
    EXPECT_EQ(text.count(QStringLiteral("The Data Print Foot")), pages);
    for (int i = 1; i <= 100; ++i) {
        const RecordRow row = Reading(i);
        EXPECT_TRUE(
            text.contains(QRegularExpression(QStringLiteral("\\n\\s*%1\\s+\\d\\d:\\d\\d:\\d\\d\\s+%2\\s+%3\\s+%4")
                                                 .arg(i)
                                                 .arg(QString::fromStdString(row.DcAc))
                                                 .arg(QRegularExpression::escape(QString::fromStdString(row.Value)))
                                                 .arg(QRegularExpression::escape(SegmentText(row.Unit))))))
            << "row " << i;
    }
}

TEST_F(ReportCommandTest, ArgumentsAndFailures) {
    const std::string good = TableWith(3, "three.db");
    const std::string empty = TableWith(0, "empty.db");
    const std::string notATable = Path("notes.db");
    {
        QFile f(QString::fromStdString(notATable));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("this is not a table\n");
    }
    struct Case {
        const char* name;
        CliArgs args;
        int status;
        const char* errorPart;  // a part of the error text; empty: no error text
        std::string output;     // a PDF that must (status 0, non-empty table) or must not exist
        bool written;
    } cases[] = {
        {"no arguments", {}, 2, "usage", "", false},
        {"no --pdf", {good}, 2, "usage", "", false},
        {"--pdf without a file", {good, "--pdf"}, 2, "usage", "", false},
        {"two tables", {good, good, "--pdf", Path("x.pdf")}, 2, "usage", Path("x.pdf"), false},
        {"unknown option", {good, "--png", Path("y.pdf")}, 2, "usage", Path("y.pdf"), false},
        {"missing table", {Path("none.db"), "--pdf", Path("a.pdf")}, 1, "none.db", Path("a.pdf"), false},
        {"not a table", {notATable, "--pdf", Path("b.pdf")}, 1, "notes.db", Path("b.pdf"), false},
        {"unwritable output", {good, "--pdf", Path("missing/c.pdf")}, 1, "missing/c.pdf", Path("missing/c.pdf"), false},
        {"empty table: nothing to print", {empty, "--pdf", Path("d.pdf")}, 0, "", Path("d.pdf"), false},
        {"options in any order", {"--pdf", Path("e.pdf"), good}, 0, "", Path("e.pdf"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        if (*c.errorPart) {
            EXPECT_NE(r.err.find(c.errorPart), std::string::npos) << r.err;
        } else {
            EXPECT_TRUE(r.err.empty()) << r.err;
        }
        if (!c.output.empty()) {
            EXPECT_EQ(QFileInfo::exists(QString::fromStdString(c.output)), c.written);
        }
    }
}

}  // namespace
