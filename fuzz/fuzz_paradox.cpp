// libFuzzer target over the Paradox table reader: any input must either read as a table or
// end in a ParadoxError; every field of every row read is formatted as text.
#include <cstddef>
#include <cstdint>

#include "records/paradox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const PxTable t = ReadParadox(data, size);
        size_t chars = 0;
        for (size_t r = 0; r < t.rows.size(); ++r)
            for (const auto& f : t.schema.fields) chars += PxFieldText(f, t.rows.Row(r)).size();
        (void)t.schema.Find("No");
        return chars > 0 ? 0 : 0;
    } catch (const ParadoxError&) {
        return 0;
    }
}
