// ms42k convert IN OUT: opens IN as the window's Open does and saves it to OUT as Save does
// (".db" gives a Paradox copy, any other name tab-separated text).
#include <cstdio>

#include "app/cli.h"
#include "records/datafiles.h"
#include "records/recordtable.h"

int CmdConvert(const CliArgs& args) {
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: ms42k convert IN OUT\n");
        return 2;
    }
    const std::string& in = args[0];
    const std::string& out = args[1];
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
