// Our Paradox reader and writer on real tables, cross-checked with pxlib; damaged files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "records/paradox.h"
#include "table_compare.h"

namespace {
const std::string kData = std::string(MS42K_TEST_DATA) + "/paradox/";

struct FixtureCase {
    const char* file;
    size_t fields;
    size_t rows;
};
const FixtureCase kFixtures[] = {
    {"TypSammlung.DB", 14, 5}, {"biolife.db", 8, 28}, {"country.db", 5, 18}, {"empty.db", 7, 0}, {"Ms35fdb.DB", 7, 0},
};

std::string TempPath(const std::string& name) { return std::string(MS42K_BINARY_DIR) + "/test_paradox_" + name; }

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}
}  // namespace

TEST(ParadoxReader, FixturesHaveTheirStructure) {
    for (const auto& c : kFixtures) {
        SCOPED_TRACE(c.file);
        const auto t = ReadOurs(kData + c.file);
        EXPECT_EQ(t.fields.size(), c.fields);
        EXPECT_EQ(t.rows.size(), c.rows);
    }
}

#ifdef MS42K_HAVE_PXLIB
TEST(ParadoxReader, FixturesReadTheSameAsPxlib) {
    for (const auto& c : kFixtures) {
        SCOPED_TRACE(c.file);
        ExpectSameTables(ReadOurs(kData + c.file), ReadPxlib(kData + c.file), c.file);
    }
}

// Our writer copies every fixture (structure and rows); pxlib reads the copy as it reads
// the original, and so do we.
TEST(ParadoxWriter, CopiesOfFixturesReadTheSameInPxlib) {
    for (const auto& c : kFixtures) {
        SCOPED_TRACE(c.file);
        const auto bytes = ReadBytes(kData + c.file);
        const PxTable t = ReadParadox(bytes.data(), bytes.size());
        PxWriteOptions opt;
        opt.tableName = "copy.db";
        const auto out = WriteParadox(
            t.schema, t.rows.size(), [&](size_t r) { return t.rows.Row(r); }, opt);
        const std::string path = TempPath(std::string(c.file) + ".copy.db");
        WriteBytes(path, out);
        ExpectSameTables(ReadOurs(path), ReadPxlib(kData + c.file),
                         std::string("ours(copy) vs pxlib(original) ") + c.file);
        ExpectSameTables(ReadOurs(kData + c.file), ReadPxlib(path),
                         std::string("ours(original) vs pxlib(copy) ") + c.file);
        std::remove(path.c_str());
    }
}

// Values of every written type, empty ones included, over several data blocks.
TEST(ParadoxWriter, WrittenValuesReadBackInPxlib) {
    PxSchema s;
    s.Add("No", PxType::Long, 4);
    s.Add("Time", PxType::Time, 4);
    s.Add("Text", PxType::Alpha, 10);
    s.Add("S", PxType::Short, 2);
    s.Add("Num", PxType::Number, 8);
    s.Add("Money", PxType::Money, 8);
    s.Add("Day", PxType::Date, 4);
    s.Add("Stamp", PxType::Timestamp, 8);
    RowStore rows(s.recordSize);
    const int64_t ints[] = {0, 1, -1, 2147483647, -2147483647, 123456};
    const double nums[] = {0.0, 1.5, -1.5, 1e300, -1e-300, 66.0};
    const char* texts[] = {"", "AC", "0123456789", "-0.L", "x", "AUTO"};
    for (int r = 0; r < 600; ++r) {  // more rows than one 2 KB block holds
        uint8_t* rec = rows.Append();
        const int k = r % 6;
        PxSetInt(s.fields[0], rec, ints[k]);
        if (k != 3) PxSetInt(s.fields[1], rec, (int64_t(r) * 1000) % kMsPerDay);
        PxSetAlpha(s.fields[2], rec, texts[k]);
        PxSetInt(s.fields[3], rec, int64_t(k) * 1000 - 2500);
        if (k != 4) PxSetDouble(s.fields[4], rec, nums[k]);
        PxSetDouble(s.fields[5], rec, nums[(k + 1) % 6]);
        PxSetInt(s.fields[6], rec, kPxDateDelta + r);
        PxSetDouble(s.fields[7], rec, double(kPxDateDelta + r) * double(kMsPerDay) + 1000.0 * k);
    }
    PxWriteOptions opt;
    opt.tableName = "values.db";
    const auto out = WriteParadox(
        s, rows.size(), [&](size_t r) { return rows.Row(r); }, opt);
    const std::string path = TempPath("values.db");
    WriteBytes(path, out);
    PxTable mine;
    mine.schema = s;
    mine.rows = std::move(rows);
    ExpectSameTables(FromOurs(mine), ReadPxlib(path), "written values");
    ExpectSameTables(ReadOurs(path), ReadPxlib(path), "written values re-read");
    std::remove(path.c_str());
}
#endif

TEST(ParadoxFields, ValuesRoundTripThroughTheRecordLayout) {
    PxSchema s;
    s.Add("L", PxType::Long, 4);
    s.Add("S", PxType::Short, 2);
    s.Add("N", PxType::Number, 8);
    s.Add("T", PxType::Time, 4);
    s.Add("A", PxType::Alpha, 4);
    std::vector<uint8_t> rec(s.recordSize, 0);
    struct IntCase {
        int field;
        int64_t value;
    };
    const IntCase ints[] = {{0, 0},     {0, 1},      {0, -1}, {0, 2147483647}, {0, -2147483647},
                            {1, 32767}, {1, -32767}, {1, 0},  {3, 86399999}};
    for (const auto& c : ints) {
        PxSetInt(s.fields[c.field], rec.data(), c.value);
        int64_t back = 12345;
        ASSERT_TRUE(PxGetInt(s.fields[c.field], rec.data(), back)) << c.value;
        EXPECT_EQ(back, c.value);
    }
    for (double v : {0.0, -0.5, 3.25, -1e12, 6e-7}) {
        PxSetDouble(s.fields[2], rec.data(), v);
        double back = 99;
        ASSERT_TRUE(PxGetDouble(s.fields[2], rec.data(), back));
        EXPECT_EQ(back, v);
    }
    struct TextCase {
        const char* in;
        const char* stored;
    };
    const TextCase texts[] = {{"", ""}, {"AUTO", "AUTO"}, {"AUTOMATIC", "AUTO"}, {"DC", "DC"}};
    for (const auto& c : texts) {
        PxSetAlpha(s.fields[4], rec.data(), c.in);
        EXPECT_EQ(PxGetAlpha(s.fields[4], rec.data()), c.stored);
    }
    // Empty fields read as empty and show as empty texts.
    std::vector<uint8_t> blank(s.recordSize, 0);
    for (const auto& f : s.fields) {
        EXPECT_TRUE(PxIsNull(f, blank.data())) << f.name;
        EXPECT_EQ(PxFieldText(f, blank.data()), "") << f.name;
    }
}

TEST(ParadoxFields, TextsOfValues) {
    PxSchema s;
    s.Add("T", PxType::Time, 4);
    s.Add("D", PxType::Date, 4);
    s.Add("N", PxType::Number, 8);
    s.Add("B", PxType::Logical, 1);
    std::vector<uint8_t> rec(s.recordSize, 0);
    struct Case {
        int field;
        std::function<void()> set;
        const char* text;
    };
    const Case cases[] = {
        {0, [&] { PxSetInt(s.fields[0], rec.data(), 0); }, "00:00:00"},
        {0, [&] { PxSetInt(s.fields[0], rec.data(), 7200000); }, "02:00:00"},
        {0, [&] { PxSetInt(s.fields[0], rec.data(), 86399999); }, "23:59:59"},
        {0, [&] { PxSetInt(s.fields[0], rec.data(), 13 * 3600000 + 5 * 60000 + 9000 + 500); }, "13:05:09"},
        {1, [&] { PxSetInt(s.fields[1], rec.data(), kPxDateDelta); }, "1899-12-30"},
        {1, [&] { PxSetInt(s.fields[1], rec.data(), 719163); }, "1970-01-01"},
        {1, [&] { PxSetInt(s.fields[1], rec.data(), 1); }, "0001-01-01"},
        {2, [&] { PxSetDouble(s.fields[2], rec.data(), 66.0); }, "66"},
        {2, [&] { PxSetDouble(s.fields[2], rec.data(), -0.25); }, "-0.25"},
        {3, [&] { rec[s.fields[3].offset] = 0x81; }, "True"},
        {3, [&] { rec[s.fields[3].offset] = 0x80; }, "False"},
    };
    for (const auto& c : cases) {
        c.set();
        EXPECT_EQ(PxFieldText(s.fields[c.field], rec.data()), c.text);
    }
}

// Damaged files end in a ParadoxError with a reason, never in a crash or a hang. (Damaged
// files are never given to pxlib.)
TEST(ParadoxReader, DamagedFilesGiveClearErrors) {
    const auto good = ReadBytes(kData + "biolife.db");
    ASSERT_GT(good.size(), 4096u);
    struct Damage {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> apply;
        const char* reason;  // part of the message
    };
    auto put16 = [](std::vector<uint8_t>& b, size_t at, uint16_t v) {
        b[at] = uint8_t(v);
        b[at + 1] = uint8_t(v >> 8);
    };
    const uint16_t header = uint16_t(good[2] | (good[3] << 8));
    const Damage cases[] = {
        {"empty file", [](auto& b) { b.clear(); }, "too short"},
        {"cut inside the header", [](auto& b) { b.resize(0x40); }, "too short"},
        {"cut before the field names", [&](auto& b) { b.resize(0xA0); }, "header"},
        {"cut after the header", [&](auto& b) { b.resize(header); }, "truncated"},
        {"cut inside a data block", [&](auto& b) { b.resize(header + 2048 + 50); }, "truncated"},
        {"not a data file", [](auto& b) { b[4] = 1; }, "file type"},
        {"unknown version", [](auto& b) { b[0x39] = 0x42; }, "version"},
        {"block size zero", [](auto& b) { b[5] = 0; }, "block size"},
        {"record size wrong", [&](auto& b) { put16(b, 0, 100); }, "fields take"},
        {"no fields", [&](auto& b) { put16(b, 0x21, 0); }, "0 fields"},
        {"unknown field type", [](auto& b) { b[0x78] = 0x7E; }, "unknown type"},
        {"bad number size", [](auto& b) { b[0x79] = 7; }, "invalid size"},
        {"header larger than file", [&](auto& b) { put16(b, 2, 0xF000); }, "header size"},
        {"encrypted", [](auto& b) { b[0x5C] = 1; }, "password"},
        {"block chain loops", [&](auto& b) { put16(b, header, 1); }, "loops"},
        {"block claims too many records", [&](auto& b) { put16(b, header + 4, 0x7F00); }, "more records"},
        {"record count too high", [](auto& b) { b[6] = 200; }, "header counts"},
        {"record count too low", [](auto& b) { b[6] = 3; }, "more records than the header"},
        {"first block beyond the end", [&](auto& b) { put16(b, 0x0E, 900); }, "beyond the end"},
        {"no first block", [&](auto& b) { put16(b, 0x0E, 0); }, "no first data block"},
        {"field names unterminated",
         [&](auto& b) {
             for (size_t i = 0xFB; i < header; ++i)
                 if (b[i] == 0) b[i] = 'x';
         },
         "field names"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto bytes = good;
        c.apply(bytes);
        try {
            ReadParadox(bytes.data(), bytes.size());
            ADD_FAILURE() << "no error";
        } catch (const ParadoxError& e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
    }
}

TEST(ParadoxWriter, LayoutGrowsTheBlockSizeForLargeTables) {
    const PxSchema s = [] {
        PxSchema x;
        x.Add("A", PxType::Alpha, 32);
        return x;
    }();
    struct Case {
        size_t rows;
        size_t blockSize;
    };
    // 2 KB blocks hold 63 rows of 32 bytes; 65535 blocks of them hold 4128705 rows.
    const Case cases[] = {{0, 2048}, {1, 2048}, {4128705, 2048}, {4128706, 4096}, {10000000, 8192}};
    for (const auto& c : cases) {
        const auto l = pxdetail::PlanLayout(s, c.rows);
        EXPECT_EQ(l.blockSize, c.blockSize) << c.rows;
        EXPECT_LE(l.blocks, 0xFFFFu);
        EXPECT_GE(l.blocks * l.rowsPerBlock, c.rows);
    }
}
