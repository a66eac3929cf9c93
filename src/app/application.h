#pragma once
// The application object, the general error handler and the user-interaction hooks.
#include <QApplication>
#include <QString>
#include <QStringList>
#include <exception>
#include <functional>
#include <type_traits>
#include <utility>

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
// Asked before New or Open throws unsaved recorded rows away; question names the action.
extern std::function<ExitChoice(const QString& question)> AskSaveRows;
// A Yes/No question (the journal's restore offer at start-up): true for Yes.
extern std::function<bool(const QString& question)> AskYesNo;
// Ends the application's message loop.
extern std::function<void()> QuitApplication;
// Puts every hook back to its interactive default.
void ResetHooks();

// The Qt name filters of a dialog filter written as "description|pattern|description|
// pattern|...": one filter per pair. A description that already ends in its pattern in
// parentheses is kept as written ("access data files (*.DB)"); any other gets the pattern
// appended in parentheses.
QStringList FileDialogFilters(const QString& pairs);
// The pattern of a pair list's filter (its text as FileDialogFilters made it) -> the
// extension a Save gives a name without one ("*.db" -> "db"); empty for "*.*" and "*".
QString DefaultSuffixOf(const QString& filter);
}  // namespace Ui

class QFileDialog;
class QWidget;
// The program's own (non-native) open or save dialog over pairs: patterns match without
// regard to letter case (*.DB lists old.db); in a save dialog the chosen filter's extension
// is the default suffix (defaultExt until another filter is chosen), and an existing file is
// replaced only after asking.
QFileDialog* MakeFileDialog(QWidget* parent, const QString& pairs, bool save, const QString& defaultExt = QString());

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

// connect(sender, signal, receiver, handler) with the handler run inside Guard: an exception
// escaping a handler never unwinds through Qt's signal dispatch (the signal's other slots still
// run) and goes to the general error handler. The handler takes the signal's arguments or none.
template <class Sender, class Signal, class Handler>
QMetaObject::Connection GuardedConnect(Sender* sender, Signal signal, const QObject* receiver, Handler handler) {
    return QObject::connect(sender, signal, receiver, [handler = std::move(handler)](auto&&... args) {
        Guard([&] {
            if constexpr (std::is_invocable_v<const Handler&, decltype(args)...>)
                handler(std::forward<decltype(args)>(args)...);
            else
                handler();
        });
    });
}

// Every event passes through notify: an exception escaping a handler that the event loop
// called ends that handler and is shown as an error dialog; the program keeps running.
class Ms42kApplication : public QApplication {
public:
    Ms42kApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
