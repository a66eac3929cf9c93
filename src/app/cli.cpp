#include "app/cli.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QStringList>
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
    {"convert", "convert IN OUT               an old table file as text (or, for OUT ending in .db, a Paradox copy)",
     CmdConvert},
    {"decode", "decode [FILE]                decode frame texts (one per line; stdin without FILE)", CmdDecode},
    {"log",
     "log [--simulate | --frames FILE] [--count N] [--time SECONDS] [--limit N] [--interval SECONDS]\n"
     "                 [--repeat] [--format text|csv|db] [--out FILE]\n"
     "                               record readings from the cable without a window",
     CmdLog},
    {"scan", "scan [--simulate]            list the HID devices and which of them is the cable", CmdScan},
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
        if (!any) std::printf("\nsubcommands (each with --help):\n");
        any = true;
        std::printf("  ms42k %s\n", s.usage);
    }
    std::printf("\nexit status: 0 success, 1 failure, 2 usage error\n");
}

int RunWindow(int argc, char** argv, const AppOptions& options) {
    Ms42kApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ms42k"));
    TFCOMM window(options);
    window.show();
    return app.exec();
}

QStringList ParserInput(const std::string& program, const CliArgs& args) {
    QStringList list{QString::fromStdString(program)};
    for (const auto& a : args) list << QString::fromLocal8Bit(a.c_str());
    return list;
}

// The options' part of a help text: names, value name and description, one option a line.
std::string OptionsHelp(const QList<QCommandLineOption>& options) {
    std::vector<std::pair<std::string, std::string>> rows;
    size_t width = 0;
    for (const auto& o : options) {
        QString names;
        for (const QString& n : o.names()) {
            if (!names.isEmpty()) names += QStringLiteral(", ");
            names += (n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n;
        }
        if (!o.valueName().isEmpty()) names += QLatin1Char(' ') + o.valueName();
        rows.emplace_back(names.toStdString(), o.description().toStdString());
        width = std::max(width, rows.back().first.size());
    }
    std::string out = "options:\n";
    for (const auto& [names, description] : rows) {
        out += "  " + names + std::string(width - names.size() + 2, ' ');
        // Continuation lines of a description line up under its first line.
        for (char c : description) {
            out += c;
            if (c == '\n') out += std::string(width + 4, ' ');
        }
        out += '\n';
    }
    return out;
}
}  // namespace

int SubcommandUsageError(const std::string& synopsis, const std::string& why) {
    const std::string name = synopsis.substr(0, synopsis.find(' '));
    std::fprintf(stderr, "ms42k %s: %s\nusage: ms42k %s\n(ms42k %s --help tells more)\n", name.c_str(), why.c_str(),
                 synopsis.c_str(), name.c_str());
    return kExitUsage;
}

int ParseSubcommandArgs(QCommandLineParser& parser, QList<QCommandLineOption> options, const std::string& synopsis,
                        const CliArgs& args) {
    const std::string name = synopsis.substr(0, synopsis.find(' '));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("this text"));
    options.append(help);
    parser.addOptions(options);
    // A single dash before a long name is taken as two ("-out" as "--out").
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const bool parsed = parser.parse(ParserInput("ms42k " + name, args));
    // --help wins over the other arguments, even over wrong ones.
    if (parser.isSet(help)) {
        std::printf("usage: ms42k %s\n\n%s\nexit status: 0 success, 1 failure, 2 usage error\n", synopsis.c_str(),
                    OptionsHelp(options).c_str());
        return kExitOk;
    }
    if (!parsed) return SubcommandUsageError(synopsis, parser.errorText().toStdString());
    return -1;
}

std::unique_ptr<QCoreApplication> SubcommandApplication(bool gui) {
    if (QCoreApplication::instance()) return nullptr;
    static int argc = 1;
    static char name[] = "ms42k";
    static char* argv[] = {name, nullptr};
    if (!gui) return std::make_unique<QCoreApplication>(argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QGuiApplication>(argc, argv);
}

int ParseWindowArgs(const CliArgs& args, AppOptions& options) {
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption simulate(QStringLiteral("simulate"));
    const QCommandLineOption com1(QStringLiteral("com1"), QString(), QStringLiteral("PATH"));
    const QCommandLineOption userFolder(QStringLiteral("user-folder"));
    parser.addOptions({help, version, simulate, com1, userFolder});
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const bool parsed = parser.parse(ParserInput("ms42k", args));
    options.userFolder = parsed && parser.isSet(userFolder);
    if (parsed && parser.isSet(help)) {
        PrintHelp();
        return kExitOk;
    }
    if (parsed && parser.isSet(version)) {
        std::printf("ms42k %s\n", MS42K_VERSION);
        return kExitOk;
    }
    std::string why;
    if (!parsed)
        why = parser.errorText().toStdString();
    else if (!parser.positionalArguments().isEmpty())
        why = "unexpected argument '" + parser.positionalArguments().first().toStdString() + "'";
    else if (parser.isSet(com1) && parser.value(com1).isEmpty())
        why = "--com1 needs the path of a serial device";
    if (!why.empty()) {
        std::fprintf(stderr, "ms42k: %s (see ms42k --help)\n", why.c_str());
        return kExitUsage;
    }
    if (parser.isSet(com1)) options.com1Path = parser.value(com1).toLocal8Bit().toStdString();
    if (parser.isSet(simulate)) ApplyWindowOption("--simulate", options);
    return -1;
}

int RunMain(int argc, char** argv) {
    AppOptions options;
    CliArgs rest;
    for (int i = 1; i < argc; ++i) rest.emplace_back(argv[i]);

    if (!rest.empty() && !rest[0].empty() && rest[0][0] != '-') {
        for (const auto& s : kSubcommands) {
            if (s.name && rest[0] == s.name) {
                try {
                    return s.run(CliArgs(rest.begin() + 1, rest.end()));
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "ms42k %s: %s\n", s.name, e.what());
                    return kExitFailure;
                }
            }
        }
        std::fprintf(stderr, "ms42k: unknown subcommand '%s' (see ms42k --help)\n", rest[0].c_str());
        return kExitUsage;
    }
    const int status = ParseWindowArgs(rest, options);
    if (status == kExitUsage) return status;
    // The user's folder is entered before --version answers, so the desktop entry's command
    // line can be tried without opening the window.
    if (options.userFolder) {
        const QString problem = EnterUserWorkFolder();
        if (!problem.isEmpty()) {
            std::fprintf(stderr, "ms42k: %s\n", problem.toLocal8Bit().constData());
            return kExitFailure;
        }
    }
    if (status >= 0) return status;
    return RunWindow(argc > 0 ? 1 : 0, argv, options);
}
