// ms42k report IN.db --pdf OUT.pdf: the record table's printed report written to a PDF file,
// without a window.
#include <QGuiApplication>
#include <QString>
#include <cstdio>
#include <memory>

#include "app/cli.h"
#include "chart/report.h"
#include "records/recordtable.h"

namespace {
int Usage() {
    std::fprintf(stderr, "usage: ms42k report IN.db --pdf OUT.pdf\n");
    return 2;
}
}  // namespace

int CmdReport(const CliArgs& args) {
    std::string in;
    std::string out;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--pdf") {
            if (i + 1 >= args.size() || !out.empty()) return Usage();
            out = args[++i];
        } else if (!args[i].empty() && args[i][0] != '-' && in.empty()) {
            in = args[i];
        } else {
            return Usage();
        }
    }
    if (in.empty() || out.empty()) return Usage();

    // Fonts and PDF painting need a GUI application object; no window is shown, so no
    // display is needed either.
    std::unique_ptr<QGuiApplication> app;
    if (!QCoreApplication::instance()) {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "ms42k";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
    }

    // The table is opened as the window opens it (an exclusive lock while it is read).
    RecordTable table;
    try {
        table.Open(in);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ms42k report: %s\n", e.what());
        return 1;
    }
    const ReportRows rows = SnapshotRows(TableRowSource<RecordTable>(table));
    table.Close();

    int pages = 0;
    try {
        pages = WriteReportPdf(QString::fromLocal8Bit(out.c_str()), rows);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ms42k report: %s\n", e.what());
        return 1;
    }
    if (pages == 0) {
        std::printf("%s: the record table is empty; nothing to print, no file written\n",
                    in.c_str());
        return 0;
    }
    std::printf("%s: %zu rows, %d pages\n", out.c_str(), rows.size(), pages);
    return 0;
}
