// The report's print preview: its printer settings, the one snapshot of the rows that every
// generation paints, errors while generating, and long reports that keep the event loop
// running and can be cancelled.
#include <gtest/gtest.h>

#include <QGraphicsView>
#include <QPageLayout>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QPageSize>
#include <QPointer>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProgressDialog>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <stdexcept>
#include <string>

#include "chart/report.h"
#include "chart/report_preview.h"

namespace {

ReportRows Rows(int n, int firstNo = 1) {
    ReportRows rows;
    for (int i = 0; i < n; ++i) {
        rows.push_back(
            {std::to_string(firstNo + i), "12:00:00", "DC", std::to_string(firstNo + i) + ".000", "V", "AUTO"});
    }
    return rows;
}

QPrintPreviewWidget* PreviewWidget(QPrintPreviewDialog& d) { return d.findChild<QPrintPreviewWidget*>(); }

// A preview over a table the test can grow, counting how often the rows are read.
struct Fixture {
    ReportRows table;
    int reads = 0;
    std::vector<std::string> errors;
    QPointer<ReportPreviewDialog> dialog;

    ReportPreviewDialog* Open() {
        dialog = new ReportPreviewDialog(
            [this] {
                ++reads;
                return table;
            },
            [this](std::exception_ptr e) {
                try {
                    std::rethrow_exception(e);
                } catch (const std::exception& x) {
                    errors.push_back(x.what());
                }
            });
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        return dialog;
    }
    ~Fixture() { delete dialog.data(); }
};

TEST(ReportPreview, PrinterIsSetUpForTheReport) {
    Fixture f;
    const QPrinter* p = f.Open()->ReportPrinter();
    const QPageLayout layout = p->pageLayout();
    EXPECT_EQ(layout.pageSize().id(), QPageSize::A4);
    EXPECT_EQ(layout.orientation(), QPageLayout::Portrait);
    const QMarginsF m = layout.margins(QPageLayout::Millimeter);
    for (double side : {m.left(), m.top(), m.right(), m.bottom()}) EXPECT_NEAR(side, 10.0, 0.01);
    EXPECT_EQ(p->copyCount(), 1);
    EXPECT_EQ(p->duplex(), QPrinter::DuplexNone);
    EXPECT_EQ(p->printRange(), QPrinter::AllPages);
    EXPECT_EQ(p->fromPage(), 0);
    EXPECT_EQ(p->toPage(), 0);
}

TEST(ReportPreview, PagesAreGeneratedWhenShownFromOneSnapshotOfTheRows) {
    struct Case {
        const char* name;
        int rows;
    } cases[] = {{"empty table", 0}, {"one reading", 1}, {"a page and one", 38}, {"100 rows", 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.table = Rows(c.rows);
        ReportPreviewDialog* d = f.Open();
        EXPECT_FALSE(d->RowsTaken());  // nothing is read before the pages are generated
        d->show();
        QCoreApplication::processEvents();
        const int pages = PageCount(size_t(c.rows), DefaultReportLayout());
        EXPECT_EQ(f.reads, 1);
        EXPECT_EQ(d->Rows().size(), size_t(c.rows));
        EXPECT_EQ(d->PagesGenerated(), pages);
        ASSERT_NE(PreviewWidget(*d), nullptr);
        EXPECT_EQ(PreviewWidget(*d)->pageCount(), pages);

        // Readings recorded while the preview is open: a new generation (another page set-up,
        // the print run) paints the same rows as before.
        f.table = Rows(c.rows + 40);
        PreviewWidget(*d)->updatePreview();
        QCoreApplication::processEvents();
        EXPECT_EQ(f.reads, 1);
        EXPECT_EQ(d->Rows().size(), size_t(c.rows));
        EXPECT_EQ(PreviewWidget(*d)->pageCount(), pages);
        EXPECT_TRUE(f.errors.empty());
    }
}

TEST(ReportPreview, AnErrorWhileTakingTheRowsReachesTheErrorHandler) {
    std::vector<std::string> errors;
    QPointer<ReportPreviewDialog> d =
        new ReportPreviewDialog([]() -> ReportRows { throw std::runtime_error("table is not readable"); },
                                [&](std::exception_ptr e) {
                                    try {
                                        std::rethrow_exception(e);
                                    } catch (const std::exception& x) {
                                        errors.push_back(x.what());
                                    }
                                });
    d->show();
    QCoreApplication::processEvents();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "table is not readable");
    EXPECT_EQ(PreviewWidget(*d)->pageCount(), 0);
    EXPECT_FALSE(d->Generating());
    delete d.data();
}

// ---- long reports ----

TEST(ReportPreviewLong, ShortReportsNeedNoProgressDialog) {
    const int perPage = DetailLinesPerPage(DefaultReportLayout());
    struct Case {
        int rows;
        bool progress;
    } cases[] = {{perPage * ReportPreviewDialog::kPagesWithoutProgress, false},
                 {perPage * ReportPreviewDialog::kPagesWithoutProgress + 1, true}};
    for (const auto& c : cases) {
        Fixture f;
        f.table = Rows(c.rows);
        ReportPreviewDialog* d = f.Open();
        bool sawProgress = false;
        QObject::connect(d, &ReportPreviewDialog::PageGenerated, d,
                         [&] { sawProgress = sawProgress || d->Progress() != nullptr; });
        d->show();
        EXPECT_EQ(sawProgress, c.progress) << c.rows << " rows";
        EXPECT_EQ(d->Progress(), nullptr);  // gone when the pages are done
    }
}

TEST(ReportPreviewLong, TenThousandRowsKeepTheEventLoopRunning) {
    Fixture f;
    f.table = Rows(10000);
    ReportPreviewDialog* d = f.Open();
    // A timer of the application (as the meter link's timers are) ticks between the pages.
    int ticksWhileGenerating = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ticksWhileGenerating += d->Generating(); });
    tick.start(0);
    bool modal = false;
    QObject::connect(d, &ReportPreviewDialog::PageGenerated, d, [&] {
        if (d->Progress()) modal = modal || d->Progress()->windowModality() == Qt::ApplicationModal;
    });
    d->show();
    tick.stop();
    const int pages = PageCount(10000, DefaultReportLayout());
    EXPECT_EQ(d->PagesGenerated(), pages);
    EXPECT_EQ(PreviewWidget(*d)->pageCount(), pages);
    EXPECT_FALSE(d->Cancelled());
    EXPECT_GT(ticksWhileGenerating, 0);
    EXPECT_TRUE(modal);
}

TEST(ReportPreviewLong, CancelStopsTheGenerationAndClosesThePreview) {
    Fixture f;
    f.table = Rows(2000);
    ReportPreviewDialog* d = f.Open();
    QObject::connect(d, &ReportPreviewDialog::PageGenerated, d, [&](int done, int) {
        if (done == 7 && d->Progress()) d->Progress()->cancel();
    });
    QSignalSpy rejected(d, &QDialog::rejected);
    d->show();
    EXPECT_TRUE(d->Cancelled());
    // The page that saw the cancel is the last one painted.
    EXPECT_LE(d->PagesGenerated(), 8);
    EXPECT_GE(d->PagesGenerated(), 7);
    EXPECT_TRUE(rejected.count() == 1 || rejected.wait(2000));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(f.dialog.isNull());  // closed and deleted
}

TEST(ReportPreviewLong, RegeneratingWhileThePreviewRepaintsIsSafe) {
    Fixture f;
    f.table = Rows(2000);
    ReportPreviewDialog* d = f.Open();
    d->show();
    QCoreApplication::processEvents();
    const int pages = PageCount(2000, DefaultReportLayout());
    ASSERT_EQ(PreviewWidget(*d)->pageCount(), pages);
    // Repaint requests between the pages of a new generation (the old pages' pictures are
    // being replaced meanwhile).
    QGraphicsView* view = PreviewWidget(*d)->findChild<QGraphicsView*>();
    ASSERT_NE(view, nullptr);
    int repaintRequests = 0;
    QObject::connect(d, &ReportPreviewDialog::PageGenerated, d, [&] {
        view->viewport()->repaint();
        PreviewWidget(*d)->repaint();
        ++repaintRequests;
    });
    PreviewWidget(*d)->updatePreview();
    QCoreApplication::processEvents();
    EXPECT_EQ(repaintRequests, pages);
    EXPECT_EQ(PreviewWidget(*d)->pageCount(), pages);
    EXPECT_TRUE(PreviewWidget(*d)->updatesEnabled());
    view->viewport()->repaint();  // the new pages draw
}

TEST(ReportPreviewLong, APrintRunPaintsTheWholeSnapshotAndCannotBeCancelled) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Fixture f;
    f.table = Rows(1000);
    ReportPreviewDialog* d = f.Open();
    d->show();
    QCoreApplication::processEvents();
    f.table = Rows(5);  // recorded after the preview opened: not printed

    const QString pdf = dir.filePath(QStringLiteral("printed.pdf"));
    d->ReportPrinter()->setOutputFormat(QPrinter::PdfFormat);
    d->ReportPrinter()->setOutputFileName(pdf);
    bool cancelOffered = false;
    QObject::connect(d, &ReportPreviewDialog::PageGenerated, d, [&](int done, int) {
        QProgressDialog* p = d->Progress();
        if (!p) return;
        cancelOffered = cancelOffered || p->findChild<QPushButton*>() != nullptr;
        if (done == 3) p->cancel();  // as a press of Escape would
    });
    PreviewWidget(*d)->print();
    EXPECT_FALSE(cancelOffered);
    EXPECT_FALSE(d->Cancelled());
    const int pages = PageCount(1000, DefaultReportLayout());
    EXPECT_EQ(d->PagesGenerated(), pages);

    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {pdf});
    ASSERT_TRUE(info.waitForFinished(60000));
    const auto m =
        QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(QString::fromUtf8(info.readAllStandardOutput()));
    ASSERT_TRUE(m.hasMatch());
    EXPECT_EQ(m.captured(1).toInt(), pages);
    EXPECT_TRUE(d->isVisible());  // the preview stays open after printing
}

}  // namespace
