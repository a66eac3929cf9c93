// Printed report of the record table: the "Print" speed button opens the report's print
// preview; the hidden "Print" button does nothing.
#include <QPrintPreviewDialog>
#include <QToolButton>

#include "app/application.h"
#include "app/tfcomm.h"
#include "chart/report.h"
#include "chart/report_preview.h"
#include "records/recordtable.h"

void TFCOMM::BindPrintHandlers() {
    GuardedConnect(BtPrint, &QToolButton::clicked, this, [this] { BtPrintClick(); });
    GuardedConnect(Print, &QToolButton::clicked, this, [this] { PrintClick(); });
}

void TFCOMM::BtPrintClick() {
    // One preview at a time: a click while it is showing only brings it to the front.
    if (QuickRep1Preview && QuickRep1Preview->isVisible()) {
        QuickRep1Preview->raise();
        QuickRep1Preview->activateWindow();
        return;
    }
    // The rows are copied when the pages are generated; readings recorded while the preview
    // is open are not in it.
    auto takeRows = [this]() -> ReportRows {
        if (!T22GDB) return {};
        return SnapshotRows(TableRowSource<RecordTable>(*T22GDB));
    };
    auto* preview = new ReportPreviewDialog(takeRows, HandleException, this);
    preview->setObjectName(QStringLiteral("QuickRep1Preview"));
    preview->setAttribute(Qt::WA_DeleteOnClose);
    QuickRep1Preview = preview;
    preview->show();
}

void TFCOMM::PrintClick() {}
