#pragma once
// Reads a Paradox file through our reader and, when available, through pxlib (the
// independent reader), into one neutral form so the two can be compared cell by cell.
// pxlib must only ever see well-formed files: it is never given a damaged one.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "records/paradox.h"

#ifdef MS42K_HAVE_PXLIB
extern "C" {
#include <paradox.h>
}
#endif

struct NeutralCell {
    bool null = true;
    int64_t l = 0;
    double d = 0;
    std::string s;
};
struct NeutralField {
    std::string name;
    int type = 0;
    int len = 0;
};
struct NeutralTable {
    std::vector<NeutralField> fields;
    std::vector<std::vector<NeutralCell>> rows;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool IsWholeInteger(PxType t) {
    return t == PxType::Short || t == PxType::Long || t == PxType::AutoInc || t == PxType::Date || t == PxType::Time;
}

inline NeutralTable FromOurs(const PxTable& t) {
    NeutralTable n;
    for (const auto& f : t.schema.fields) n.fields.push_back({f.name, int(f.type), int(f.declared)});
    for (size_t r = 0; r < t.rows.size(); ++r) {
        const uint8_t* rec = t.rows.Row(r);
        std::vector<NeutralCell> row;
        for (const auto& f : t.schema.fields) {
            NeutralCell c;
            c.null = PxIsNull(f, rec);
            if (IsWholeInteger(f.type))
                PxGetInt(f, rec, c.l);
            else if (f.type == PxType::Logical)
                c.l = c.null ? 0 : (rec[f.offset] & 0x7F);
            else if (f.type == PxType::Number || f.type == PxType::Money || f.type == PxType::Timestamp)
                PxGetDouble(f, rec, c.d);
            else if (f.type == PxType::Alpha)
                c.s = PxGetAlpha(f, rec);
            else if (f.type == PxType::Bcd)
                c.d = c.null ? 0 : std::strtod(PxGetBcd(f, rec).c_str(), nullptr);
            else if (f.type == PxType::Bytes)
                c.s.assign(reinterpret_cast<const char*>(rec + f.offset), f.size);
            row.push_back(c);
        }
        n.rows.push_back(std::move(row));
    }
    return n;
}

inline NeutralTable ReadOurs(const std::string& path) {
    const auto bytes = ReadBytes(path);
    return FromOurs(ReadParadox(bytes.data(), bytes.size()));
}

#ifdef MS42K_HAVE_PXLIB
inline NeutralTable ReadPxlib(const std::string& path) {
    NeutralTable n;
    pxdoc_t* doc = PX_new();
    if (PX_open_file(doc, path.c_str()) < 0) {
        PX_delete(doc);
        ADD_FAILURE() << "pxlib cannot open " << path;
        return n;
    }
    const int nf = PX_get_num_fields(doc);
    pxfield_t* fields = PX_get_fields(doc);
    for (int i = 0; i < nf; ++i)
        n.fields.push_back({fields[i].px_fname, int(uint8_t(fields[i].px_ftype)), fields[i].px_flen});
    const int nr = PX_get_num_records(doc);
    for (int r = 0; r < nr; ++r) {
        pxval_t** vals = PX_retrieve_record(doc, r);
        std::vector<NeutralCell> row(static_cast<size_t>(nf));
        if (!vals) {
            ADD_FAILURE() << "pxlib cannot read record " << r << " of " << path;
            break;
        }
        for (int i = 0; i < nf; ++i) {
            pxval_t* v = vals[i];
            NeutralCell& c = row[size_t(i)];
            c.null = v->isnull != 0;
            const PxType t = PxType(uint8_t(fields[i].px_ftype));
            if (IsWholeInteger(t) || t == PxType::Logical)
                c.l = v->value.lval;
            else if (t == PxType::Number || t == PxType::Money || t == PxType::Timestamp)
                c.d = v->value.dval;
            else if (t == PxType::Alpha && !c.null && v->value.str.val)
                c.s.assign(v->value.str.val, size_t(v->value.str.len));
            else if (t == PxType::Bcd && !c.null && v->value.str.val)
                c.d = std::strtod(v->value.str.val, nullptr);
            else if (t == PxType::Bytes && !c.null && v->value.str.val)
                c.s.assign(v->value.str.val, size_t(v->value.str.len));
            const bool str = t == PxType::Alpha || t == PxType::Bcd || t == PxType::Bytes || PxIsBlob(t);
            if (str && v->value.str.val) doc->free(doc, v->value.str.val);
            doc->free(doc, v);
        }
        doc->free(doc, vals);
        n.rows.push_back(std::move(row));
    }
    PX_close(doc);
    PX_delete(doc);
    return n;
}
#endif

// Compares a table read by us with the same file read by pxlib. Blob values live in the .MB
// file and are not compared; for number, integer, date, time and BCD fields pxlib reports an
// empty field as a value, so only fields we read as non-empty are compared there.
inline void ExpectSameTables(const NeutralTable& ours, const NeutralTable& theirs, const std::string& what) {
    ASSERT_EQ(ours.fields.size(), theirs.fields.size()) << what;
    for (size_t i = 0; i < ours.fields.size(); ++i) {
        EXPECT_EQ(ours.fields[i].name, theirs.fields[i].name) << what << " field " << i;
        EXPECT_EQ(ours.fields[i].type, theirs.fields[i].type) << what << " field " << i;
    }
    ASSERT_EQ(ours.rows.size(), theirs.rows.size()) << what;
    for (size_t r = 0; r < ours.rows.size(); ++r) {
        for (size_t i = 0; i < ours.fields.size(); ++i) {
            const PxType t = PxType(uint8_t(ours.fields[i].type));
            if (PxIsBlob(t)) continue;
            const NeutralCell& a = ours.rows[r][i];
            const NeutralCell& b = theirs.rows[r][i];
            const std::string at = what + " row " + std::to_string(r) + " field " + ours.fields[i].name;
            const bool pxlibMisreadsEmpty = t == PxType::Number || t == PxType::Money || t == PxType::Time ||
                                            t == PxType::Timestamp || t == PxType::Date || t == PxType::Short ||
                                            t == PxType::Long || t == PxType::AutoInc || t == PxType::Bcd;
            if (a.null && pxlibMisreadsEmpty) continue;
            EXPECT_EQ(a.null, b.null) << at;
            if (a.null || b.null) continue;
            if (IsWholeInteger(t) || t == PxType::Logical)
                EXPECT_EQ(a.l, b.l) << at;
            else if (t == PxType::Number || t == PxType::Money || t == PxType::Timestamp || t == PxType::Bcd)
                EXPECT_DOUBLE_EQ(a.d, b.d) << at;
            else
                EXPECT_EQ(a.s, b.s) << at;
        }
    }
}
