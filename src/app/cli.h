#pragma once
// The command-line entry point of ms42k: no arguments open the window; subcommands reuse
// the same core without a window.
#include <string>
#include <vector>

using CliArgs = std::vector<std::string>;

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
