#pragma once
// Shared set-up of the window tests: the interactive hooks replaced by recorders so that no
// dialog blocks a test.
#include <QString>
#include <vector>

#include "app/application.h"

// Records every message, error and quit request while it lives; puts the hooks back after.
struct QuietUi {
    std::vector<QString> messages;
    std::vector<QString> errors;
    int quitCalls = 0;

    QuietUi() {
        Ui::ShowMessage = [this](const QString& t) { messages.push_back(t); };
        Ui::ShowError = [this](const QString& t) { errors.push_back(t); };
        Ui::AskSaveBeforeExit = [] { return Ui::ExitChoice::Discard; };
        Ui::AskSaveRows = [](const QString&) { return Ui::ExitChoice::Discard; };
        Ui::AskYesNo = [](const QString&) { return false; };
        Ui::QuitApplication = [this] { quitCalls++; };
    }
    ~QuietUi() { Ui::ResetHooks(); }
    QuietUi(const QuietUi&) = delete;
    QuietUi& operator=(const QuietUi&) = delete;
};
