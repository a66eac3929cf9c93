#include "app/cli.h"

#include <cstdio>
#include <cstring>

#include "app/application.h"
#include "app/startfolder.h"
#include "app/tfcomm.h"

namespace {
struct Subcommand {
    const char* name;
    const char* usage;
    int (*run)(const CliArgs&);
};

// Each subcommand joins this table when its area provides it.
const Subcommand kSubcommands[] = {
    {"report", "report IN.db --pdf OUT.pdf   the record table's printed report as a PDF file", CmdReport},
    {"convert", "convert IN OUT               an old table file as text (or, for OUT ending in .db, a Paradox copy)", CmdConvert},
    {"decode", "decode [FILE]                decode frame texts (one per line; stdin without FILE)", CmdDecode},
    {"log", "log [--simulate|--frames FILE] [--count N] [--limit N] [--interval S] [--repeat] [--out FILE]", CmdLog},
    {nullptr, nullptr, nullptr},
};

void PrintHelp() {
    std::printf(
        "ms42k %s - interface program of the MS42K multimeter\n\n"
        "usage:\n"
        "  ms42k                 open the window\n"
        "  ms42k --simulate      open the window with a simulated cable and meter plugged in\n"
        "  ms42k --com1 PATH     use the serial device PATH as COM1 (or set MS42K_COM1=PATH)\n"
        "  ms42k --user-folder   work in ~/Documents/ms42k (made if missing), as the desktop menu does\n"
        "  ms42k --help          this text\n"
        "  ms42k --version       the version\n",
        MS42K_VERSION);
    bool any = false;
    for (const auto& s : kSubcommands) {
        if (!s.name) continue;
        if (!any) std::printf("\nsubcommands:\n");
        any = true;
        std::printf("  ms42k %s\n", s.usage);
    }
}

int RunWindow(int argc, char** argv, const AppOptions& options) {
    Ms42kApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ms42k"));
    TFCOMM window(options);
    window.show();
    return app.exec();
}
}  // namespace

int RunMain(int argc, char** argv) {
    AppOptions options;
    CliArgs rest;
    for (int i = 1; i < argc; ++i) rest.emplace_back(argv[i]);

    if (!rest.empty() && rest[0][0] != '-') {
        for (const auto& s : kSubcommands) {
            if (s.name && rest[0] == s.name) {
                try {
                    return s.run(CliArgs(rest.begin() + 1, rest.end()));
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "ms42k %s: %s\n", s.name, e.what());
                    return 1;
                }
            }
        }
        std::fprintf(stderr, "ms42k: unknown subcommand '%s' (see ms42k --help)\n", rest[0].c_str());
        return 2;
    }
    for (size_t i = 0; i < rest.size(); ++i) {
        const std::string& a = rest[i];
        if (a == "--help" || a == "-h") {
            PrintHelp();
            return 0;
        }
        if (a == "--version") {
            std::printf("ms42k %s\n", MS42K_VERSION);
            return 0;
        }
        if (a == "--com1" && i + 1 < rest.size()) {
            options.com1Path = rest[++i];
            continue;
        }
        if (a == "--user-folder") {
            const QString problem = EnterUserWorkFolder();
            if (!problem.isEmpty()) {
                std::fprintf(stderr, "ms42k: %s\n", problem.toLocal8Bit().constData());
                return 1;
            }
            continue;
        }
        if (ApplyWindowOption(a, options)) continue;
        std::fprintf(stderr, "ms42k: unknown option '%s' (see ms42k --help)\n", a.c_str());
        return 2;
    }
    return RunWindow(argc > 0 ? 1 : 0, argv, options);
}
