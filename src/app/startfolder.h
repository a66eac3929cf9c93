#pragma once
// Where the window works: the user's own folder of the desktop start, and the empty record
// table made there from the template installed with the program.
#include <QString>

// The user's own working folder of a desktop start: "ms42k" in the documents folder
// (~/Documents/ms42k unless XDG_DOCUMENTS_DIR says otherwise).
QString UserWorkFolder();

// Creates UserWorkFolder() when missing and makes it the current folder. Empty on success,
// else what went wrong.
QString EnterUserWorkFolder();

// The empty record table installed with the program: <bindir>/../share/ms42k/Ms35fdb.DB
// (installed), else <bindir>/share/ms42k/Ms35fdb.DB (the build tree, where the build writes
// it beside the program). Empty when neither exists.
QString FindRecordTableTemplate();

// When nothing exists at tablePath, copies templatePath there (owner read-write) and returns
// the log line that says so. Returns an empty text, changing nothing, when tablePath exists
// (opening it is left to the table, errors included) or templatePath is empty or missing.
// Throws std::runtime_error (naming both files and the reason) when the copy fails.
QString CreateRecordTableFromTemplate(const QString& tablePath, const QString& templatePath);
