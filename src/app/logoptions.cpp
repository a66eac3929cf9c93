#include "app/logoptions.h"

#include <QCommandLineParser>
#include <cmath>

#include "records/datafiles.h"

const char* const kLogSynopsis =
    "log [--simulate | --frames FILE] [--count N] [--time SECONDS] [--limit N] [--interval SECONDS]\n"
    "                 [--repeat] [--format text|csv|db] [--out FILE]";

namespace {
// A whole non-negative decimal number; nothing for anything else.
std::optional<int64_t> Count(const QString& text) {
    if (text.isEmpty() || text.size() > 18) return std::nullopt;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    return text.toLongLong();
}

// A number of seconds above 0 (decimals allowed).
std::optional<double> Seconds(const QString& text) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v <= 0 || v > 1e9 || text.contains(QLatin1Char('e'), Qt::CaseInsensitive))
        return std::nullopt;
    return v;
}

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
}  // namespace

LogFormat LogFormatFor(const std::string& out) {
    const std::string ext = Lower(FileExtension(out));
    if (ext == ".csv") return LogFormat::Csv;
    if (ext == ".db") return LogFormat::Db;
    return LogFormat::Text;
}

int ParseLogArgs(const CliArgs& args, LogOptions& o) {
    QCommandLineParser parser;
    const QCommandLineOption simulate(QStringLiteral("simulate"),
                                      QStringLiteral("read the simulated cable and meter instead of the real cable"));
    const QCommandLineOption frames(
        QStringLiteral("frames"),
        QStringLiteral("the simulated cable replays the frames of FILE (one hex line each)\n"
                       "and the logger stops at its end"),
        QStringLiteral("FILE"));
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("stop after N decoded frames"),
                                   QStringLiteral("N"));
    const QCommandLineOption time(QStringLiteral("time"), QStringLiteral("stop after that many seconds"),
                                  QStringLiteral("SECONDS"));
    const QCommandLineOption limit(QStringLiteral("limit"),
                                   QStringLiteral("end the run when N rows are recorded (default: no limit)"),
                                   QStringLiteral("N"));
    const QCommandLineOption interval(QStringLiteral("interval"),
                                      QStringLiteral("sampling interval: record at most one reading per interval"),
                                      QStringLiteral("SECONDS"));
    const QCommandLineOption repeat(QStringLiteral("repeat"),
                                    QStringLiteral("drop a reading equal to the last recorded one"));
    const QCommandLineOption format(QStringLiteral("format"),
                                    QStringLiteral("text: tab-separated lines as Save writes them; csv: RFC 4180 with\n"
                                                   "time, SI value and unit; db: a Paradox table (needs --out).\n"
                                                   "Default: from the --out name (.csv csv, .db db), else text"),
                                    QStringLiteral("text|csv|db"));
    const QCommandLineOption out(
        QStringLiteral("out"),
        QStringLiteral("write the rows to FILE as they are recorded (db: rewritten every 10 s\n"
                       "and at the end); without it they go to standard output"),
        QStringLiteral("FILE"));
    const QList<QCommandLineOption> options = {simulate, frames, count, time, limit, interval, repeat, format, out};
    if (const int status = ParseSubcommandArgs(parser, options, kLogSynopsis, args); status >= 0) return status;

    auto usage = [](const std::string& why) { return SubcommandUsageError(kLogSynopsis, why); };
    if (!parser.positionalArguments().isEmpty())
        return usage("unexpected argument '" + parser.positionalArguments().first().toStdString() + "'");
    for (const auto* opt : {&frames, &count, &time, &limit, &interval, &format, &out})
        if (parser.values(*opt).size() > 1) return usage("--" + opt->names().first().toStdString() + " given twice");

    o.simulate = parser.isSet(simulate);
    o.repeat = parser.isSet(repeat);
    if (parser.isSet(frames)) {
        o.framesFile = parser.value(frames).toLocal8Bit().toStdString();
        if (o.framesFile.empty()) return usage("--frames needs a file");
    }
    if (parser.isSet(out)) {
        o.out = parser.value(out).toLocal8Bit().toStdString();
        if (o.out.empty()) return usage("--out needs a file");
    }
    if (parser.isSet(count)) {
        const auto v = Count(parser.value(count));
        if (!v || *v == 0) return usage("--count needs a whole number of frames, 1 or more");
        o.count = *v;
    }
    if (parser.isSet(limit)) {
        const auto v = Count(parser.value(limit));
        if (!v || *v > INT32_MAX) return usage("--limit needs a whole number of rows");
        o.limit = int32_t(*v);
        o.limitGiven = true;
    }
    if (parser.isSet(interval)) {
        const auto v = Count(parser.value(interval));
        if (!v || *v > INT32_MAX) return usage("--interval needs a whole number of seconds");
        o.interval = int32_t(*v);
    }
    if (parser.isSet(time)) {
        const auto v = Seconds(parser.value(time));
        if (!v) return usage("--time needs a number of seconds above 0");
        o.timeSeconds = *v;
    }
    o.format = LogFormatFor(o.out);
    if (parser.isSet(format)) {
        const QString f = parser.value(format);
        if (f == QLatin1String("text"))
            o.format = LogFormat::Text;
        else if (f == QLatin1String("csv"))
            o.format = LogFormat::Csv;
        else if (f == QLatin1String("db"))
            o.format = LogFormat::Db;
        else
            return usage("--format is text, csv or db, not '" + f.toStdString() + "'");
    }
    if (o.simulate && !o.framesFile.empty()) return usage("--simulate and --frames exclude each other");
    if (o.format == LogFormat::Db && o.out.empty()) return usage("--format db needs --out FILE");
    return -1;
}
