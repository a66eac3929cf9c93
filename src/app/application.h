#pragma once
// The application object, the general error handler and the user-interaction hooks.
#include <QApplication>
#include <QString>
#include <exception>
#include <functional>

namespace Ui {
// Modal information box with one OK button (user messages of the program).
extern std::function<void(const QString& text)> ShowMessage;
// The general error handler's dialog: the exception's message.
extern std::function<void(const QString& text)> ShowError;
// Open and save dialogs; an empty result means the user cancelled.
extern std::function<QString(const QString& filter)> OpenFileName;
extern std::function<QString(const QString& filter, const QString& defaultExt)> SaveFileName;
// Asked on exit when recorded readings have not been saved.
enum class ExitChoice { Save, Discard, Cancel };
extern std::function<ExitChoice()> AskSaveBeforeExit;
// Ends the application's message loop.
extern std::function<void()> QuitApplication;
// Puts every hook back to its interactive default.
void ResetHooks();
}  // namespace Ui

// Shows an escaped exception through Ui::ShowError. Never throws.
void HandleException(std::exception_ptr error) noexcept;

// Runs f; an exception escaping it goes to the general error handler. For handler calls
// that do not pass through the event loop (direct calls from code and device callbacks).
template <class F>
void Guard(F&& f) noexcept {
    try {
        f();
    } catch (...) {
        HandleException(std::current_exception());
    }
}

// Every event passes through notify: an exception escaping a handler that the event loop
// called ends that handler and is shown as an error dialog; the program keeps running.
class Ms42kApplication : public QApplication {
public:
    Ms42kApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
