// libFuzzer target over the hex-line reader of `ms42k log --frames FILE`: the input is the
// file. Every line the reader takes must give the bytes whose hex digits the line holds (in
// either case, blanks between bytes ignored), the file as a whole reads or is refused with a
// message naming it, and every frame read goes through the decoder as the replay does.
#include <sys/mman.h>
#include <unistd.h>

#include <QString>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/simmeter.h"
#include "meter/decoder.h"
#include "meter/meterframe.h"

namespace {
void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "hex lines: %s\n", what);
    std::abort();
}

// The line's hex digits, upper-cased, blanks and tabs and carriage returns left out.
std::string Digits(const std::string& line) {
    std::string out;
    for (char c : line)
        if (c != ' ' && c != '\t' && c != '\r') out.push_back(char(std::toupper(static_cast<unsigned char>(c))));
    return out;
}

int File() {
    static const int fd = memfd_create("fuzz_hex_lines", 0);
    Check(fd >= 0, "no memory file");
    return fd;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Line by line, as the reader splits the file.
    const std::string text(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const auto frame = SimMeter::ParseHexLine(line);
        if (!frame) continue;
        Check(BytesToHex(*frame) == Digits(line), "a line read as other bytes than its digits");
    }

    // The whole file through the reader, and what it read through the decoder.
    const int fd = File();
    Check(ftruncate(fd, 0) == 0 && pwrite(fd, data, size, 0) == ssize_t(size), "cannot write the memory file");
    const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);
    QString error;
    const auto frames = SimMeter::LoadHexLines(path, &error);
    if (!frames) {
        Check(error.contains(path), "a refusal that does not name the file");
        return 0;
    }
    const ScaleConstants scale;
    for (const Frame& f : *frames) {
        const std::string hex = BytesToHex(f);
        if (IsCompleteFrame(hex)) (void)DecodeFrame(hex, scale);
    }
    return 0;
}
