// Writes the empty record table file Ms35fdb.DB with our own Paradox writer.
//   ms42k_mkdb [PATH]      (default: Ms35fdb.DB in the current folder)
// Fields, in order: No (long integer), Time (time), DC/AC (alpha 2), Value (alpha 10),
// Unit (alpha 6), AUTO (alpha 4), Nval (number).
#include <cstdio>
#include <string>

#include "records/datafiles.h"
#include "records/paradox.h"
#include "records/recordtable.h"

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "Ms35fdb.DB";
    try {
        PxWriteOptions opt;
        opt.tableName = "Ms35fdb.DB";
        static const uint8_t kNoRow[64] = {};
        const std::vector<uint8_t> bytes =
            WriteParadox(RecordTable::DefaultSchema(), 0, [](size_t) -> const uint8_t* { return kNoRow; }, opt);
        WriteFileAtomically(path, bytes.data(), bytes.size());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ms42k_mkdb: %s\n", e.what());
        return 1;
    }
    std::printf("wrote %s\n", path.c_str());
    return 0;
}
