// The command line, through the built program as a script runs it: in a scratch folder,
// with arguments, standard input and output captured, and (unless a test gives one) no
// display. Each option is judged by the files it leaves, the status and the lines it says.
#include <fcntl.h>
#include <pty.h>  // for openpty: a terminal for the progress line
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>  // for std::remove
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/commandline.h"
#include "app/settings.h"
#include "app_test_support.h"
#include "runtime/text.h"
#include "support/xvfb.h"

#ifndef SHEETBUILDER_PROGRAM
#define SHEETBUILDER_PROGRAM "sheetbuilder"
#endif

namespace {

using namespace std::chrono_literals;

// What one run of the program gave.
struct TRun {
  int status = -1;  // exit status; -1 for a signal or a run that did not end in time
  std::string out;  // standard output
  std::string err;  // standard error
};

std::string ReadText(const std::filesystem::path& file) {
  const std::vector<uint8_t> bytes = ReadBytes(file);
  return std::string(bytes.begin(), bytes.end());
}

int Lines(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

// How a run is set up beyond its folder and arguments.
struct TRunSetup {
  std::string input;      // standard input
  std::string display;    // empty: no display
  bool terminal = false;  // standard error on a terminal (standard output still a file)
};

// Runs the program in `folder` with `arguments`; waits up to 60 s for it to end.
TRun RunProgram(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                const TRunSetup& setup = {}) {
  const std::string base = folder.string();
  const std::string out_path = base + ".stdout", err_path = base + ".stderr",
                    in_path = base + ".stdin";
  std::ofstream(in_path, std::ios::binary) << setup.input;
  int terminal = -1, terminal_end = -1;
  if (setup.terminal && openpty(&terminal, &terminal_end, nullptr, nullptr, nullptr) != 0) {
    return TRun{};
  }
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(120);
    dup2(open(in_path.c_str(), O_RDONLY), 0);
    dup2(open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    dup2(setup.terminal ? terminal_end : open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
         2);
    unsetenv("WAYLAND_DISPLAY");
    if (setup.display.empty()) {
      unsetenv("DISPLAY");
    } else {
      setenv("DISPLAY", setup.display.c_str(), 1);
    }
    std::vector<char*> argv{const_cast<char*>(SHEETBUILDER_PROGRAM)};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(SHEETBUILDER_PROGRAM, argv.data());
    _exit(121);
  }
  TRun run;
  if (setup.terminal) close(terminal_end);
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  for (int raw = 0;;) {
    // Note: the terminal is read as the program writes, so that it never blocks on it.
    if (setup.terminal) {
      char buffer[4096];
      fcntl(terminal, F_SETFL, O_NONBLOCK);
      for (ssize_t got; (got = read(terminal, buffer, sizeof(buffer))) > 0;)
        run.err.append(buffer, got);
    }
    if (waitpid(pid, &raw, WNOHANG) == pid) {
      run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(10ms);
  }
  if (setup.terminal) {
    char buffer[4096];
    for (ssize_t got; (got = read(terminal, buffer, sizeof(buffer))) > 0;)
      run.err.append(buffer, got);
    close(terminal);
  } else {
    run.err = ReadText(err_path);
  }
  run.out = ReadText(out_path);
  for (const std::string& path : {out_path, err_path, in_path}) std::remove(path.c_str());
  return run;
}

// A small sheet, quick to draw: 2 x 1 cells of 32.
const std::string kSmallSheet = "Sheet Width=64\nSheet Height=32\nSize=32\n";

class CommandLineTest : public ::testing::Test {
 protected:
  TScratchDir dir{false};
};

TEST_F(CommandLineTest, UsageErrorsSayOneLineThenPointToHelpAndDrawNothing) {
  dir.Write("settings.ini", kSmallSheet);
  const struct {
    std::vector<std::string> arguments;
    std::string named;  // what the line must name
  } cases[] = {
      {{"--colour"}, "\"--colour\""},
      {{"-x", "Seed=1"}, "\"-x\""},
      {{"-o"}, "--output-dir"},
      {{"Seed=1", "--settings"}, "--settings"},
      {{"Seed"}, "\"Seed\" is neither an option nor a KEY=VALUE setting"},
      {{"Sede=7"}, "unknown setting \"Sede\" in \"Sede=7\" (did you mean \"Seed\"?)"},
      {{"Sprite Widht=7"}, "(did you mean \"Sprite Width\"?)"},
      {{"Colour=red"}, "unknown setting \"Colour\" in \"Colour=red\""},
      {{"-v", "-q"}, "--verbose and --quiet"},
  };
  for (const auto& usage : cases) {
    SCOPED_TRACE(usage.arguments.front());
    const TRun run = RunProgram(dir.path, usage.arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Lines(run.err), 2) << run.err;
    EXPECT_EQ(run.err.rfind("sheetbuilder: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(usage.named), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("\nTry 'sheetbuilder --help'.\n"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"settings.ini"});
  }
  // An unknown key in the file is still ignored.
  dir.Write("settings.ini", kSmallSheet + "Colour=red\n");
  EXPECT_EQ(RunProgram(dir.path, {}).status, 0);
}

TEST_F(CommandLineTest, HelpAndVersionGoToStandardOutputWithStatusZeroAndDrawNothing) {
  const TRun help = RunProgram(dir.path, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.err.empty()) << help.err;
  for (const char* option :
       {"--settings FILE", "--output-dir DIR", "--no-window", "--print-settings", "--verbose",
        "--quiet", "--version", "KEY=VALUE"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  // Every setting, with its default and every key it answers to.
  for (const TSettingInfo& setting : SettingTable()) {
    const std::size_t at = help.out.find("\n  " + std::string(setting.key) + " ");
    ASSERT_NE(at, std::string::npos) << setting.key;
    const std::string line = help.out.substr(at + 1, help.out.find('\n', at + 1) - at - 1);
    EXPECT_NE(line.find("default: " + std::string(setting.default_text)), std::string::npos)
        << line;
    for (const String& alias : setting.aliases) {
      EXPECT_NE(line.find(TextToUtf8(alias)), std::string::npos) << line;
    }
  }
  EXPECT_EQ(RunProgram(dir.path, {"-h"}).out, help.out);

  for (const char* option : {"--version", "-V"}) {
    const TRun version = RunProgram(dir.path, {option});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "Sheet Builder 1.0.0\n");
    EXPECT_TRUE(version.err.empty()) << version.err;
  }
  EXPECT_TRUE(dir.Files().empty());
}

TEST_F(CommandLineTest, ArgumentsWinOverTheFileWhichWinsOverDefaultsAndTheLastArgumentWins) {
  dir.Write("settings.ini", "Sheet Width=64\nSheet Height=64\nSize=32\nOutput=file\nMake=grow\n");
  const TRun good = RunProgram(dir.path, {"Sheet Height=32", "Output=first", " sAVE aS = second "});
  ASSERT_EQ(good.status, 0) << good.err;
  // Width from the file (64), height from the arguments, scaling from the file, the last
  // name given, the seed left to its default (the clock).
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"second-hd.png", "second-hd2.png", "second.png",
                                                   "settings.ini"}));
  EXPECT_EQ(ReadPngHeader(dir / "second.png").width, 64u);
  EXPECT_EQ(ReadPngHeader(dir / "second.png").height, 32u);
}

TEST_F(CommandLineTest, ArgumentsFollowTheFilesRulesAndRefusalsWriteNothing) {
  dir.Write("settings.ini", "Sheet Height=32\n");
  // Aliases, case and spaces, "$" hexadecimal, a value ending at a second "=".
  ASSERT_EQ(RunProgram(dir.path, {"screenwidth=$40", "SPRITE size = 32", "Filename=a=b"}).status,
            0);
  EXPECT_EQ(ReadPngHeader(dir / "a.png").width, 64u);

  TScratchDir refused{false};
  refused.Write("settings.ini", "Seed=1\n");
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"Size=0"}, {"Seed=4294967297"}, {"Sheet Width=-3"}}) {
    SCOPED_TRACE(arguments.front());
    const TRun run = RunProgram(refused.path, arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Lines(run.err), 1) << run.err;
    EXPECT_EQ(refused.Files(), std::vector<std::string>{"settings.ini"});
  }
}

TEST_F(CommandLineTest, SettingsComeFromTheNamedFileOrStandardInputInsteadOfSettingsIni) {
  dir.Write("settings.ini", "Output=ignored\n" + kSmallSheet);
  dir.Write("other.ini", "Output=other\nSheet Width=32\nSheet Height=32\nSize=32\n");
  ASSERT_EQ(RunProgram(dir.path, {"-s", "other.ini"}).status, 0);
  EXPECT_EQ(ReadPngHeader(dir / "other.png").width, 32u);

  TRunSetup piped;
  piped.input = "Output=piped\r\n" + kSmallSheet;
  ASSERT_EQ(RunProgram(dir.path, {"--settings", "-"}, piped).status, 0);
  EXPECT_EQ(ReadPngHeader(dir / "piped.png").width, 64u);
  EXPECT_EQ(dir.Files(),
            (std::vector<std::string>{"other.ini", "other.png", "piped.png", "settings.ini"}));

  for (const char* unreadable : {"missing.ini", "."}) {
    SCOPED_TRACE(unreadable);
    const TRun run = RunProgram(dir.path, {"-s", unreadable});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Lines(run.err), 1) << run.err;
    EXPECT_EQ(run.err.rfind("Could not read the settings file", 0), 0u) << run.err;
  }
  EXPECT_EQ(dir.Files().size(), 4u);
}

TEST_F(CommandLineTest, OutputDirReceivesEveryFileAndMustExist) {
  dir.Write("settings.ini", kSmallSheet + "Atlas=JSON\nSplit=True\n");
  std::filesystem::create_directory(dir / "sheets");
  // The temporary files of the safe save are made beside the final ones, in the folder.
  const TRun run = RunProgram(dir.path, {"-o", "sheets"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"settings.ini", "sheets"}));
  const std::vector<std::string> written = [&] {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "sheets")) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }();
  EXPECT_EQ(written,
            (std::vector<std::string>{"Out-000.png", "Out-001.png", "Out.json", "Out.png"}));

  for (const char* missing : {"nowhere", "settings.ini"}) {
    SCOPED_TRACE(missing);
    const TRun refused = RunProgram(dir.path, {"--output-dir", missing});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(Lines(refused.err), 1) << refused.err;
    EXPECT_NE(refused.err.find(std::string("\"") + missing + "\""), std::string::npos)
        << refused.err;
  }
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"settings.ini", "sheets"}));
}

TEST_F(CommandLineTest, PrintedSettingsNameTheirOriginsAndReadBackToTheSameSheet) {
  dir.Write("settings.ini", kSmallSheet + "Make=Bigger\nOutput=gems\n");
  const TRun printed = RunProgram(dir.path, {"--print-settings", "Seed=$2A", "Atlas=json"});
  ASSERT_EQ(printed.status, 0) << printed.err;
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"settings.ini"});  // nothing drawn
  // Each setting under the remark naming where it came from.
  for (const char* expected :
       {"# from \"settings.ini\"\nSheet Width = 64\n", "# the default\nSplit = False\n",
        "# from \"settings.ini\"\nMake = Grow\n", "# from the command line\nSeed = 42\n",
        "# from the command line\nAtlas = JSON\n", "# the default\nRenderer = Software\n"}) {
    EXPECT_NE(printed.out.find(expected), std::string::npos) << expected << printed.out;
  }
  // Every line is a setting or a remark without "=", which the reader ignores.
  std::istringstream lines(printed.out);
  int settings = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.find('=') != std::string::npos) {
      ++settings;
      EXPECT_EQ(line.find('#'), std::string::npos) << line;
    }
  }
  EXPECT_EQ(settings, static_cast<int>(SettingTable().size()));

  TScratchDir again{false};
  again.Write("printed.ini", printed.out);
  ASSERT_EQ(RunProgram(dir.path, {"Seed=$2A", "Atlas=json"}).status, 0);
  ASSERT_EQ(RunProgram(again.path, {"-s", "printed.ini"}).status, 0);
  for (const char* file : {"gems.png", "gems-hd2.png", "gems.json"}) {
    EXPECT_EQ(ReadBytes(again / file), ReadBytes(dir / file)) << file;
    EXPECT_FALSE(ReadBytes(dir / file).empty()) << file;
  }
  // The clock's seed has no value to print: it stays a remark.
  const TRun unseeded = RunProgram(dir.path, {"--print-settings"});
  EXPECT_NE(unseeded.out.find("# Seed is not set"), std::string::npos) << unseeded.out;
  EXPECT_EQ(unseeded.out.find("\nSeed ="), std::string::npos) << unseeded.out;
}

TEST_F(CommandLineTest, VerboseNamesEveryFileWithItsSizeAndQuietSaysNothing) {
  dir.Write("settings.ini", kSmallSheet + "Make=grow\nAtlas=JSON\n");
  const TRun verbose = RunProgram(dir.path, {"-v"});
  ASSERT_EQ(verbose.status, 0) << verbose.err;
  const struct {
    const char* name;
    const char* size;
  } files[] = {{"Out.png", "64 x 32 pixels"},       {"Out.json", "atlas"},
               {"Out-hd.png", "128 x 64 pixels"},   {"Out-hd.json", "atlas"},
               {"Out-hd2.png", "256 x 128 pixels"}, {"Out-hd2.json", "atlas"}};
  for (const auto& file : files) {
    const std::string line = std::string("Wrote \"") + file.name + "\": " + file.size + ", " +
                             std::to_string(std::filesystem::file_size(dir / file.name)) +
                             " bytes\n";
    EXPECT_NE(verbose.err.find(line), std::string::npos) << line << verbose.err;
  }
  EXPECT_NE(verbose.err.find("The sheet took "), std::string::npos) << verbose.err;
  // One line per file, the time, and the line of a run without a display.
  EXPECT_EQ(Lines(verbose.err), 8) << verbose.err;

  const TRun quiet = RunProgram(dir.path, {"--quiet"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_TRUE(quiet.err.empty()) << quiet.err;
  // Errors still show.
  dir.Write("settings.ini", kSmallSheet);
  std::filesystem::remove(dir / "Out.png");
  std::filesystem::create_directory(dir / "Out.png");
  const TRun failed = RunProgram(dir.path, {"-q"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(Lines(failed.err), 1) << failed.err;
  EXPECT_EQ(failed.err.rfind("Could not write \"Out.png\"", 0), 0u) << failed.err;
}

TEST_F(CommandLineTest, ProgressShowsOnATerminalOnlyAndIsClearedAtTheEnd) {
  // Enough cells to take more than the tenth of a second between two updates.
  dir.Write("settings.ini", "Sheet Width=256\nSheet Height=128\nSize=16\nSeed=5\n");
  TRunSetup terminal;
  terminal.terminal = true;
  const TRun shown = RunProgram(dir.path, {}, terminal);
  ASSERT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.err.find("\rDrawing the sheet: "), std::string::npos) << shown.err;
  EXPECT_NE(shown.err.find(" of 128 cells, "), std::string::npos) << shown.err;
  // Cleared: blanks then a return before the closing line starts at the left edge.
  const std::size_t closing = shown.err.find("No display found");
  ASSERT_NE(closing, std::string::npos) << shown.err;
  EXPECT_EQ(shown.err.substr(closing - 2, 2), " \r") << shown.err;

  const TRun quiet = RunProgram(dir.path, {"-q"}, terminal);
  EXPECT_EQ(quiet.status, 0);
  EXPECT_TRUE(quiet.err.empty()) << quiet.err;
  // Standard error into a file: the one closing line, nothing written over in place.
  const TRun piped = RunProgram(dir.path, {});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err.find('\r'), std::string::npos) << piped.err;
  EXPECT_EQ(Lines(piped.err), 1) << piped.err;
}

TEST_F(CommandLineTest, NoWindowDrawsOffScreenWithADisplayAndEndsByItself) {
  if (!TXvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed";
  TXvfbServer server;
  TRunSetup with_display;
  with_display.display = server.Start(320, 240);
  ASSERT_FALSE(with_display.display.empty());
  dir.Write("settings.ini", kSmallSheet + "Seed=8\n");
  const TRun run = RunProgram(dir.path, {"--no-window"}, with_display);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "Drew the sheet off-screen and wrote \"Out.png\"\n");

  // The same pixels as a run without a display.
  TScratchDir headless{false};
  headless.Write("settings.ini", kSmallSheet + "Seed=8\n");
  ASSERT_EQ(RunProgram(headless.path, {}).status, 0);
  EXPECT_EQ(ReadBytes(dir / "Out.png"), ReadBytes(headless / "Out.png"));
}

}  // namespace
