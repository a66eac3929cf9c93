// ms42k convert IN OUT: opens IN as the window's Open does and saves it to OUT as Save does
// (".db" gives a Paradox copy, any other name tab-separated text).
#include <QCommandLineParser>
#include <cstdio>

#include "app/cli.h"
#include "records/datafiles.h"
#include "records/recordtable.h"

namespace {
const std::string kSynopsis = "convert IN OUT   (OUT ending in .db: a Paradox copy, else tab-separated text)";
}  // namespace

int CmdConvert(const CliArgs& args) {
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("IN"), QStringLiteral("the old table file"));
    parser.addPositionalArgument(QStringLiteral("OUT"), QStringLiteral("the file to write"));
    if (const int status = ParseSubcommandArgs(parser, {}, kSynopsis, args); status >= 0) return status;
    const QStringList files = parser.positionalArguments();
    if (files.size() != 2) return SubcommandUsageError(kSynopsis, "IN and OUT are needed");
    const std::string in = files[0].toLocal8Bit().toStdString();
    const std::string out = files[1].toLocal8Bit().toStdString();
    RecordTable table;
    try {
        table.Open(in);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    const SaveForm form = SaveFormFor(out);
    try {
        const SaveOutcome result = SaveTable(table, out);
        for (const auto& note : result.notes) std::fprintf(stderr, "warning: %s\n", note.c_str());
    } catch (const std::exception& e) {
        if (form == SaveForm::Text) std::fprintf(stderr, "%s\n", TextSaveFailedMessage(out).c_str());
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    if (form == SaveForm::Text) std::printf("%s\n", TextSavedMessage(out).c_str());
    return 0;
}
