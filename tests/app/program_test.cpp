// The built program run as a user runs it, in a scratch folder with its own settings.ini:
// off-screen (no display) for the files it writes and its failures, and in a virtual X
// server driven with xdotool for the keys (Escape while drawing, R held, any other key).
// Sheets are kept small so that the suite stays quick.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app_test_support.h"
#include "pixmap/pixmap.h"
#include "pixmap/png/png.h"
#include "runtime/text.h"
#include "stream/stream.h"
#include "support/unprivileged.h"
#include "support/xvfb.h"

#ifndef SHEETBUILDER_PROGRAM
#define SHEETBUILDER_PROGRAM "sheetbuilder"
#endif

namespace {

using namespace std::chrono_literals;

// The program running in a folder; its stderr goes to a file beside the folder.
class Program {
 public:
  // display: an X display name, or empty for none. limit_file_kib > 0 caps the size of any
  // file the program writes (a full disk, as far as the program can tell). user: run as that
  // ordinary user (when we are root). limit_memory_kib > 0 caps its address space.
  Program(const std::filesystem::path& folder, const std::string& display,
          long limit_file_kib = 0, const TUnprivileged* user = nullptr,
          long limit_memory_kib = 0)
      : stderr_path_(folder.string() + ".stderr") {
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(folder.c_str()) != 0) _exit(120);
      const int err = open(stderr_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(err, 2);
      if (user && geteuid() == 0 &&
          (setgroups(0, nullptr) != 0 || setgid(user->gid) != 0 || setuid(user->uid) != 0)) {
        _exit(122);
      }
      unsetenv("WAYLAND_DISPLAY");
      if (display.empty()) {
        unsetenv("DISPLAY");
      } else {
        setenv("DISPLAY", display.c_str(), 1);
      }
      if (limit_file_kib > 0 || limit_memory_kib > 0) {
        signal(SIGXFSZ, SIG_IGN);  // a write past the cap fails instead of killing
        std::string command;
        if (limit_file_kib > 0) command += "ulimit -f " + std::to_string(limit_file_kib) + " && ";
        if (limit_memory_kib > 0) {
          command += "ulimit -v " + std::to_string(limit_memory_kib) + " && ";
        }
        command += "exec " SHEETBUILDER_PROGRAM;
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      } else {
        execl(SHEETBUILDER_PROGRAM, SHEETBUILDER_PROGRAM, static_cast<char*>(nullptr));
      }
      _exit(121);
    }
  }
  ~Program() {
    if (pid_ > 0 && status_ == kRunning) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove(stderr_path_, ignored);
  }

  // The exit status, -1 for a signal, or kRunning when it did not end in time (then killed).
  int Wait(std::chrono::milliseconds timeout = 60s) {
    if (!Ended(timeout)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return kRunning;
    }
    return status_;
  }
  // Whether it ends within `timeout` (its status is kept for Wait); it keeps running if not.
  bool Ended(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (status_ == kRunning && pid_ > 0) {
      int raw = 0;
      if (waitpid(pid_, &raw, WNOHANG) == pid_) {
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(10ms);
    }
    return status_ != kRunning;
  }
  bool Running() { return !Ended(0ms); }
  std::string Stderr() const {
    const std::vector<uint8_t> bytes = ReadBytes(stderr_path_);
    return std::string(bytes.begin(), bytes.end());
  }

  static constexpr int kRunning = 1000;

 private:
  pid_t pid_ = -1;
  int status_ = kRunning;
  std::string stderr_path_;
};

int RunOffScreen(const TScratchDir& dir, std::string* messages = nullptr, long limit_kib = 0) {
  Program program(dir.path, "", limit_kib);
  const int status = program.Wait();
  if (messages) *messages = program.Stderr();
  return status;
}

Ref<TPixmap> Load(const std::filesystem::path& file) {
  return PixmapLoad(TextFromBytes(file.string()));
}

int Lines(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

class ProgramTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    StartStream();
    StartPixmap();
    StartPNG();
  }
  TScratchDir dir{false};
};

TEST_F(ProgramTest, DefaultSheetIsFiveHundredAndTwelveSquareOpaqueRgba) {
  // Default sheet size; large sprites keep the run short.
  dir.Write("settings.ini", "Size=256\nSeed=11\n");
  std::string messages;
  ASSERT_EQ(RunOffScreen(dir, &messages), 0) << messages;
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"Out.png", "settings.ini"}));
  EXPECT_NE(messages.find("No display"), std::string::npos) << messages;
  EXPECT_NE(messages.find("\"Out.png\""), std::string::npos) << messages;

  const PngHeader h = ReadPngHeader(dir / "Out.png");
  EXPECT_EQ(h.width, 512u);
  EXPECT_EQ(h.height, 512u);
  EXPECT_EQ(h.bit_depth, 8);
  EXPECT_EQ(h.colour_type, 6);
  EXPECT_EQ(h.interlace, 0);

  // Every cell was painted black over its key fill: keyed pixels are 0, all others opaque,
  // and the sprites put colour on the sheet.
  Ref<TPixmap> sheet = Load(dir / "Out.png");
  ASSERT_TRUE(sheet);
  int translucent = 0, coloured = 0;
  for (int y = 0; y < 512; ++y) {
    for (int x = 0; x < 512; ++x) {
      const uint32_t p = PixmapReadPixel(sheet, x, y);
      translucent += p != 0 && (p >> 24) != 0xFF;
      coloured += (p & 0xFFFFFF) != 0;
    }
  }
  EXPECT_EQ(translucent, 0);
  EXPECT_GT(coloured, 4 * 1000);
}

TEST_F(ProgramTest, StripsBeyondTheGridStayOpaqueBlackAndSpritesStayInTheirCells) {
  // 3 x 1 cells of 24 on an 80 x 30 sheet: an 8-pixel strip right, a 6-pixel strip below.
  dir.Write("settings.ini", "Sheet Width=80\nSheet Height=30\nSize=24\nSeed=3\n");
  ASSERT_EQ(RunOffScreen(dir), 0);
  Ref<TPixmap> sheet = Load(dir / "Out.png");
  ASSERT_TRUE(sheet);
  ASSERT_EQ(sheet->width, 80);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 80; ++x) {
      if (x >= 72 || y >= 24) {
        ASSERT_EQ(PixmapReadPixel(sheet, x, y), 0xFF000000u) << x << "," << y;
      }
    }
  }
  // Each cell holds a sprite of its own.
  for (int cell = 0; cell < 3; ++cell) {
    int coloured = 0;
    for (int y = 0; y < 24; ++y) {
      for (int x = 24 * cell; x < 24 * cell + 24; ++x) {
        coloured += (PixmapReadPixel(sheet, x, y) & 0xFFFFFF) != 0;
      }
    }
    EXPECT_GT(coloured, 20) << "cell " << cell;
  }
}

TEST_F(ProgramTest, GrowingWritesExactDoubleAndQuadrupleCopies) {
  dir.Write("settings.ini", "Sheet Width=48\nSheet Height=32\nSize=32\nMake=Bigger\n");
  ASSERT_EQ(RunOffScreen(dir), 0);
  Ref<TPixmap> base = Load(dir / "Out.png");
  Ref<TPixmap> doubled = Load(dir / "Out-hd.png");
  Ref<TPixmap> quadrupled = Load(dir / "Out-hd2.png");
  ASSERT_TRUE(base && doubled && quadrupled);
  ASSERT_EQ(doubled->width, 96);
  ASSERT_EQ(doubled->height, 64);
  ASSERT_EQ(quadrupled->width, 192);
  ASSERT_EQ(quadrupled->height, 128);
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 192; ++x) {
      ASSERT_EQ(PixmapReadPixel(quadrupled, x, y), PixmapReadPixel(base, x / 4, y / 4));
      if (x < 96 && y < 64) {
        ASSERT_EQ(PixmapReadPixel(doubled, x, y), PixmapReadPixel(base, x / 2, y / 2));
      }
    }
  }
}

TEST_F(ProgramTest, ShrinkingWritesBilinearHalfAndQuarterOfTheFullSheet) {
  dir.Write("settings.ini", "Sheet Width=70\nSheet Height=36\nSize=32\nRescale=smaller\n");
  ASSERT_EQ(RunOffScreen(dir), 0);
  Ref<TPixmap> full = Load(dir / "Out-hd2.png");
  Ref<TPixmap> half = Load(dir / "Out-hd.png");
  Ref<TPixmap> quarter = Load(dir / "Out.png");
  ASSERT_TRUE(full && half && quarter);
  ASSERT_EQ(full->width, 70);
  Ref<TPixmap> expected_half = PixmapResize(full, 35, 18);
  Ref<TPixmap> expected_quarter = PixmapResize(full, 17, 9);
  ASSERT_EQ(half->width, 35);
  ASSERT_EQ(half->height, 18);
  ASSERT_EQ(quarter->width, 17);
  ASSERT_EQ(quarter->height, 9);
  for (int y = 0; y < 18; ++y) {
    for (int x = 0; x < 35; ++x) {
      ASSERT_EQ(PixmapReadPixel(half, x, y), PixmapReadPixel(expected_half, x, y));
      if (x < 17 && y < 9) {
        ASSERT_EQ(PixmapReadPixel(quarter, x, y), PixmapReadPixel(expected_quarter, x, y));
      }
    }
  }
}

TEST_F(ProgramTest, TheSameSeedGivesTheSameFilesAndAnotherSeedOthers) {
  const std::string settings = "Sheet Width=64\nSheet Height=32\nSize=32\nSeed=2024\n";
  TScratchDir again{false}, other{false};
  dir.Write("settings.ini", settings);
  again.Write("settings.ini", settings);
  other.Write("settings.ini", "Sheet Width=64\nSheet Height=32\nSize=32\nSeed=2025\n");
  ASSERT_EQ(RunOffScreen(dir), 0);
  ASSERT_EQ(RunOffScreen(again), 0);
  ASSERT_EQ(RunOffScreen(other), 0);
  EXPECT_EQ(ReadBytes(dir / "Out.png"), ReadBytes(again / "Out.png"));
  EXPECT_NE(ReadBytes(dir / "Out.png"), ReadBytes(other / "Out.png"));
}

TEST_F(ProgramTest, FailuresEndWithStatusOneAndOneClearLine) {
  {
    SCOPED_TRACE("unusable setting");
    dir.Write("settings.ini", "Size=0\n");
    std::string messages;
    EXPECT_EQ(RunOffScreen(dir, &messages), 1);
    EXPECT_EQ(Lines(messages), 1) << messages;
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"settings.ini"});
  }
  {
    SCOPED_TRACE("a sheet larger than the graphics system allows");
    dir.Write("settings.ini", "Sheet Width=100000\nSheet Height=100000\n");
    std::string messages;
    EXPECT_EQ(RunOffScreen(dir, &messages), 1);
    EXPECT_EQ(Lines(messages), 1) << messages;
    EXPECT_NE(messages.find("100000 x 100000"), std::string::npos) << messages;
    EXPECT_NE(messages.find("refused that size (at most"), std::string::npos) << messages;
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"settings.ini"});
  }
  {
    SCOPED_TRACE("a folder where a file should go");
    dir.Write("settings.ini", "Sheet Width=32\nSheet Height=32\nSize=32\nMake=grow\n");
    std::filesystem::create_directory(dir / "Out-hd.png");
    std::string messages;
    EXPECT_EQ(RunOffScreen(dir, &messages), 1);
    EXPECT_NE(messages.find("\"Out-hd.png\""), std::string::npos) << messages;
    // The files on either side of it are still written.
    EXPECT_EQ(ReadPngHeader(dir / "Out.png").width, 32u);
    EXPECT_EQ(ReadPngHeader(dir / "Out-hd2.png").width, 128u);
  }
}

TEST_F(ProgramTest, AHugeOutputNameIsQuotedShortInItsOneLine) {
  dir.Write("settings.ini", "Sheet Width=32\nSheet Height=32\nSize=32\nOutput=" +
                                std::string(10 * 1024 * 1024, 'n') + "\n");
  std::string messages;
  EXPECT_EQ(RunOffScreen(dir, &messages), 1);
  // The name cannot be a file name: said in one short line before anything is drawn.
  EXPECT_EQ(Lines(messages), 1) << messages.substr(0, 1000);
  EXPECT_LT(messages.size(), 400u) << messages.substr(0, 1000);
  EXPECT_NE(messages.find("n\xE2\x80\xA6nnnnnnnnnnnnnnnn.png\""), std::string::npos)
      << messages.substr(0, 1000);
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"settings.ini"});
}

TEST_F(ProgramTest, ANameTooLongForTheFileSystemIsRefusedBeforeDrawing) {
  // "Out.png" would fit in 255 bytes, its atlas would not: nothing is drawn or written.
  const std::string name(251, 'n');
  dir.Write("settings.ini", "Sheet Width=32\nSheet Height=32\nSize=32\nAtlas=JSON\nOutput=" +
                                name + "\n");
  std::string messages;
  EXPECT_EQ(RunOffScreen(dir, &messages), 1);
  EXPECT_EQ(Lines(messages), 1) << messages;
  EXPECT_NE(messages.find("nnnnnnnnnnnnnnn.json\" is too long: 256 bytes, and the file system "
                          "allows 255\n"),
            std::string::npos) << messages;
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"settings.ini"});
}

TEST_F(ProgramTest, AFullDiskLeavesNoFileAndEndsWithStatusOne) {
  // Writes are capped at 1 KiB: the sheet's PNG does not fit.
  dir.Write("settings.ini", "Sheet Width=96\nSheet Height=32\nSize=32\nSeed=9\n");
  std::string messages;
  EXPECT_EQ(RunOffScreen(dir, &messages, 1), 1);
  EXPECT_NE(messages.find("\"Out.png\""), std::string::npos) << messages;
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"settings.ini"});
}

TEST_F(ProgramTest, ADisplayThatDoesNotAnswerCountsAsNoDisplay) {
  // A display number with no server behind it (no socket, no lock file).
  int number = 170 + static_cast<int>(getpid() % 500);
  while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number)) ||
         std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock")) {
    ++number;
  }
  dir.Write("settings.ini", "Sheet Width=64\nSheet Height=32\nSize=32\nSeed=3\n");
  std::string display(1, ':');  // built by appending: g++ 12 warns falsely on ":" + text
  display += std::to_string(number);
  Program program(dir.path, display);
  // It ends by itself, as a run without a display does, instead of waiting for a key.
  EXPECT_EQ(program.Wait(60s), 0);
  EXPECT_NE(program.Stderr().find("No display found"), std::string::npos) << program.Stderr();
  EXPECT_EQ(ReadPngHeader(dir / "Out.png").width, 64u);
}

TEST_F(ProgramTest, AWindowWhoseDrawingBufferCannotBeHadIsRefusedWithItsReason) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer reserves the address space this test limits";
#endif
  // The address space is capped at 800,000 KiB. The window is refused, saying why, instead
  // of drawing elsewhere, with either renderer.
  const struct {
    const char* settings;
    std::vector<std::string> said;
  } cases[] = {
      // An 8192-pixel-square GL drawing buffer needs 256 MiB; the capped address space
      // leaves the GL less than that.
      {"Sheet Width=8192\nSheet Height=8192\nSize=16384\nRenderer=OpenGL\n",
       {"Could not open a 8192 x 8192 window for the sheet: ", "drawing buffer"}},
      // The default renderer's 16384-pixel-square buffer is 1 GiB, more than the capped
      // address space holds at all.
      {"Sheet Width=16384\nSheet Height=16384\nSize=32768\n",
       {"Could not open a 16384 x 16384 window for the sheet: not enough memory for its "
        "16384 x 16384 drawing buffer"}},
  };
  for (const auto& refused : cases) {
    SCOPED_TRACE(refused.settings);
    dir.Write("settings.ini", refused.settings);
    Program program(dir.path, "", 0, nullptr, 800000);
    EXPECT_EQ(program.Wait(), 1);
    const std::string messages = program.Stderr();
    EXPECT_EQ(Lines(messages), 1) << messages;
    for (const std::string& words : refused.said) {
      EXPECT_NE(messages.find(words), std::string::npos) << messages;
    }
    EXPECT_EQ(messages.find("refused that size"), std::string::npos) << messages;
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"settings.ini"});
  }
}

TEST_F(ProgramTest, AReadOnlyFileIsNotReplacedAndSaysSoInOneLine) {
  TUnprivileged user;
  if (!user.available) GTEST_SKIP() << "running as root with no 'nobody' user to test as";
  dir.Write("settings.ini", "Sheet Width=32\nSheet Height=32\nSize=32\nMake=grow\n");
  dir.Write("Out-hd.png", "keep me");
  ASSERT_EQ(chmod((dir / "Out-hd.png").c_str(), 0444), 0);
  for (const std::filesystem::path& path : {dir.path, dir / "Out-hd.png", dir / "settings.ini"}) {
    ASSERT_EQ(chown(path.c_str(), user.uid, user.gid), 0) << path;
  }
  Program program(dir.path, "", 0, &user);
  EXPECT_EQ(program.Wait(), 1);
  const std::string messages = program.Stderr();
  // One line for the refused file, one for the run without a display that wrote the others.
  EXPECT_EQ(Lines(messages), 2) << messages;
  EXPECT_NE(messages.find("Could not write \"Out-hd.png\": Permission denied"),
            std::string::npos) << messages;
  EXPECT_EQ(ReadBytes(dir / "Out-hd.png"), (std::vector<uint8_t>{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
  EXPECT_EQ(ReadPngHeader(dir / "Out.png").width, 32u);
  EXPECT_EQ(ReadPngHeader(dir / "Out-hd2.png").width, 128u);
  EXPECT_EQ(dir.Files(),
            (std::vector<std::string>{"Out-hd.png", "Out-hd2.png", "Out.png", "settings.ini"}));
}

// A virtual X server for the tests that press keys; skipped when Xvfb or xdotool is missing.
class KeyboardTest : public ProgramTest {
 protected:
  static void SetUpTestSuite() {
    ProgramTest::SetUpTestSuite();
    tools_installed = TXvfbServer::Installed() &&
                      std::system("command -v xdotool >/dev/null 2>&1") == 0;
    if (tools_installed) display = server.Start(800, 600);
  }
  static void TearDownTestSuite() {
    server.Stop();
    display.clear();
  }
  void SetUp() override {
    if (!tools_installed) GTEST_SKIP() << "Xvfb or xdotool is not installed";
    ASSERT_FALSE(display.empty()) << "Xvfb is installed but did not start";
  }

  // xdotool against our server; true when it succeeded.
  static bool XDo(const std::string& arguments) {
    const std::string command =
        "DISPLAY=" + display + " timeout 20 xdotool " + arguments + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
  }
  // Waits for the sheet's window and gives it the keyboard focus.
  // Note: the window can be found before it is mapped, when focusing it still fails; retry.
  static bool FocusWindow() {
    for (int attempt = 0; attempt < 50; ++attempt) {
      if (XDo("search --sync --name 'Corvane Application' windowfocus --sync")) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }
  // Waits (up to `timeout`) until the file exists and differs from `old` (empty: any).
  bool WaitForFile(const std::string& name, const std::vector<uint8_t>& old = {},
                   std::chrono::milliseconds timeout = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
      const std::vector<uint8_t> now = ReadBytes(dir / name);
      if (ReadPngHeader(dir / name).width != 0 && now != old) return true;
      std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }
  // The files appear just before the closing message and the wait for a key, and a key
  // pressed before that wait starts is forgotten by it: press the key again until the
  // program ends, for up to 20 seconds. Its exit status, or kRunning.
  static int PressUntilItEnds(Program& program, const std::string& key) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      if (!XDo("key " + key)) return Program::kRunning;
      if (program.Ended(200ms)) return program.Wait();
    }
    return program.Wait(0ms);
  }

  static TXvfbServer server;
  static bool tools_installed;
  static std::string display;
};
TXvfbServer KeyboardTest::server;
bool KeyboardTest::tools_installed = false;
std::string KeyboardTest::display;

TEST_F(KeyboardTest, EscapeWhileDrawingEndsAtOnceWithoutFiles) {
  // 64 cells: far more drawing than it takes the key to arrive.
  dir.Write("settings.ini", "Sheet Width=256\nSheet Height=256\nSize=32\n");
  Program program(dir.path, display);
  ASSERT_TRUE(FocusWindow());
  // Note: a press that reaches the window before it has the keyboard is lost; pressing
  // again until the end is safe, since any press while drawing ends the run the same way.
  EXPECT_EQ(PressUntilItEnds(program, "Escape"), 0);
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"settings.ini"});
}

TEST_F(KeyboardTest, AnyOtherKeyAtTheEndQuits) {
  dir.Write("settings.ini", "Sheet Width=64\nSheet Height=32\nSize=32\n");
  Program program(dir.path, display);
  ASSERT_TRUE(FocusWindow());
  ASSERT_TRUE(WaitForFile("Out.png"));
  EXPECT_TRUE(program.Running());  // it waits for a key
  EXPECT_EQ(PressUntilItEnds(program, "q"), 0);
  EXPECT_TRUE(program.Stderr().empty()) << program.Stderr();
}

TEST_F(KeyboardTest, RHeldAtTheEndDrawsAnotherSheetOverTheFiles) {
  dir.Write("settings.ini", "Sheet Width=64\nSheet Height=32\nSize=32\nSeed=77\n");
  Program program(dir.path, display);
  ASSERT_TRUE(FocusWindow());
  ASSERT_TRUE(WaitForFile("Out.png"));
  const std::vector<uint8_t> first = ReadBytes(dir / "Out.png");
  // R held counts when it is pressed while the program waits (one pressed before is
  // forgotten), so press and hold it, and let go, until a second sheet replaces the file.
  // The generator's sequence continues, so the second sheet differs from the first.
  bool replaced = false;
  for (int attempt = 0; attempt < 30 && !replaced; ++attempt) {
    ASSERT_TRUE(XDo("keydown r"));
    replaced = WaitForFile("Out.png", first, 1s);
    ASSERT_TRUE(XDo("keyup r"));
  }
  ASSERT_TRUE(replaced);
  EXPECT_TRUE(program.Running());  // it waits for a key again
  EXPECT_EQ(PressUntilItEnds(program, "space"), 0) << program.Stderr();
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"Out.png", "settings.ini"}));
}

TEST_F(KeyboardTest, AWindowDestroyedByAnotherProgramEndsTheRunInOneLine) {
  // Destroyed while the sheet is drawn (64 cells: far longer than it takes), then the whole
  // connection cut by the server: one line each time, status 1, no file.
  const std::pair<const char*, const char*> endings[] = {
      // The X error names what the program touched next: the window, or (the software
      // renderer's picture of it) a drawable.
      {"windowclose", "The window was lost (X error: Bad"},
      {"windowkill", "The connection to the display was lost"}};
  for (const auto& [command, line] : endings) {
    SCOPED_TRACE(command);
    TScratchDir run{false};
    run.Write("settings.ini", "Sheet Width=256\nSheet Height=256\nSize=32\n");
    Program program(run.path, display);
    ASSERT_TRUE(FocusWindow());
    ASSERT_TRUE(XDo(std::string("search --name 'Corvane Application' ") + command));
    EXPECT_EQ(program.Wait(20s), 1);
    const std::string messages = program.Stderr();
    EXPECT_EQ(Lines(messages), 1) << messages;
    EXPECT_EQ(messages.rfind(line, 0), 0u) << messages;
    EXPECT_EQ(run.Files(), std::vector<std::string>{"settings.ini"});
  }
}

}  // namespace
