// velmo-cli: one table of commands. Each command lives in its own file
// src/app/cli_NAME.cpp and enters the table with a static CliRegistrar, so a new
// command touches no other file.
#pragma once
#include <string>
#include <vector>

#include "common/globals.h"
#include "maintenance/commandui.h"

namespace velmo::cli {

using Args = std::vector<std::string>;

struct Command {
  std::string name;
  std::string usage;     // one line, after "velmo-cli "
  std::string summary;   // what it does, for the help text
  int (*run)(const Args& args);  // args after the command name; returns the exit code
};

std::vector<Command>& Commands();

struct Registrar {
  explicit Registrar(Command c) { Commands().push_back(std::move(c)); }
};

// Exit codes shared by every command.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Prints the command's usage line on standard error; returns kExitUsage.
int Usage(const std::string& command);

// Sets up the log and reads kova.ini; false (with a line on standard error)
// when the settings cannot be used (no DBDir …).
bool InitSettings(const std::string& command);

// Takes "--yes" out of the arguments and installs the message-box answerer:
// with --yes every question is answered OK/Yes; without it a question is asked
// on the terminal, or refused (Cancel/No) when standard input is not one.
// Reports (OK-only boxes) go to standard error.
void InstallAnswerer(Args& args);

// Takes "--NAME VALUE" out of the arguments; empty when absent. "--NAME" without
// a value makes `bad` true.
std::string TakeOption(Args& args, const std::string& name, bool& bad);
// Takes a bare flag "--NAME" out of the arguments.
bool TakeFlag(Args& args, const std::string& name);

// A text as a JSON string, quotes included.
std::string JsonString(const std::string& s);

// The database file of a --db value: this, data, code or a path; empty when unknown.
std::string DatabasePathOf(const std::string& which);

// Progress of a command on standard error: one line per status text.
class StderrUi : public CommandUi, public StatusSink {
 public:
  void setStatus(const std::string& text) override;
  void setBusyText(const std::string& text) override;
  std::string statusText() const override { return status_; }
  void setStatusText(const std::string& text) override { setStatus(text); }
  // Sets the status text without printing it (a base that later lines extend).
  void setBase(const std::string& text) { status_ = text; }

 private:
  std::string status_;
  std::string busy_;
};

}  // namespace velmo::cli
