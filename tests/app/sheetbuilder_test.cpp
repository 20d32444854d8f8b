// Program flow through the recording 2D driver: the order of operations per cell, the grid
// and its strips, the seeding with the warm-up draws, the refusal of unusable settings before
// any window, the closing message drawn after the grab, and the no-display line.
#include <fcntl.h>         // for O_WRONLY
#include <spawn.h>         // for posix_spawn: a fresh copy of the test program
#include <sys/resource.h>  // for setrlimit: a child with little memory to spare
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>  // for std::find, std::find_if
#include <cstdio>     // for std::sscanf
#include <cstdlib>    // for std::getenv
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/output.h"
#include "app/settings.h"
#include "app/sheetbuilder.h"
#include "app/sprite.h"
#include "app_test_support.h"
#include "draw2d/draw2d.h"
#include "draw2d/recording_driver.h"
#include "graphics/graphics.h"
#include "pixmap/png/png.h"
#include "random/random.h"
#include "stream/stream.h"

namespace {

void NoPause(int) {}
int pauses = 0;
void CountPause(int) { ++pauses; }

// A frozen pacing clock: every paced presentation has to wait, and the wait notes how many
// driver calls had been made by then.
const TRecordingDriver* paced_recorder = nullptr;
std::vector<size_t> paced_at;
int FrozenClock() { return 0; }
void NotePacedWait(int) { paced_at.push_back(paced_recorder->records.size()); }

class SheetBuilderTest : public ::testing::Test {
 protected:
  static TRecordingDriver* recorder;

  static void SetUpTestSuite() {
    StartStream();
    StartPixmap();
    StartPNG();
    StartRandom();
    StartGraphics();
    StartDraw2D();
    recorder = new TRecordingDriver;
  }
  void SetUp() override {
    sprite_boundary_sleep = NoPause;
    SelectGraphicsDriver(recorder, 2);
    recorder->Clear();
    hue_counter = 0;
  }

  // Index of the first record of the kind at or after `from`, or the record count.
  static size_t Find(DrawOp op, size_t from = 0) {
    const auto& records = recorder->records;
    while (from < records.size() && records[from].op != op) ++from;
    return from;
  }

  TScratchDir dir;
};
TRecordingDriver* SheetBuilderTest::recorder = nullptr;

TEST_F(SheetBuilderTest, EachCellIsSelectedFilledWithTheKeyColourThenDrawnAndPresented) {
  dir.Write("settings.ini", "Sheet Width=80\nSheet Height=40\nSprite Size=32\nSeed=5\n");
  ASSERT_EQ(RunSheetBuilder(), 0);
  EXPECT_EQ(cells_across, 2);
  EXPECT_EQ(cells_down, 1);

  const auto& records = recorder->records;
  const size_t open = Find(DrawOp::CreateGraphics);
  ASSERT_LT(open, records.size());
  EXPECT_EQ(records[open].a[0], 80);
  EXPECT_EQ(records[open].a[1], 40);
  EXPECT_EQ(records[open].a[2], 0);
  EXPECT_EQ(records[open].a[3], 60);

  size_t at = Find(DrawOp::Cls, open);
  ASSERT_LT(at, records.size());
  for (int cell = 0; cell < 2; ++cell) {
    // The cell's viewport, then the key colour over the whole cell at the cell's origin.
    at = Find(DrawOp::SetViewport, at);
    ASSERT_LT(at, records.size());
    EXPECT_EQ(records[at].a[0], 32 * cell);
    EXPECT_EQ(records[at].a[1], 0);
    EXPECT_EQ(records[at].a[2], 32);
    EXPECT_EQ(records[at].a[3], 32);
    at = Find(DrawOp::DrawRect, at);
    ASSERT_LT(at, records.size());
    const DrawRecord& colour = *std::find_if(
        std::make_reverse_iterator(records.begin() + at), records.rend(),
        [](const DrawRecord& r) { return r.op == DrawOp::SetColor; });
    EXPECT_EQ(colour.a[0], 255);
    EXPECT_EQ(colour.a[1], 0);
    EXPECT_EQ(colour.a[2], 255);
    EXPECT_EQ(records[at].a[2], 32);
    EXPECT_EQ(records[at].a[3], 32);
    EXPECT_EQ(records[at].a[4], 32 * cell);  // translation = the cell's origin
    // The sprite's black fill comes next, then its lines.
    at = Find(DrawOp::DrawRect, at + 1);
    ASSERT_LT(at, Find(DrawOp::DrawLine, at));
    // After the sprite: the whole window again, then the cell's presentation.
    at = Find(DrawOp::SetViewport, at);
    ASSERT_LT(at, records.size());
    EXPECT_EQ(records[at].a[0], 0);
    EXPECT_EQ(records[at].a[2], 80);
    EXPECT_EQ(records[at].a[3], 40);
    const size_t flip = Find(DrawOp::Flip, at);
    ASSERT_LT(flip, records.size());
    EXPECT_GT(Find(DrawOp::DrawLine, at), flip);
    at = flip;
  }
  // The grab covers the whole sheet and comes before the closing message.
  const size_t grab = Find(DrawOp::GrabPixmap, at);
  ASSERT_LT(grab, records.size());
  EXPECT_EQ(records[grab].a[2], 80);
  EXPECT_EQ(records[grab].a[3], 40);
  EXPECT_GT(Find(DrawOp::FrameDraw), grab);
  EXPECT_EQ(hue_counter, 60);
  EXPECT_EQ(ReadPngHeader(dir / "Out.png").width, 80u);
}

TEST_F(SheetBuilderTest, EachCellResetsTheStateBeforeItsKeyFillAndAgainBeforeItsSprite) {
  // Two cells; the second starts from whatever the first sprite left (blend 0, faint alpha).
  // The recording context shows no window: nobody watches, so nothing is paced or paused.
  dir.Write("settings.ini", "Sheet Width=64\nSheet Height=32\nSprite Size=32\nSeed=9\n");
  paced_recorder = recorder;
  paced_at.clear();
  pauses = 0;
  sprite_boundary_sleep = CountPause;
  SetPacingClock(FrozenClock, NotePacedWait);
  const int status = RunSheetBuilder();
  SetPacingClock(nullptr, nullptr);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(pauses, 0);
  EXPECT_TRUE(paced_at.empty());
  EXPECT_EQ(sprite_boundary_sleep, CountPause);  // the sprite's pauses are back in place
  const auto& records = recorder->records;
  auto expect = [&](size_t at, DrawOp op, std::vector<float> args, const char* what) {
    ASSERT_LT(at, records.size()) << what;
    EXPECT_EQ(records[at].op, op) << what << " at " << at;
    for (size_t i = 0; i < args.size(); ++i) {
      EXPECT_EQ(records[at].a[i], args[i]) << what << " argument " << i;
    }
  };
  // The state that ResetDrawState puts in force: no rotation, alpha 1, white, alpha blend.
  auto expect_reset = [&](size_t at, const char* what) {
    expect(at, DrawOp::SetTransform, {1, 0, 0, 1}, what);
    expect(at + 1, DrawOp::SetAlpha, {1}, what);
    expect(at + 2, DrawOp::SetColor, {255, 255, 255}, what);
    expect(at + 3, DrawOp::SetBlend, {3}, what);
  };

  // The sheet's clear is the last one before the first fill (opening the window clears too);
  // the first cell follows it at once.
  size_t at = Find(DrawOp::DrawRect);
  while (at > 0 && records[at].op != DrawOp::Cls) --at;
  ASSERT_EQ(records[at].op, DrawOp::Cls);
  ++at;
  // Each cell: a reset, its viewport, key colour and key fill (the order the case above
  // checks), a reset again, then the sprite from its black fill on; a presentation at once
  // ends the cell.
  for (int cell = 0; cell < 2; ++cell) {
    SCOPED_TRACE("cell " + std::to_string(cell));
    expect_reset(at, "reset before the key fill");
    expect(at + 6, DrawOp::DrawRect, {}, "the key fill");
    expect_reset(at + 7, "reset before the sprite");
    expect(at + 11, DrawOp::SetColor, {0, 0, 0}, "the sprite's black");
    expect(at + 12, DrawOp::DrawRect, {}, "the sprite's black fill");
    at = Find(DrawOp::Flip, Find(DrawOp::SetViewport, at + 13));
    expect(at, DrawOp::Flip, {0}, "presentation, unpaced");
    ++at;
  }
  expect(at, DrawOp::GrabPixmap, {}, "the grab, nothing drawn before it");
}

TEST_F(SheetBuilderTest, AWatchedSheetPacesEveryCellAndPausesAtFacetBoundaries) {
  // The cell loop as a visible window runs it: 60 Hz pacing after each cell.
  ASSERT_TRUE(OpenGraphics(64, 32, 0, 60, 0));
  sheet_width = 64;
  sheet_height = 32;
  sprite_width = sprite_height = 32;
  cells_across = 2;
  cells_down = 1;
  paced_recorder = recorder;
  paced_at.clear();
  pauses = 0;
  sprite_boundary_sleep = CountPause;
  SetPacingClock(FrozenClock, NotePacedWait);
  DrawSheet(true);
  SetPacingClock(nullptr, nullptr);
  CloseOpenedGraphics();
  const auto& records = recorder->records;
  std::vector<size_t> cell_flips;
  for (size_t at = 0; at < records.size(); ++at) {
    if (records[at].op == DrawOp::Flip && records[at].a[0] == 0 && at > 0 &&
        records[at - 1].op == DrawOp::SetViewport) {
      cell_flips.push_back(at);
    }
  }
  ASSERT_EQ(cell_flips.size(), 2u);
  // Paced: the graphics module waited for the frame just before handing each one on.
  EXPECT_EQ(paced_at, cell_flips);
  EXPECT_GE(pauses, 2 * 2);  // at least the first step of both passes of both sprites
}

TEST_F(SheetBuilderTest, SeedingIsFollowedByOneHundredAndOneWarmUpDraws) {
  // A sheet narrower than a sprite: no cell, so the generator only sees the warm-up.
  dir.Write("settings.ini", "Sheet Width=16\nSheet Height=16\nSize=32\nSeed=123\n");
  ASSERT_EQ(RunSheetBuilder(), 0);
  EXPECT_EQ(cells_across, 0);
  // The state the program left is the seed moved on by 101 real draws (202 steps).
  const int32_t left = CurrentRandomSeed();
  SeedRandom(123);
  for (int i = 0; i < 101; ++i) RandomReal(0, 10);
  EXPECT_EQ(left, CurrentRandomSeed());
  // No cell drawn: nothing but the clear, the message and the presentation.
  EXPECT_EQ(recorder->Count(DrawOp::DrawLine), 0u);
  EXPECT_EQ(recorder->Count(DrawOp::DrawRect), 0u);
  EXPECT_EQ(ReadPngHeader(dir / "Out.png").width, 16u);
}

TEST_F(SheetBuilderTest, UnusableSettingsEndWithStatusOneBeforeAnyWindow) {
  dir.Write("settings.ini", "Sprite Width=0\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunSheetBuilder(), 1);
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 1) << messages;
  EXPECT_NE(messages.find("0"), std::string::npos);
  EXPECT_EQ(recorder->Count(DrawOp::CreateGraphics), 0u);
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"settings.ini"});
}

TEST_F(SheetBuilderTest, WithoutADisplayTheWrittenFilesAreNamedAndTheRunEnds) {
  dir.Write("settings.ini", "Sheet Width=8\nSheet Height=8\nSize=16\nMake=grow\nOutput=s\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunSheetBuilder(), 0);
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_NE(messages.find("\"s.png\", \"s-hd.png\", \"s-hd2.png\""), std::string::npos)
      << messages;
  EXPECT_EQ(dir.Files(),
            (std::vector<std::string>{"s-hd.png", "s-hd2.png", "s.png", "settings.ini"}));
}

TEST_F(SheetBuilderTest, WithoutADisplaySpriteFilesAreCountedAndAllTakeTheCleanedName) {
  dir.Write("settings.ini",
            "Sheet Width=64\nSheet Height=40\nSize=32\nOutput=my:gems?\nAtlas=json\nSplit=true\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunSheetBuilder(), 0);
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_NE(messages.find("wrote \"my_gems_.png\", \"my_gems_.json\" and 2 sprite files\n"),
            std::string::npos)
      << messages;
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"my_gems_-000.png", "my_gems_-001.png",
                                                   "my_gems_.json", "my_gems_.png",
                                                   "settings.ini"}));
  const std::vector<uint8_t> atlas = ReadBytes(dir / "my_gems_.json");
  EXPECT_EQ(nlohmann::json::parse(atlas.begin(), atlas.end())["meta"]["image"], "my_gems_.png");
}

TEST_F(SheetBuilderTest, AnEmptyOutputNameIsSaidInOneLineAndTheFilesAreNamedOut) {
  dir.Write("settings.ini", "Sheet Width=8\nSheet Height=8\nSize=16\nOutput=\"\"\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunSheetBuilder(), 0);
  const std::string messages = testing::internal::GetCapturedStderr();
  // The note, then the recording driver's run without a display.
  EXPECT_EQ(messages.substr(0, messages.find('\n')),
            "The output name \"\"\"\" is empty once its double quotes are removed; the files "
            "are named \"Out\"") << messages;
  EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 2) << messages;
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"Out.png", "settings.ini"}));
}

TEST_F(SheetBuilderTest, ClosingMessageSitsFourteenPixelsAboveTheBottomAfterTheGrab) {
  dir.Write("settings.ini", "Sheet Width=300\nSheet Height=40\nSize=64\n");
  ASSERT_EQ(RunSheetBuilder(), 0);
  const auto& records = recorder->records;
  const size_t grab = Find(DrawOp::GrabPixmap);
  const size_t glyph = Find(DrawOp::FrameDraw, grab);
  ASSERT_LT(glyph, records.size());
  EXPECT_EQ(Find(DrawOp::FrameDraw), glyph);  // nothing drawn with the font before the grab
  EXPECT_EQ(records[glyph].a[4], 4);    // first glyph 4 pixels from the left
  EXPECT_EQ(records[glyph].a[5], 26);   // 40 - 14
  EXPECT_EQ(TextWidth(kFinishedMessage), 256);
  // With no cell drawn, the message uses the initial state: blend mask.
  EXPECT_EQ(GetBlend(), BLEND_MASK);
  EXPECT_LT(Find(DrawOp::Flip, glyph), records.size());
}

// The test that runs the program body with little memory, and the variable that makes a
// copy of the test program run that body: "<headroom in MiB> <folder>".
constexpr char kLittleMemoryTest[] =
    "SheetBuilderTest.RunningOutOfMemoryInTheOutputStepCostsOnlyTheFilesItCannotMake";
constexpr char kLittleMemoryVariable[] = "SHEETBUILDER_TEST_LITTLE_MEMORY";

// In the copy of the test program: runs the program body in `folder` with an address space
// that may grow by only `headroom_mib` beyond what it holds now, and ends with the body's
// status plus 10 when the closing message was drawn after the grab. The copy's own scratch
// folder goes first, as the copy ends without cleaning up.
[[noreturn]] void RunBodyWithLittleMemory(const char* request, const TRecordingDriver* recorder,
                                          const std::filesystem::path& own_scratch) {
  long headroom_mib = 0;
  char folder[4096] = {};
  if (std::sscanf(request, "%ld %4095[^\n]", &headroom_mib, folder) != 2 || chdir(folder) != 0) {
    _exit(98);
  }
  std::error_code ignored;
  std::filesystem::remove_all(own_scratch, ignored);
  long size_kib = 0;
  {
    std::ifstream status("/proc/self/status");
    for (std::string word; status >> word;) {
      if (word == "VmSize:") status >> size_kib;
    }
  }
  const rlim_t limit = static_cast<rlim_t>(size_kib + headroom_mib * 1024) * 1024;
  rlimit cap{limit, limit};
  if (size_kib == 0 || setrlimit(RLIMIT_AS, &cap) != 0) _exit(99);
  const int result = RunSheetBuilder();
  bool grabbed = false, drawn = false;
  for (const DrawRecord& record : recorder->records) {
    grabbed = grabbed || record.op == DrawOp::GrabPixmap;
    drawn = drawn || (grabbed && record.op == DrawOp::FrameDraw);
  }
  _exit(result + (drawn ? 10 : 0));
}

// Runs the program body in the current folder in a fresh copy of this test program (see
// RunBodyWithLittleMemory), so that nothing earlier tests left in this process (freed heap
// the body could reuse, threads held at a fork) changes what fits. Returns the body's
// status, plus 10 when the closing message was drawn after the grab, or -1 when the copy
// did not end normally; `messages` gets what it wrote on the error output.
int RunWithLittleMemory(long headroom_mib, std::string& messages) {
  int err[2];
  if (pipe(err) != 0) return -2;
  std::string request = kLittleMemoryVariable;
  request.append("=").append(std::to_string(headroom_mib)).append(" ");
  request.append(std::filesystem::current_path().string());
  std::vector<char*> environment;
  for (char** variable = environ; *variable; ++variable) environment.push_back(*variable);
  environment.push_back(const_cast<char*>(request.c_str()));
  environment.push_back(nullptr);
  const std::string filter = std::string("--gtest_filter=") + kLittleMemoryTest;
  char* arguments[] = {const_cast<char*>("test_app"), const_cast<char*>(filter.c_str()),
                       nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addclose(&actions, err[1]);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, "/proc/self/exe", &actions, nullptr, arguments,
                                  environment.data());
  posix_spawn_file_actions_destroy(&actions);
  close(err[1]);
  if (spawned != 0) {
    close(err[0]);
    return -2;
  }
  char buffer[512];
  for (ssize_t n; (n = read(err[0], buffer, sizeof(buffer))) > 0;) messages.append(buffer, n);
  close(err[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(SheetBuilderTest, RunningOutOfMemoryInTheOutputStepCostsOnlyTheFilesItCannotMake) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer reserves the address space this test limits";
#endif
  if (const char* request = std::getenv(kLittleMemoryVariable)) {
    RunBodyWithLittleMemory(request, recorder, dir.path);
  }
  {
    SCOPED_TRACE("no memory for the quadrupled copy: the others are written");
    // The grab (16 MiB) and the doubled copy (64 MiB) fit; the quadrupled one (256 MiB) not.
    dir.Write("settings.ini", "Sheet Width=2048\nSheet Height=2048\nSize=2048\nMake=grow\n");
    std::string messages;
    EXPECT_EQ(RunWithLittleMemory(160, messages), 11) << messages;
    // Its line, and the recording driver's run without a display names the files written.
    EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 2) << messages;
    EXPECT_NE(messages.find("\"Out-hd2.png\""), std::string::npos) << messages;
    EXPECT_NE(messages.find("memory"), std::string::npos) << messages;
    EXPECT_EQ(ReadPngHeader(dir / "Out.png").width, 2048u);
    EXPECT_EQ(ReadPngHeader(dir / "Out-hd.png").width, 4096u);
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"Out-hd.png", "Out.png", "settings.ini"}));
  }
  {
    SCOPED_TRACE("no memory for the grab: every file gets its line");
    TScratchDir empty;
    // No cell (the sprite is larger than the sheet), so only the grab needs memory.
    empty.Write("settings.ini", "Sheet Width=2048\nSheet Height=2048\nSize=4096\nMake=grow\n");
    std::string messages;
    EXPECT_EQ(RunWithLittleMemory(8, messages), 11) << messages;
    EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 3 + 1) << messages;
    for (const char* name : {"\"Out.png\"", "\"Out-hd.png\"", "\"Out-hd2.png\""}) {
      EXPECT_NE(messages.find(name), std::string::npos) << messages;
    }
    EXPECT_EQ(empty.Files(), std::vector<std::string>{"settings.ini"});
  }
  {
    SCOPED_TRACE("no memory for the shrunk copies");
    TScratchDir shrink;
    shrink.Write("settings.ini", "Sheet Width=2048\nSheet Height=2048\nSize=4096\nMake=shrink\n");
    std::string messages;
    // The grab fits, a resized copy (its own 4 MiB plus the resampling rows) not.
    EXPECT_EQ(RunWithLittleMemory(18, messages), 11) << messages;
    EXPECT_NE(messages.find("\"Out-hd.png\""), std::string::npos) << messages;
    EXPECT_EQ(ReadPngHeader(shrink / "Out-hd2.png").width, 2048u);
  }
}

}  // namespace
