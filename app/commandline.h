// Command line: `sheetbuilder [options] [KEY=VALUE ...]`. Reads the options and the
// settings given as arguments, answers --help and --version, and turns a usage error into
// one line and status 2, all before any module starts or any window opens.
// Depends on the settings table (its keys are checked and listed in the help). Keeps no
// state.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "runtime/object.h"

// Exit statuses of the program.
constexpr int kStatusDone = 0;
constexpr int kStatusFailed = 1;  // a setting or a file failed
constexpr int kStatusUsage = 2;   // the command line itself is wrong

// What the command line asks of a run. No arguments: every field at its default, which is
// the run the program always made.
struct TRunOptions {
  TSettingsSource settings;          // -s FILE and the KEY=VALUE arguments
  std::optional<String> output_dir;  // -o DIR: where every file goes (must exist)
  bool no_window = false;            // --no-window: draw off-screen even with a display
  bool print_settings = false;       // --print-settings: print them as a settings file, end
  bool verbose = false;              // -v: a line per file written, and the sheet's time
  bool quiet = false;                // -q: nothing on stderr but errors
};

// The command line read: the options for the run, or the status to end with at once (after
// --help, --version or a usage error, each already answered).
struct TCommandLine {
  TRunOptions options;
  std::optional<int> exit_status;
};

// Reads the program's arguments (UTF-8, the program's name first).
TCommandLine ReadCommandLine(const std::vector<std::string>& arguments);

// The --help text: usage, every option, every setting with its default.
std::string HelpText();
// The --version line, "Sheet Builder <version>".
std::string VersionLine();
