// The reference of velmo and velmo-cli in one place: what each command, option,
// sub-command word and exit code means, the settings of kova.ini, the
// environment and the files. `velmo-cli --help`, `velmo-cli help COMMAND`, the
// manual pages velmo(1) and velmo-cli(1) and the bash completion are all made
// from these tables (clihelp.h), so they cannot drift apart.
//
// A new command or option is one more row of HelpEntries() (clidoc.cpp); the
// help test fails while an option of a command's usage line has no row.
#pragma once
#include <string>
#include <vector>

namespace velmo::cli {

// One row of the command reference.
//   item ""        the command's description (a paragraph)
//   item "--NAME"  an option; value: the form of its value ("T|D", "yyyymmdd"),
//                  empty for a flag; "--NAME=VALUE" options name the whole word
//   item "WORD"    a sub-command word ("schedule install")
//   item "exit N"  an exit code of the command beyond the common 0, 1 and 2
struct HelpEntry {
  const char* command;
  const char* item;
  const char* value;
  const char* text;
};
const std::vector<HelpEntry>& HelpEntries();

// A key of section [main] of kova.ini.
struct SettingEntry {
  const char* key;
  const char* fallback;  // the value used when the key is missing ("" none)
  const char* text;
};
const std::vector<SettingEntry>& SettingEntries();

// An environment variable read by the programs.
struct EnvironmentEntry {
  const char* name;
  const char* text;
};
const std::vector<EnvironmentEntry>& EnvironmentEntries();

// A file or folder of the program: where it lives with a program folder that
// can be written, and where when it cannot (the installed package).
struct FileEntry {
  const char* name;
  const char* writable;   // with a writable program folder
  const char* installed;  // with the installed, read-only program folder
  const char* text;
};
const std::vector<FileEntry>& FileEntries();

// An exit code of a program ("velmo" silent mode, "velmo-cli" every command).
struct ExitEntry {
  const char* program;
  int code;
  const char* text;
};
const std::vector<ExitEntry>& ExitEntries();

}  // namespace velmo::cli
