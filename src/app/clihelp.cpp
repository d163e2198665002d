#include "app/clihelp.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "app/clidoc.h"
#include "common/text.h"

#ifndef VELMO_VERSION_STRING
#define VELMO_VERSION_STRING "unknown"
#endif

namespace velmo::cli {

namespace {

bool isOption(const std::string& item) { return item.rfind("--", 0) == 0; }
bool isExit(const std::string& item) { return item.rfind("exit ", 0) == 0; }
bool isWord(const std::string& item) { return !item.empty() && !isOption(item) && !isExit(item); }

std::vector<Command> sortedCommands() {
  auto c = Commands();
  std::sort(c.begin(), c.end(), [](const Command& a, const Command& b) { return a.name < b.name; });
  return c;
}

const Command* findCommand(const std::string& name) {
  for (const auto& c : Commands())
    if (c.name == name) return &c;
  return nullptr;
}

std::vector<const HelpEntry*> rowsOf(const std::string& command) {
  std::vector<const HelpEntry*> rows;
  for (const auto& e : HelpEntries())
    if (command == e.command) rows.push_back(&e);
  return rows;
}

// The values a completion offers for an option: "this|data|code|PATH" gives
// this, data and code; a placeholder (PATH, yyyymmdd, HH:MM) offers nothing.
std::vector<std::string> valueChoices(const std::string& value) {
  std::vector<std::string> out;
  if (value.find('|') == std::string::npos) return out;
  for (const auto& v : text::split(value, '|')) {
    bool placeholder = v.size() > 1 && std::all_of(v.begin(), v.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
    if (!v.empty() && !placeholder) out.push_back(v);
  }
  return out;
}

std::string join(const std::vector<std::string>& v, const std::string& sep) {
  std::string s;
  for (size_t i = 0; i < v.size(); ++i) s += (i ? sep : "") + v[i];
  return s;
}

// Text folded at blanks into lines of at most `width` bytes, each after `indent`.
std::string wrap(const std::string& t, const std::string& indent, size_t width = 100) {
  std::string out, line;
  for (const auto& w : text::split(t, ' ')) {
    if (!line.empty() && indent.size() + line.size() + 1 + w.size() > width) {
      out += indent + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + w;
  }
  if (!line.empty()) out += indent + line + "\n";
  return out;
}

// Text escaped for roff: backslashes, hyphens, and a leading dot or quote.
std::string roff(const std::string& t) {
  std::string s;
  for (char c : t) {
    if (c == '\\') s += "\\e";
    else if (c == '-') s += "\\-";
    else s += c;
  }
  if (!s.empty() && (s[0] == '.' || s[0] == '\'')) s = "\\&" + s;
  return s;
}

std::string roffBold(const std::string& t) { return "\\fB" + roff(t) + "\\fR"; }

std::string settingsSection() {
  std::string m = ".SH SETTINGS\nThe settings file \\fIkova.ini\\fR of the settings folder, section [main]:\n";
  for (const auto& s : SettingEntries()) {
    m += ".TP\n" + roffBold(s.key) + "\n" + roff(s.text);
    if (*s.fallback) m += std::string(" (default ") + roff(s.fallback) + ")";
    m += "\n";
  }
  return m;
}

std::string environmentSection() {
  std::string m = ".SH ENVIRONMENT\n";
  for (const auto& e : EnvironmentEntries()) m += ".TP\n" + roffBold(e.name) + "\n" + roff(e.text) + "\n";
  return m;
}

std::string filesSection() {
  std::string m =
      ".SH FILES\nThe program folder is $VELMO_HOME, else the folder of the executable when it holds the program's files, "
      "else /usr/share/velmo (installed, never written). Where the program folder cannot be written, what the program "
      "writes for itself goes to the user's folders:\n";
  for (const auto& f : FileEntries()) {
    m += ".TP\n" + roffBold(f.name) + "\n" + roff(f.text) + ". ";
    if (std::string(f.writable) == f.installed) m += roff(std::string("In the ") + f.writable) + ".\n";
    else m += roff(std::string("Writable program folder: ") + f.writable + "; installed: " + f.installed) + ".\n";
  }
  return m;
}

std::string exitSection(const std::string& program) {
  std::string m = ".SH EXIT STATUS\n";
  for (const auto& e : ExitEntries())
    if (program == e.program) m += ".TP\n" + roffBold(std::to_string(e.code)) + "\n" + roff(e.text) + "\n";
  if (program == "velmo-cli")
    for (const auto& c : sortedCommands())
      for (const auto* r : rowsOf(c.name))
        if (isExit(r->item)) m += ".TP\n" + roffBold(std::string(r->item).substr(5)) + "\n" + roff(c.name + ": " + r->text) + "\n";
  return m;
}

std::string header(const std::string& program, const std::string& summary) {
  std::string up = text::toUpperAscii(program);
  return ".\\\" Made by velmo-cli help --man " + program + " from the program's reference tables.\n" +
         ".TH \"" + roff(up) + "\" \"1\" \"\" \"Velmo " VELMO_VERSION_STRING "\" \"Velmo\"\n.SH NAME\n" + roff(program) +
         " \\- " + roff(summary) + "\n";
}

std::string velmoPage() {
  std::string m = header("velmo", "registers the horse-racing data provider's archives into the member's databases");
  m += ".SH SYNOPSIS\n" + roffBold("velmo") + "\n.br\n";
  for (const auto* r : rowsOf("velmo"))
    if (*r->item) m += roffBold("velmo") + " " + roff(r->item) + "\n.br\n";
  m += ".SH DESCRIPTION\n";
  bool first = true;
  for (const auto* r : rowsOf("velmo")) {
    if (*r->item) continue;
    m += (first ? "" : ".PP\n") + roff(r->text) + "\n";
    first = false;
  }
  m += ".SH MODES\n";
  for (const auto* r : rowsOf("velmo"))
    if (*r->item) m += ".TP\n" + roffBold("velmo") + " " + roff(r->item) + "\n" + roff(r->text) + "\n";
  m += exitSection("velmo") + settingsSection() + environmentSection() + filesSection();
  m += ".SH SEE ALSO\n" + roffBold("velmo-cli") + "(1)\n";
  return m;
}

std::string cliPage() {
  std::string m = header("velmo-cli", "Velmo's commands for scripts, terminals and headless machines");
  m += ".SH SYNOPSIS\n" + roffBold("velmo-cli") + " " + roff("COMMAND [ARGS]") + "\n.br\n" + roffBold("velmo-cli") + " " +
       roff("help [COMMAND]") + "\n.br\n" + roffBold("velmo-cli") + " " + roff("--help | --version") + "\n";
  m += ".SH DESCRIPTION\nEach command is a face of the same operation that the main screen of "
       "\\fBvelmo\\fR(1) runs, with the settings of kova.ini. Progress goes to standard error. Commands that delete or "
       "replace data ask their questions on the terminal, take \\fB\\-\\-yes\\fR to answer them, and refuse where "
       "there is no terminal. Commands that write take the database folder's writer lock.\n";
  m += ".SH OPTIONS\n.TP\n" + roffBold("--help") + ", " + roffBold("-h") +
       "\nprints the commands and their usage; after a command, that command's help\n.TP\n" + roffBold("--version") +
       "\nprints the version\n";
  m += ".SH COMMANDS\n";
  for (const auto& c : sortedCommands()) {
    m += ".SS \"velmo\\-cli " + roff(c.name) + "\"\n" + roffBold("velmo-cli") + " " + roff(c.usage) + "\n.PP\n";
    bool described = false;
    for (const auto* r : rowsOf(c.name))
      if (!*r->item) {
        m += roff(r->text) + "\n";
        described = true;
      }
    if (!described) m += roff(c.summary) + "\n";
    for (const auto* r : rowsOf(c.name)) {
      if (!*r->item || isExit(r->item)) continue;
      m += ".TP\n" + roffBold(r->item) + (*r->value ? " " + roff(r->value) : "") + "\n" + roff(r->text) + "\n";
    }
    for (const auto* r : rowsOf(c.name))
      if (isExit(r->item)) m += ".TP\n" + roff(std::string("Exit ") + (r->item + 5)) + "\n" + roff(r->text) + "\n";
  }
  m += exitSection("velmo-cli") + settingsSection() + environmentSection() + filesSection();
  m += ".SH SEE ALSO\n" + roffBold("velmo") + "(1)\n";
  return m;
}

}  // namespace

std::string VersionText() { return std::string("velmo-cli ") + VELMO_VERSION_STRING; }

std::vector<std::string> UsageOptions(const std::string& usage) {
  std::vector<std::string> out;
  for (size_t i = usage.find("--"); i != std::string::npos; i = usage.find("--", i)) {
    size_t e = i + 2;
    while (e < usage.size() && (std::isalnum(static_cast<unsigned char>(usage[e])) || usage[e] == '-' || usage[e] == '=' ||
                                usage[e] == '_'))
      ++e;
    std::string w = usage.substr(i, e - i);
    if (w.size() > 2 && std::find(out.begin(), out.end(), w) == out.end()) out.push_back(w);
    i = e;
  }
  return out;
}

std::vector<std::string> CommandWords(const std::string& name) {
  std::vector<std::string> out;
  for (const auto* r : rowsOf(name))
    if (isWord(r->item)) out.push_back(r->item);
  return out;
}

std::vector<std::string> CommandOptions(const std::string& name) {
  std::vector<std::string> out;
  for (const auto* r : rowsOf(name))
    if (isOption(r->item)) out.push_back(r->item);
  return out;
}

std::string OverviewHelp() {
  std::string h = "usage: velmo-cli COMMAND [ARGS]\n       velmo-cli help COMMAND | --help | --version\n\ncommands:\n";
  for (const auto& c : sortedCommands()) h += "  velmo-cli " + c.usage + "\n      " + c.summary + "\n";
  h += "\nexit codes: 0 success, 1 failure, 2 usage error (see velmo-cli help COMMAND)\n";
  return h;
}

std::string CommandHelp(const std::string& name) {
  const Command* c = findCommand(name);
  if (!c) return "";
  std::string h = "usage: velmo-cli " + c->usage + "\n\n";
  bool described = false;
  for (const auto* r : rowsOf(name))
    if (!*r->item) {
      h += wrap(r->text, "");
      described = true;
    }
  if (!described) h += wrap(c->summary, "");
  bool heading = false;
  for (const auto* r : rowsOf(name)) {
    if (!*r->item || isExit(r->item)) continue;
    if (!heading) h += "\n";
    heading = true;
    std::string left = std::string(r->item) + (*r->value ? " " + std::string(r->value) : "");
    h += "  " + left + "\n" + wrap(r->text, "      ");
  }
  h += "\nexit codes: 0 success, 1 failure, 2 usage error";
  for (const auto* r : rowsOf(name))
    if (isExit(r->item)) h += std::string(", ") + (r->item + 5) + " " + r->text;
  return h + "\n";
}

std::string ManPage(const std::string& program) {
  if (program == "velmo") return velmoPage();
  if (program == "velmo-cli") return cliPage();
  return "";
}

std::string BashCompletion() {
  std::vector<std::string> names;
  for (const auto& c : sortedCommands()) names.push_back(c.name);
  std::string s =
      "# bash completion for velmo-cli; made by \"velmo-cli help --completion bash\" from the command table.\n"
      "_velmo_cli() {\n"
      "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} words=\"\" opts=\"\"\n"
      "  if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
      "    COMPREPLY=($(compgen -W \"" + join(names, " ") + " help --help --version\" -- \"$cur\"))\n"
      "    return\n"
      "  fi\n"
      "  case \"${COMP_WORDS[1]}\" in\n"
      "    help) words=\"" + join(names, " ") + "\" ;;\n";
  for (const auto& c : sortedCommands()) {
    std::vector<std::string> opts = CommandOptions(c.name);
    opts.push_back("--help");
    s += "    " + c.name + ")\n      words=\"" + join(CommandWords(c.name), " ") + "\"\n      opts=\"" + join(opts, " ") + "\"\n";
    std::string values;
    for (const auto* r : rowsOf(c.name)) {
      if (!isOption(r->item)) continue;
      auto v = valueChoices(r->value);
      if (!v.empty()) values += "        " + std::string(r->item) + ") COMPREPLY=($(compgen -W \"" + join(v, " ") + "\" -- \"$cur\")); return ;;\n";
    }
    if (!values.empty()) s += "      case \"$prev\" in\n" + values + "      esac\n";
    s += "      ;;\n";
  }
  s += "  esac\n"
       "  if [[ \"$cur\" == -* ]]; then\n"
       "    COMPREPLY=($(compgen -W \"$opts\" -- \"$cur\"))\n"
       "  elif [ \"$COMP_CWORD\" -eq 2 ] && [ -n \"$words\" ]; then\n"
       "    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
       "  else\n"
       "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
       "  fi\n"
       "}\n"
       "complete -o filenames -F _velmo_cli velmo-cli\n";
  return s;
}

int HelpMain(const Args& args) {
  if (args.empty()) {
    std::fputs(OverviewHelp().c_str(), stdout);
    return kExitOk;
  }
  if (args.size() == 2 && args[0] == "--man") {
    std::string page = ManPage(args[1]);
    if (page.empty()) return kExitUsage;
    std::fputs(page.c_str(), stdout);
    return kExitOk;
  }
  if (args.size() == 2 && args[0] == "--completion" && args[1] == "bash") {
    std::fputs(BashCompletion().c_str(), stdout);
    return kExitOk;
  }
  if (args.size() == 1 && args[0] == "--commands") {
    for (const auto& c : sortedCommands())
      std::printf("%s\t%s\t%s\t%s\n", c.name.c_str(), join(UsageOptions(c.usage), " ").c_str(),
                  join(CommandOptions(c.name), " ").c_str(), join(CommandWords(c.name), " ").c_str());
    return kExitOk;
  }
  if (args.size() == 1) {
    std::string h = CommandHelp(args[0]);
    if (!h.empty()) {
      std::fputs(h.c_str(), stdout);
      return kExitOk;
    }
    std::fprintf(stderr, "velmo-cli help: unknown command \"%s\"\n", args[0].c_str());
  }
  std::fputs(OverviewHelp().c_str(), stderr);
  return kExitUsage;
}

}  // namespace velmo::cli
