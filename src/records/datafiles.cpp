#include "records/datafiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string FileExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart) return std::string();
    return path.substr(dot);
}

SaveForm SaveFormFor(const std::string& path) { return FileExtension(path) == ".db" ? SaveForm::Paradox : SaveForm::Text; }

std::string TextSavedMessage(const std::string& path) { return "save table to specified file: " + path + " Scuss!"; }

std::string TextSaveFailedMessage(const std::string& path) { return "Could not save table to specified file: " + path; }

std::string TextForm(const RecordTable& table) {
    std::string out = "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n";
    const size_t n = table.RowCount();
    out.reserve(out.size() + n * 40);
    for (size_t r = 0; r < n; ++r) {
        for (int c = 0; c < kRecordColumns; ++c) {
            if (c) out += '\t';
            out += table.CellText(r, c);
        }
        out += "\r\n";
    }
    return out;
}

namespace {
uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
}  // namespace

std::vector<uint8_t> ParadoxCopy(const RecordTable& table, const std::string& tableName, std::vector<std::string>* notes) {
    const bool hasStructure = !table.Schema().fields.empty();
    const PxSchema schema = hasStructure ? table.Schema() : RecordTable::DefaultSchema();
    const size_t rows = hasStructure ? table.RowCount() : 0;
    PxWriteOptions opt;
    opt.tableName = tableName;

    std::vector<size_t> blobFields;
    for (size_t i = 0; i < schema.fields.size(); ++i)
        if (PxIsBlob(schema.fields[i].type)) blobFields.push_back(i);

    std::vector<uint8_t> bytes;
    if (blobFields.empty()) {
        bytes = WriteParadox(schema, rows, [&](size_t r) { return table.RowData(r); }, opt);
    } else {
        // Values held wholly in the record are copied; values kept in the companion .MB file
        // are not (the copy has no .MB file): those fields are left empty.
        std::vector<size_t> lost(schema.fields.size(), 0);
        std::vector<uint8_t> buf(schema.recordSize);
        bytes = WriteParadox(
            schema, rows,
            [&](size_t r) {
                std::memcpy(buf.data(), table.RowData(r), buf.size());
                for (size_t fi : blobFields) {
                    const PxField& f = schema.fields[fi];
                    if (PxIsNull(f, buf.data())) continue;
                    const size_t leader = f.size - 10u;
                    const uint32_t length = Le32(buf.data() + f.offset + leader + 4);
                    if (length > leader) {
                        PxSetNull(f, buf.data());
                        ++lost[fi];
                    }
                }
                return static_cast<const uint8_t*>(buf.data());
            },
            opt);
        if (notes) {
            for (size_t fi : blobFields)
                if (lost[fi])
                    notes->push_back(std::to_string(lost[fi]) + " value(s) of the " + PxTypeName(schema.fields[fi].type) +
                                     " field '" + schema.fields[fi].name +
                                     "' could not be copied (they are kept in the table's .MB file) and were left empty");
        }
    }
    if (notes && !schema.fields.empty() && schema.Find("Not") == 0)
        notes->push_back("the primary index on field 'Not' was not created");
    return bytes;
}

void WriteFileAtomically(const std::string& path, const void* data, size_t size) {
    const std::string fail = "Cannot save table to '" + path + "': ";
    if (path.empty()) throw SaveError("Cannot save table: no file name");
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty()) throw SaveError(fail + "the name is a folder");
    struct stat target {};
    const bool exists = ::stat(path.c_str(), &target) == 0;
    if (exists && S_ISDIR(target.st_mode)) throw SaveError(fail + "a folder has that name");

    std::string tmp = dir + "/." + base + ".XXXXXX";
    std::vector<char> tmpl(tmp.begin(), tmp.end());
    tmpl.push_back('\0');
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) throw SaveError(fail + std::strerror(errno));
    tmp = tmpl.data();
    auto abandon = [&](int err) {
        ::close(fd);
        ::unlink(tmp.c_str());
        throw SaveError(fail + std::strerror(err));
    };
    const char* p = static_cast<const char*>(data);
    size_t left = size;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) abandon(errno);
        p += n;
        left -= size_t(n);
    }
    mode_t mode;
    if (exists) {
        mode = target.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd, mode) != 0) abandon(errno);
    if (::fsync(fd) != 0) abandon(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        throw SaveError(fail + std::strerror(err));
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        throw SaveError(fail + std::strerror(err));
    }
}

SaveOutcome SaveTable(const RecordTable& table, const std::string& path) {
    SaveOutcome out;
    out.form = SaveFormFor(path);
    out.rows = table.RowCount();
    if (out.form == SaveForm::Text) {
        const std::string text = TextForm(table);
        WriteFileAtomically(path, text.data(), text.size());
    } else {
        const size_t slash = path.find_last_of('/');
        std::vector<uint8_t> bytes;
        try {
            bytes = ParadoxCopy(table, slash == std::string::npos ? path : path.substr(slash + 1), &out.notes);
        } catch (const ParadoxError& e) {
            throw SaveError("Cannot save table to '" + path + "': " + e.what());
        }
        WriteFileAtomically(path, bytes.data(), bytes.size());
    }
    return out;
}
