// The texts made from the reference tables (clidoc.h) and the command table
// (cli.h): the help of velmo-cli, its version, the manual pages velmo(1) and
// velmo-cli(1) and the bash completion of velmo-cli.
#pragma once
#include <string>
#include <vector>

#include "app/cli.h"

namespace velmo::cli {

// "velmo-cli 7.2.0".
std::string VersionText();
// `velmo-cli --help`: the usage of every command and the global options.
std::string OverviewHelp();
// `velmo-cli help COMMAND`: usage, description, options, words and exit codes;
// empty for an unknown command.
std::string CommandHelp(const std::string& name);
// The manual page (roff) of "velmo" or "velmo-cli"; empty for another name.
std::string ManPage(const std::string& program);
// The bash completion script of velmo-cli.
std::string BashCompletion();

// The option names of a usage line ("--mode", "--progress=json"), in order.
std::vector<std::string> UsageOptions(const std::string& usage);
// The sub-command words and the options of a command, as documented.
std::vector<std::string> CommandWords(const std::string& name);
std::vector<std::string> CommandOptions(const std::string& name);

// `velmo-cli help ...`; returns the exit code.
//   help                    the overview on standard output
//   help COMMAND            the command's help
//   help --man PROGRAM      the manual page of velmo or velmo-cli (run by the build)
//   help --completion bash  the completion script (run by the build)
//   help --commands         one line per command: name, options, words (tab-separated)
int HelpMain(const Args& args);

}  // namespace velmo::cli
