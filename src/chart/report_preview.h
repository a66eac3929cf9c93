#pragma once
// The print preview of the record-table report: zoom, page navigation, page set-up, printing
// through the system's print dialog (and PDF output from there). The dialog owns its printer,
// set up for the report (A4 portrait, 10 mm margins, one copy, no duplex, all pages).
//
// Rows: the row source is read once, when the pages are first generated. Every later
// generation (a new page set-up, the print run) paints that same snapshot, so what is printed
// is what was previewed; readings recorded while the preview is open do not appear in it.
//
// Large tables: when a report has more than kPagesWithoutProgress pages, a modal progress
// dialog with a Cancel button counts the pages while they are generated and the event loop
// runs after every page (timers, the meter link and repaints go on; user input goes to the
// progress dialog only). Cancel ends the preview; a print run has no Cancel, so the printer
// never gets a report cut short.
#include <QPrintPreviewDialog>

class QScreen;
#include <QString>
#include <exception>
#include <functional>
#include <memory>

#include "chart/report.h"

class QPrinter;
class QProgressDialog;

class ReportPreviewDialog : public QPrintPreviewDialog {
    Q_OBJECT
public:
    static constexpr int kPagesWithoutProgress = 5;

    // `takeRows` is called once, at the first generation of the pages. `onError` receives an
    // exception raised while taking the rows or painting (the preview then shows no pages).
    ReportPreviewDialog(std::function<ReportRows()> takeRows, std::function<void(std::exception_ptr)> onError,
                        QWidget* parent = nullptr);
    ~ReportPreviewDialog() override;
    // The size the preview opens with: 760 x 900, at most nine tenths of the screen.
    static QSize DefaultSize(const QScreen* screen);

    QPrinter* ReportPrinter() const { return printer_.get(); }
    // The rows of the report (empty until the first generation).
    const ReportRows& Rows() const { return rows_; }
    bool RowsTaken() const { return rowsTaken_; }
    // Pages painted by the last generation, and whether it was cancelled.
    int PagesGenerated() const { return pagesGenerated_; }
    bool Cancelled() const { return cancelled_; }
    bool Generating() const { return generating_; }
    // The progress dialog while a long generation runs (null otherwise).
    QProgressDialog* Progress() const { return progress_; }

signals:
    // After each generated page (done of pages).
    void PageGenerated(int done, int pages);

private:
    void Generate(QPrinter* printer);

    std::shared_ptr<QPrinter> printer_;
    std::function<ReportRows()> takeRows_;
    std::function<void(std::exception_ptr)> onError_;
    ReportRows rows_;
    bool rowsTaken_ = false;
    bool generating_ = false;
    bool cancelled_ = false;
    int pagesGenerated_ = 0;
    QProgressDialog* progress_ = nullptr;
};
