#include "app/application.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>
#include <memory>
#include <stdexcept>

namespace Ui {
namespace {
QWidget* ActiveParent() { return QApplication::activeWindow(); }

void DefaultShowMessage(const QString& text) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("MS42K"), text, QMessageBox::Ok, ActiveParent());
    box.exec();
}
void DefaultShowError(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok, ActiveParent());
    box.exec();
}
QString DefaultOpenFileName(const QString& filter) {
    std::unique_ptr<QFileDialog> dlg(MakeFileDialog(ActiveParent(), filter, false));
    if (dlg->exec() != QDialog::Accepted || dlg->selectedFiles().isEmpty()) return QString();
    return dlg->selectedFiles().first();
}
QString DefaultSaveFileName(const QString& filter, const QString& defaultExt) {
    std::unique_ptr<QFileDialog> dlg(MakeFileDialog(ActiveParent(), filter, true, defaultExt));
    if (dlg->exec() != QDialog::Accepted || dlg->selectedFiles().isEmpty()) return QString();
    return dlg->selectedFiles().first();
}
ExitChoice DefaultAskSaveRows(const QString& question) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("MS42K"), question,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, ActiveParent());
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
        case QMessageBox::Save: return ExitChoice::Save;
        case QMessageBox::Discard: return ExitChoice::Discard;
        default: return ExitChoice::Cancel;
    }
}
bool DefaultAskYesNo(const QString& question) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("MS42K"), question, QMessageBox::Yes | QMessageBox::No,
                    ActiveParent());
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}
ExitChoice DefaultAskSaveBeforeExit() {
    return DefaultAskSaveRows(QStringLiteral("Save recorded readings before exit?"));
}
void DefaultQuitApplication() { QApplication::quit(); }
}  // namespace

std::function<void()> QuitApplication = DefaultQuitApplication;
std::function<void(const QString&)> ShowMessage = DefaultShowMessage;
std::function<void(const QString&)> ShowError = DefaultShowError;
std::function<QString(const QString&)> OpenFileName = DefaultOpenFileName;
std::function<QString(const QString&, const QString&)> SaveFileName = DefaultSaveFileName;
std::function<ExitChoice()> AskSaveBeforeExit = DefaultAskSaveBeforeExit;
std::function<ExitChoice(const QString&)> AskSaveRows = DefaultAskSaveRows;
std::function<bool(const QString&)> AskYesNo = DefaultAskYesNo;

QStringList FileDialogFilters(const QString& pairs) {
    const QStringList parts = pairs.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString desc = parts[i];
        const QString pattern = parts[i + 1].trimmed();
        // Qt takes the patterns from the last parentheses of a filter.
        const QString patterns = QString(pattern).replace(QLatin1Char(';'), QLatin1Char(' '));
        if (desc.endsWith(QLatin1Char(')')) && desc.contains(QLatin1Char('('))) {
            const int open = desc.lastIndexOf(QLatin1Char('('));
            if (desc.mid(open + 1, desc.size() - open - 2).trimmed().compare(patterns, Qt::CaseInsensitive) == 0) {
                out << desc;
                continue;
            }
        }
        out << desc + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    if (parts.size() % 2 == 1 && !parts.last().isEmpty()) out << parts.last();
    return out;
}

QString DefaultSuffixOf(const QString& filter) {
    static const QRegularExpression re(QStringLiteral("\\*\\.([A-Za-z0-9_]+)\\)?\\s*$"));
    const QRegularExpressionMatch m = re.match(filter);
    return m.hasMatch() ? m.captured(1) : QString();
}

void ResetHooks() {
    ShowMessage = DefaultShowMessage;
    ShowError = DefaultShowError;
    OpenFileName = DefaultOpenFileName;
    SaveFileName = DefaultSaveFileName;
    AskSaveBeforeExit = DefaultAskSaveBeforeExit;
    AskSaveRows = DefaultAskSaveRows;
    AskYesNo = DefaultAskYesNo;
    QuitApplication = DefaultQuitApplication;
}
}  // namespace Ui

namespace {
// A save dialog whose default suffix is the extension of the filter chosen when the name is
// accepted (so the overwrite question, too, asks about the name that is written).
class SaveFileDialog : public QFileDialog {
public:
    SaveFileDialog(QWidget* parent, QString fallback) : QFileDialog(parent), fallback_(std::move(fallback)) {}
    void accept() override {
        const QString ext = Ui::DefaultSuffixOf(selectedNameFilter());
        setDefaultSuffix(ext.isEmpty() ? fallback_ : ext);
        QFileDialog::accept();
    }

private:
    QString fallback_;
};
}  // namespace

QFileDialog* MakeFileDialog(QWidget* parent, const QString& pairs, bool save, const QString& defaultExt) {
    QFileDialog* dlg = save ? new SaveFileDialog(parent, defaultExt) : new QFileDialog(parent);
    dlg->setOption(QFileDialog::DontUseNativeDialog, true);
    // Names are matched without regard to letter case: a table saved as "old.db" is a table.
    dlg->setFilter(dlg->filter() & ~QDir::CaseSensitive);
    const QStringList filters = Ui::FileDialogFilters(pairs);
    dlg->setNameFilters(filters);
    if (!filters.isEmpty()) dlg->selectNameFilter(filters.first());
    if (save) {
        dlg->setAcceptMode(QFileDialog::AcceptSave);
        dlg->setFileMode(QFileDialog::AnyFile);
        dlg->setDefaultSuffix(defaultExt);
    } else {
        dlg->setAcceptMode(QFileDialog::AcceptOpen);
        dlg->setFileMode(QFileDialog::ExistingFile);
    }
    return dlg;
}

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
