#pragma once
// Data files of the record table: the text form (tab-separated lines with CR LF) and the
// table form (a Paradox copy). One entry point, SaveTable, serves the window's Save, the
// convert command and the logger. Every save writes a temporary file in the target's folder
// and renames it over the target only when it is complete: on any failure the old file is
// untouched.
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "records/recordtable.h"

// A save that failed: the message names the file and the reason; Reason() is the reason
// alone ("the file is read-only", "the disk is full (No space left on device)").
class SaveError : public std::runtime_error {
public:
    explicit SaveError(const std::string& what, std::string reason = std::string())
        : std::runtime_error(what), reason_(reason.empty() ? what : std::move(reason)) {}
    const std::string& Reason() const { return reason_; }

private:
    std::string reason_;
};

enum class SaveForm { Text, Paradox };

// The extension of a file name: from the last dot of the name (not of a folder) to the end,
// dot included; empty when the name has no dot.
std::string FileExtension(const std::string& path);
// ".db" in any letter case (".db", ".DB", ".Db") gives the Paradox copy, so that saving onto
// a table file never turns it into text; every other name gives the text form.
SaveForm SaveFormFor(const std::string& path);

struct SaveOutcome {
    SaveForm form = SaveForm::Text;
    size_t rows = 0;
    // What could not be copied (memo/graphic values kept in a companion file, a primary index);
    // empty when everything was written.
    std::vector<std::string> notes;
};

// Saves every row of the table (the file's rows and the appended ones) to path in the form
// its name selects. Throws SaveError on failure.
SaveOutcome SaveTable(const RecordTable& table, const std::string& path);

// The text form alone (header + one line per row, CR LF after each line, Nval not written).
std::string TextForm(const RecordTable& table);
// The same bytes handed to sink(data, size) in pieces of about 64 KB.
void WriteTextForm(const RecordTable& table, const std::function<void(const char*, size_t)>& sink);
// The table form alone (all fields, all rows), the bytes of a .DB file.
std::vector<uint8_t> ParadoxCopy(const RecordTable& table, const std::string& tableName,
                                 std::vector<std::string>* notes);

// Writes bytes to path through a temporary file in the same folder and a rename.
void WriteFileAtomically(const std::string& path, const void* data, size_t size);

// Writes an empty record table (the default fields, no rows, table name Ms35fdb.DB) to path
// with WriteFileAtomically. Throws SaveError.
void WriteEmptyRecordTable(const std::string& path);

// A file written in place of path without ever damaging it: the bytes go to an unnamed file
// in the target's folder (O_TMPFILE; a hidden temporary name where the file system has none),
// which is synced and only then linked over the target, and the folder is synced after.
// A symbolic link is followed: its target is written and the link stays. A read-only target,
// a folder, a FIFO or a device is refused before anything is written. If the writer is
// destroyed without Commit (an error, an exception), nothing is left behind.
class SafeFileWriter {
public:
    explicit SafeFileWriter(const std::string& path);  // throws SaveError
    ~SafeFileWriter();
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;
    void Write(const void* data, size_t size);  // buffered; throws SaveError
    void Commit();                              // throws SaveError; the old file stays on failure

private:
    void Drain();
    [[noreturn]] void Fail(int err);
    std::string path_, target_, dir_, tmpName_;
    int fd_ = -1;
    bool exists_ = false;
    unsigned mode_ = 0644;
    std::vector<char> buf_;
};

// The user's texts of the text form.
std::string TextSavedMessage(const std::string& path);       // "save table to specified file: " + name + " Scuss!"
std::string TextSaveFailedMessage(const std::string& path);  // "Could not save table to specified file: " + name
// The same, with the reason on a second line.
std::string TextSaveFailedMessage(const std::string& path, const std::string& reason);
