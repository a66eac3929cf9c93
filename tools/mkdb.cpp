// Writes the empty record table file Ms35fdb.DB with our own Paradox writer.
//   ms42k_mkdb [PATH]      (default: Ms35fdb.DB in the current folder; --help: usage)
// Fields, in order: No (long integer), Time (time), DC/AC (alpha 2), Value (alpha 10),
// Unit (alpha 6), AUTO (alpha 4), Nval (number).
#include <cstdio>
#include <string>

#include "records/datafiles.h"

namespace {
const char kUsage[] =
    "Usage: ms42k_mkdb [PATH]\n"
    "Writes an empty record table (Paradox) to PATH, default Ms35fdb.DB in the current folder.\n"
    "An existing file at PATH is replaced.\n"
    "  -h, --help   show this text and write nothing\n"
    "A PATH that begins with '-' is given as ./-name.\n";
}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        const std::string a = argv[1];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "ms42k_mkdb: unknown option '%s'\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    if (argc > 2) {
        std::fprintf(stderr, "ms42k_mkdb: one PATH only, got %d arguments\n%s", argc - 1, kUsage);
        return 2;
    }
    const std::string path = argc > 1 ? argv[1] : "Ms35fdb.DB";
    try {
        WriteEmptyRecordTable(path);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ms42k_mkdb: %s\n", e.what());
        return 1;
    }
    std::printf("wrote %s\n", path.c_str());
    return 0;
}
