#pragma once
// The command-line entry point of ms42k: no arguments open the window; subcommands reuse
// the same core without a window.
#include <memory>
#include <string>
#include <vector>

#include <QCommandLineParser>
#include <QList>

class QCoreApplication;

using CliArgs = std::vector<std::string>;

// Exit statuses of the program and of every subcommand.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Subcommands: arguments after the subcommand name; result is the exit status.
int CmdDecode(const CliArgs& args);
int CmdConvert(const CliArgs& args);
int CmdLog(const CliArgs& args);
int CmdReport(const CliArgs& args);
int CmdScan(const CliArgs& args);

int RunMain(int argc, char** argv);

struct AppOptions;
// Window options provided by the areas (e.g. --simulate); true when the option was taken.
bool ApplyWindowOption(const std::string& option, AppOptions& options);

// The options of `ms42k` without a subcommand. Returns the exit status when the program ends
// here (after --help or --version, or a usage error, with its text printed), or -1 when the
// window is to be opened with `options`.
int ParseWindowArgs(const CliArgs& args, AppOptions& options);

// Parses a subcommand's arguments (synopsis: its name and arguments) with its parser: the options (added here, with --help/-h)
// and the positional arguments the caller declared. --opt=value and --opt value are both taken.
// Returns the exit status when the subcommand ends here: 0 after --help (synopsis and the
// options' help printed to standard output), 2 for a usage error (the reason and a pointer
// to --help printed to standard error); -1 when the caller goes on.
int ParseSubcommandArgs(QCommandLineParser& parser, QList<QCommandLineOption> options, const std::string& synopsis,
                        const CliArgs& args);

// A usage error of a subcommand (synopsis: its name and arguments): prints "ms42k NAME: WHY",
// the usage line and the --help pointer to standard error, and returns 2.
// The application object a subcommand needs when it runs outside a test's own: a core one
// (event loop, timers) or, for fonts and painting, a GUI one on the offscreen platform.
// Empty when one exists already.
std::unique_ptr<QCoreApplication> SubcommandApplication(bool gui = false);

int SubcommandUsageError(const std::string& synopsis, const std::string& why);
