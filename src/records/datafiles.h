#pragma once
// Data files of the record table: the text form (tab-separated lines with CR LF) and the
// table form (a Paradox copy). One entry point, SaveTable, serves the window's Save, the
// convert command and the logger. Every save writes a temporary file in the target's folder
// and renames it over the target only when it is complete: on any failure the old file is
// untouched.
#include <stdexcept>
#include <string>
#include <vector>

#include "records/recordtable.h"

// A save that failed: the message names the file and the reason.
class SaveError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class SaveForm { Text, Paradox };

// The extension of a file name: from the last dot of the name (not of a folder) to the end,
// dot included; empty when the name has no dot.
std::string FileExtension(const std::string& path);
// ".db" exactly (lower case) gives the Paradox copy; every other name the text form.
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
// The table form alone (all fields, all rows), the bytes of a .DB file.
std::vector<uint8_t> ParadoxCopy(const RecordTable& table, const std::string& tableName, std::vector<std::string>* notes);

// Writes bytes to path through a temporary file in the same folder and a rename.
void WriteFileAtomically(const std::string& path, const void* data, size_t size);

// The user's texts of the text form.
std::string TextSavedMessage(const std::string& path);      // "save table to specified file: " + name + " Scuss!"
std::string TextSaveFailedMessage(const std::string& path); // "Could not save table to specified file: " + name
