// ms42k decode [FILE]: decodes frame texts, one per line, with the window's decoder.
#include <QCommandLineParser>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

#include "app/cli.h"
#include "meter/decoder.h"
#include "meter/meterframe.h"

namespace {
void Write(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

// One input line as a frame text: blanks removed, upper-cased.
std::string FrameText(const std::string& line) {
    std::string out;
    out.reserve(line.size());
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f') continue;
        out.push_back(char(std::toupper(static_cast<unsigned char>(c))));
    }
    return out;
}

void DecodeLines(std::istream& in) {
    Write("value\tunit\tdc_ac\tauto\tnval\tgauge\tbar\twave\n");
    const ScaleConstants scale;
    std::string line;
    while (std::getline(in, line)) {
        const std::string frame = FrameText(line);
        if (frame.empty()) continue;
        if (!IsCompleteFrame(frame)) {
            Write("incomplete\n");
            continue;
        }
        const DecodeResult r = DecodeFrame(frame, scale);
        if (!r.Ok()) {
            Write("error\n");
            continue;
        }
        std::string out = r.ValueText + '\t' + r.SymbolText + '\t' + r.AcDcText + '\t' + r.AutoText + '\t' +
                          std::to_string(static_cast<long long>(r.ValueNum)) + '\t' + std::to_string(r.GaugePosition) +
                          '\t' + std::to_string(r.BarShown) + '\t';
        for (size_t i = 0; i < r.Wave.size(); ++i) {
            if (i) out += ',';
            out += std::to_string(r.Wave[i]);
        }
        out += '\n';
        Write(out);
    }
}
}  // namespace

namespace {
const std::string kSynopsis = "decode [FILE]   (standard input without FILE or with -)";
}  // namespace

int CmdDecode(const CliArgs& args) {
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("frame texts, one per line"));
    if (const int status = ParseSubcommandArgs(parser, {}, kSynopsis, args); status >= 0) return status;
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) return SubcommandUsageError(kSynopsis, "one FILE at most");
    const std::string file = files.isEmpty() ? std::string() : files[0].toLocal8Bit().toStdString();
    if (file.empty() || file == "-") {
        DecodeLines(std::cin);
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "ms42k decode: cannot open '%s'\n", file.c_str());
            return 1;
        }
        DecodeLines(in);
    }
    std::fflush(stdout);
    return 0;
}
