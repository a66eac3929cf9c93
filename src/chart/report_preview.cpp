#include "chart/report_preview.h"

#include <QGuiApplication>
#include <QScreen>

#include <QCoreApplication>
#include <QPointer>
#include <QPaintEngine>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProgressDialog>
#include <memory>

namespace {
QPrinter* NewReportPrinter() {
    auto* printer = new QPrinter(QPrinter::HighResolution);
    SetReportPage(*printer);
    printer->setCopyCount(1);
    printer->setDuplex(QPrinter::DuplexNone);
    printer->setPrintRange(QPrinter::AllPages);
    printer->setFromTo(0, 0);
    printer->setPaperSource(QPrinter::Auto);
    printer->setDocName(QString::fromLatin1(kReportTitle));
    return printer;
}
}  // namespace

ReportPreviewDialog::ReportPreviewDialog(std::function<ReportRows()> takeRows,
                                         std::function<void(std::exception_ptr)> onError, QWidget* parent)
    : QPrintPreviewDialog(NewReportPrinter(), parent),
      printer_(printer()),
      takeRows_(std::move(takeRows)),
      onError_(std::move(onError)) {
    setWindowTitle(tr("Print Preview"));
    // A sensible size whatever the table holds (an empty table gave the dialog only its tool
    // bar's height): a page in portrait at a readable scale, inside the screen.
    resize(DefaultSize(parent ? parent->screen() : QGuiApplication::primaryScreen()));
    // The printer must outlive the preview widget and the print dialogs that refer to it:
    // they are all gone when QObject's destructor announces the end of this dialog.
    // Generate() keeps its own reference while it runs.
    connect(this, &QObject::destroyed, [owned = printer_] { (void)owned; });
    connect(this, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* p) { Generate(p); });
}

ReportPreviewDialog::~ReportPreviewDialog() = default;

QSize ReportPreviewDialog::DefaultSize(const QScreen* screen) {
    QSize size(760, 900);
    if (screen) {
        const QSize avail = screen->availableGeometry().size();
        size = size.boundedTo(QSize(avail.width() * 9 / 10, avail.height() * 9 / 10));
    }
    return size.expandedTo(QSize(480, 360));
}

void ReportPreviewDialog::Generate(QPrinter* printer) {
    if (generating_) return;  // a nested request while the event loop runs between pages
    generating_ = true;
    cancelled_ = false;
    pagesGenerated_ = 0;
    // The preview records its pages as pictures; a print run paints on the printer's engine.
    const bool printing = printer->paintEngine() && printer->paintEngine()->type() != QPaintEngine::Picture;
    const QPointer<ReportPreviewDialog> self(this);
    const std::shared_ptr<QPrinter> keepPrinter = printer_;
    // Owned by its parent window as well: deleted here, or with the parent if that goes first.
    QPointer<QProgressDialog> progress;
    // While the event loop runs between pages the preview must not repaint: the pictures of
    // its previous pages are being replaced.
    QPointer<QWidget> view = findChild<QPrintPreviewWidget*>();
    struct Restore {
        QPointer<QProgressDialog>& progress;
        QPointer<QWidget>& view;
        bool viewWasEnabled;
        ~Restore() {
            delete progress.data();
            if (view && viewWasEnabled) view->setUpdatesEnabled(true);
        }
    } restore{progress, view, view && view->updatesEnabled()};
    try {
        if (!rowsTaken_) {
            rows_ = takeRows_ ? takeRows_() : ReportRows{};
            rowsTaken_ = true;
        }
        const int pages = PageCount(rows_.size(), ReportLayoutFor(printer->pageLayout()));
        const bool withProgress = pages > kPagesWithoutProgress;
        if (withProgress) {
            if (view) view->setUpdatesEnabled(false);
            progress = new QProgressDialog(tr("Generating the report pages..."), tr("Cancel"), 0, pages,
                                           parentWidget() ? parentWidget() : this);
            progress->setWindowTitle(tr("Print Preview"));
            progress->setWindowModality(Qt::ApplicationModal);
            progress->setMinimumDuration(0);
            progress->setAutoReset(false);
            progress->setAutoClose(false);
            // A print run is not cut short: the printer would get the pages painted so far.
            if (printing) progress->setCancelButton(nullptr);
            progress->setValue(0);
            progress_ = progress.data();
        }
        const int done = PaintReport(*printer, rows_, [&](int pageDone, int pageCount) {
            emit PageGenerated(pageDone, pageCount);
            if (!withProgress) return true;
            if (progress) progress->setValue(pageDone);
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            if (!self) return false;
            return printing || (progress && !progress->wasCanceled());
        });
        if (!self) return;
        pagesGenerated_ = done;
        cancelled_ = done < pages;
    } catch (...) {
        if (!self) return;
        progress_ = nullptr;
        generating_ = false;
        if (onError_) onError_(std::current_exception());
        return;
    }
    progress_ = nullptr;
    generating_ = false;
    // A cancelled preview closes: a report cut short is not offered for printing.
    if (cancelled_) QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
}
