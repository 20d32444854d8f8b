// Command line, read with CLI11. The options are declared once, here; the settings part of
// the help is written from the settings table, so neither can drift from what is read.
#include "app/commandline.h"

#include <CLI/CLI.hpp>

#include <cstdio>

#include "app/messages.h"  // for ReportLine and QuotedName
#include "runtime/text.h"

#ifndef SHEETBUILDER_VERSION
#define SHEETBUILDER_VERSION "unknown"
#endif

namespace {

// Constants.
constexpr char kProgramName[] = "sheetbuilder";
constexpr char kTryHelp[] = "Try 'sheetbuilder --help'.";
constexpr std::size_t kSettingColumn = 30;  // where the settings' meanings start in the help

// The options, bound to the fields they set.
struct TParser {
  CLI::App app{
      "Sheet Builder draws sheets of procedurally generated pixel-art sprites and "
      "saves them as PNG images.",
      kProgramName};
  bool help = false;
  bool version = false;
  std::string settings_file;
  std::string output_dir;
  std::vector<std::string> pairs;
  CLI::Option* settings_option = nullptr;
  CLI::Option* output_option = nullptr;

  explicit TParser(TRunOptions& options) {
    app.set_help_flag();  // ours below, so that it prints to stdout and ends with status 0
    app.allow_extras();   // an unknown option gets our own one-line message
    app.add_flag("-h,--help", help, "Print this help and exit");
    app.add_flag("-V,--version", version, "Print the version and exit");
    settings_option =
        app.add_option(
               "-s,--settings", settings_file,
               "Read the settings from FILE instead of ./settings.ini ('-': standard input)")
            ->type_name("FILE")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    output_option =
        app.add_option("-o,--output-dir", output_dir,
                       "Write every file into DIR, which must exist (default: the current folder)")
            ->type_name("DIR")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("--no-window", options.no_window,
                 "Draw off-screen even where a display exists, write the files and end");
    app.add_flag("--print-settings", options.print_settings,
                 "Print the settings in force as a settings file, with where each came "
                 "from, and exit");
    app.add_flag("-v,--verbose", options.verbose,
                 "Say every file written (name, pixel size, bytes) and the time the sheet took");
    app.add_flag("-q,--quiet", options.quiet, "Say nothing on standard error but errors");
    app.add_option("KEY=VALUE", pairs,
                   "Settings, read after the settings file by its rules, so they win; the "
                   "last one given wins")
        ->type_name("");
    app.footer(SettingsHelp());
  }

  // The settings part of the help, from the table the reader uses.
  static std::string SettingsHelp() {
    std::string text =
        "Settings (KEY=VALUE, or key = value lines in the settings file; keys ignore case "
        "and spaces):\n";
    for (const TSettingInfo& setting : SettingTable()) {
      std::string keys;
      for (const String& alias : setting.aliases) {
        keys += (keys.empty() ? "" : ", ") + TextToUtf8(alias);
      }
      std::string line = "  " + std::string(setting.key);
      line += std::string(line.size() < kSettingColumn ? kSettingColumn - line.size() : 1, ' ');
      text +=
          line + setting.meaning + " (default: " + setting.default_text + "; keys: " + keys + ")\n";
    }
    text +=
        "\nExit status: 0 done; 1 a setting or a file failed; 2 the command line is wrong.\n"
        "Example: sheetbuilder -o sheets --no-window Seed=7 \"Sprite Size=32\" Make=Grow";
    return text;
  }
};

// A usage error: its line, the pointer to the help, status 2.
int UsageError(const std::string& line) {
  ReportLine(std::string(kProgramName) + ": " + line);
  ReportLine(kTryHelp);
  return kStatusUsage;
}

// The one line for a parse error CLI11 raised.
std::string ParseErrorLine(const CLI::ParseError& error) {
  const std::string what = error.what();
  // CLI11 says "--settings: 1 required FILE missing" for an option given without its value.
  const std::size_t colon = what.find(": ");
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) && colon != std::string::npos &&
      what.find("missing") != std::string::npos) {
    return "option '" + what.substr(0, colon) + "' needs a value";
  }
  return what;
}

// Puts a stdout text out with a final line end.
void PrintToStdout(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  if (text.empty() || text.back() != '\n') std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

std::string VersionLine() { return std::string("Sheet Builder ") + SHEETBUILDER_VERSION; }

std::string HelpText() {
  TRunOptions unused;
  TParser parser(unused);
  return parser.app.help();
}

TCommandLine ReadCommandLine(const std::vector<std::string>& arguments) {
  TCommandLine result;
  TParser parser(result.options);
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  if (!reversed.empty()) reversed.pop_back();  // the program's name
  try {
    parser.app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    result.exit_status = UsageError(ParseErrorLine(error));
    return result;
  }
  for (const std::string& extra : parser.app.remaining()) {
    if (extra == "--") continue;
    result.exit_status = UsageError("unknown option " + QuotedName(TextFromUtf8(extra)));
    return result;
  }
  if (result.options.verbose && result.options.quiet) {
    result.exit_status = UsageError("--verbose and --quiet cannot be given together");
    return result;
  }
  for (const std::string& pair : parser.pairs) {
    const String line = TextFromUtf8(pair);
    const std::size_t equals = line.find(u'=');
    if (equals == String::npos) {
      result.exit_status =
          UsageError(QuotedName(line) + " is neither an option nor a KEY=VALUE setting");
      return result;
    }
    // Note: in a file an unknown key is ignored; on the command line it is surely a typo.
    const String key = line.substr(0, equals);
    if (!IsSettingKey(key)) {
      const String closest = ClosestSettingKey(key);
      result.exit_status = UsageError(
          "unknown setting " + QuotedName(key) + " in " + QuotedName(line) +
          (closest.empty() ? std::string() : " (did you mean " + QuotedName(closest) + "?)"));
      return result;
    }
    result.options.settings.lines.push_back(line);
  }
  if (parser.help) {
    PrintToStdout(parser.app.help());
    result.exit_status = kStatusDone;
  } else if (parser.version) {
    PrintToStdout(VersionLine());
    result.exit_status = kStatusDone;
  }
  if (parser.settings_option->count()) {
    result.options.settings.file = TextFromUtf8(parser.settings_file);
  }
  if (parser.output_option->count()) result.options.output_dir = TextFromUtf8(parser.output_dir);
  return result;
}
