#include "app/application.h"

#include <QFileDialog>
#include <QMessageBox>
#include <stdexcept>

namespace Ui {
namespace {
QWidget* ActiveParent() { return QApplication::activeWindow(); }

void DefaultShowMessage(const QString& text) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("MS42K"), text,
                    QMessageBox::Ok, ActiveParent());
    box.exec();
}
void DefaultShowError(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok,
                    ActiveParent());
    box.exec();
}
QString DefaultOpenFileName(const QString& filter) {
    return QFileDialog::getOpenFileName(ActiveParent(), QString(), QString(), filter);
}
QString DefaultSaveFileName(const QString& filter, const QString& defaultExt) {
    QFileDialog dlg(ActiveParent(), QString(), QString(), filter);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(defaultExt);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return QString();
    return dlg.selectedFiles().first();
}
ExitChoice DefaultAskSaveBeforeExit() {
    QMessageBox box(QMessageBox::Question, QStringLiteral("MS42K"),
                    QStringLiteral("Save recorded readings before exit?"),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                    ActiveParent());
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
        case QMessageBox::Save: return ExitChoice::Save;
        case QMessageBox::Discard: return ExitChoice::Discard;
        default: return ExitChoice::Cancel;
    }
}
void DefaultQuitApplication() { QApplication::quit(); }
}  // namespace

std::function<void()> QuitApplication = DefaultQuitApplication;
std::function<void(const QString&)> ShowMessage = DefaultShowMessage;
std::function<void(const QString&)> ShowError = DefaultShowError;
std::function<QString(const QString&)> OpenFileName = DefaultOpenFileName;
std::function<QString(const QString&, const QString&)> SaveFileName = DefaultSaveFileName;
std::function<ExitChoice()> AskSaveBeforeExit = DefaultAskSaveBeforeExit;

void ResetHooks() {
    ShowMessage = DefaultShowMessage;
    ShowError = DefaultShowError;
    OpenFileName = DefaultOpenFileName;
    SaveFileName = DefaultSaveFileName;
    AskSaveBeforeExit = DefaultAskSaveBeforeExit;
    QuitApplication = DefaultQuitApplication;
}
}  // namespace Ui

void HandleException(std::exception_ptr error) noexcept {
    QString text;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        text = QString::fromLocal8Bit(e.what());
    } catch (...) {
        text = QStringLiteral("Unknown error");
    }
    try {
        if (Ui::ShowError) Ui::ShowError(text);
    } catch (...) {
        // The error dialog itself failed: nothing more can be shown.
    }
}

Ms42kApplication::Ms42kApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool Ms42kApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleException(std::current_exception());
        return false;
    }
}
