// ms42k report IN.db --pdf OUT.pdf: the record table's printed report written to a PDF file,
// without a window.
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QString>
#include <cstdio>
#include <memory>

#include "app/cli.h"
#include "chart/report.h"
#include "records/recordtable.h"

namespace {
const std::string kSynopsis = "report IN.db --pdf OUT.pdf";
}  // namespace

int CmdReport(const CliArgs& args) {
    QCommandLineParser parser;
    const QCommandLineOption pdf(QStringLiteral("pdf"), QStringLiteral("the PDF file to write"),
                                 QStringLiteral("OUT.pdf"));
    parser.addPositionalArgument(QStringLiteral("IN.db"), QStringLiteral("the record table"));
    if (const int status = ParseSubcommandArgs(parser, {pdf}, kSynopsis, args); status >= 0) return status;
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) return SubcommandUsageError(kSynopsis, "one table file IN.db is needed");
    if (parser.values(pdf).size() != 1 || parser.value(pdf).isEmpty())
        return SubcommandUsageError(kSynopsis, "--pdf OUT.pdf is needed once");
    const std::string in = files[0].toLocal8Bit().toStdString();
    const std::string out = parser.value(pdf).toLocal8Bit().toStdString();

    // Fonts and PDF painting need a GUI application object; no window is shown, so no
    // display is needed either.
    const auto app = SubcommandApplication(true);

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
        std::printf("%s: the record table is empty; nothing to print, no file written\n", in.c_str());
        return 0;
    }
    std::printf("%s: %zu rows, %d pages\n", out.c_str(), rows.size(), pages);
    return 0;
}
