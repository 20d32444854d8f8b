// Sheets drawn off-screen by several threads, and without the first pass that the second
// paints over: the files must be byte for byte those of one thread drawing both passes,
// for sheets made to find the seams (wide lines at the edges of tiny cells, strips outside
// the grid, cells of one pixel, a sprite larger than the sheet, every scaling, atlases and
// sprite files).
#include <gtest/gtest.h>

#include <cstdlib>  // for unsetenv
#include <map>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/sheetbuilder.h"
#include "app/sprite.h"
#include "app/startup.h"
#include "app_test_support.h"
#include "draw2d/draw2d.h"
#include "draw2d/recording_driver.h"
#include "draw2d/soft/softvex2d.h"
#include "graphics/graphics.h"
#include "pixmap/pixmap.h"
#include "random/random.h"

namespace {

class ThreadedSheets : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    StartSheetBuilder(0, nullptr);
  }
  void SetUp() override { SelectGraphicsDriver(SoftVex2DDriver(), GRAPHICS_BACKBUFFER); }
  void TearDown() override {
    SetSoftVex2DThreads(0);
    sprite_hidden_pass_skipped = false;
  }
};

// Every file the program writes for `settings` plus a Threads line, by name.
std::map<std::string, std::vector<uint8_t>> FilesWith(const std::string& settings,
                                                      int threads) {
  TScratchDir dir;
  dir.Write("settings.ini", settings + "\nThreads=" + std::to_string(threads) + "\n");
  hue_counter = 0;
  EXPECT_EQ(RunSheetBuilder(), 0) << settings;
  std::map<std::string, std::vector<uint8_t>> files;
  for (const std::string& name : dir.Files()) {
    if (name != "settings.ini") files[name] = ReadBytes(dir / name);
  }
  return files;
}

TEST_F(ThreadedSheets, AnyNumberOfThreadsWritesTheFilesOfOne) {
  const char* const sheets[] = {
      // Cells of 3 and 5 pixels: most lines are wider than half the cell and end on its
      // edges, so a neighbour drawn at the same time would show any stray pixel.
      "Sheet Width=30\nSheet Height=21\nSprite Width=3\nSprite Height=5\nSeed=11",
      // Strips outside the grid on the right and at the bottom; grown copies and atlases.
      "Sheet Width=70\nSheet Height=45\nSprite Size=16\nSeed=12\nMake=Grow\nAtlas=JSON",
      // One-pixel cells, shrunk copies and one file per sprite.
      "Sheet Width=12\nSheet Height=9\nSprite Size=1\nSeed=13\nMake=Shrink\nSplit=True",
      // A sprite larger than the sheet: no cell at all.
      "Sheet Width=20\nSheet Height=20\nSprite Size=32\nSeed=14\nAtlas=JSON\nSplit=True",
      // A single cell filling the sheet, and wide cells over two rows.
      "Sheet Width=48\nSheet Height=48\nSprite Size=48\nSeed=15",
      "Sheet Width=100\nSheet Height=40\nSprite Width=50\nSprite Height=20\nSeed=16\n"
      "Split=True",
  };
  for (const char* sheet : sheets) {
    const auto one = FilesWith(sheet, 1);
    ASSERT_FALSE(one.empty()) << sheet;
    for (const int threads : {2, 7}) {
      const auto many = FilesWith(sheet, threads);
      ASSERT_EQ(many.size(), one.size()) << sheet << " with " << threads << " threads";
      for (const auto& [name, bytes] : one) {
        EXPECT_TRUE(many.count(name) && many.at(name) == bytes)
            << name << " of " << sheet << " differs with " << threads << " threads";
      }
    }
  }
}

// A sheet of `across` x `down` cells of the given size from `seed`, drawn off-screen with
// or without the first pass, read back.
Ref<TPixmap> SheetPixels(int cell_w, int cell_h, int across, int down, int seed,
                         bool skip_first_pass) {
  Ref<TGraphics> context = CreateGraphics(cell_w * across + 3, cell_h * down + 2, 0, 0, 0);
  if (!context) return nullptr;
  SetGraphics(context);
  sheet_width = cell_w * across + 3;
  sheet_height = cell_h * down + 2;
  sprite_width = cell_w;
  sprite_height = cell_h;
  cells_across = across;
  cells_down = down;
  hue_counter = 0;
  sprite_hidden_pass_skipped = skip_first_pass;
  void (*saved_pause)(int) = sprite_boundary_sleep;
  sprite_boundary_sleep = [](int) {};
  SeedRandom(seed);
  DrawSheet(false);
  sprite_boundary_sleep = saved_pause;
  Ref<TPixmap> sheet = GrabPixmap(0, 0, sheet_width, sheet_height);
  SetGraphics(nullptr);
  return sheet;
}

TEST_F(ThreadedSheets, LeavingOutTheFirstPassChangesNoPixel) {
  struct Case {
    int cell_w, cell_h, across, down, seed;
  };
  // Many sprites (facet counts, ring counts, widths, twists) in cells from one pixel to
  // wider than tall.
  const Case cases[] = {
      {64, 64, 4, 3, 1}, {32, 32, 6, 4, 2}, {7, 5, 8, 6, 3}, {1, 1, 9, 4, 4}, {50, 20, 3, 2, 5},
  };
  for (const Case& c : cases) {
    SetSoftVex2DThreads(1);
    const Ref<TPixmap> both = SheetPixels(c.cell_w, c.cell_h, c.across, c.down, c.seed, false);
    const int state_after_both = CurrentRandomSeed();
    const Ref<TPixmap> second =
        SheetPixels(c.cell_w, c.cell_h, c.across, c.down, c.seed, true);
    ASSERT_TRUE(both && second);
    // The first pass's random draws still happen: the next sprite is the same either way.
    EXPECT_EQ(CurrentRandomSeed(), state_after_both);
    int differing = 0;
    for (int y = 0; y < both->height; ++y) {
      for (int x = 0; x < both->width; ++x) differing += both->ReadPixel(x, y) != second->ReadPixel(x, y);
    }
    EXPECT_EQ(differing, 0) << c.cell_w << " x " << c.cell_h << " cells, seed " << c.seed;
  }
}

TEST_F(ThreadedSheets, LeavingOutTheFirstPassDrawsHalfTheLinesAndKeepsItsPauses) {
  TRecordingDriver recorder;
  SelectGraphicsDriver(&recorder, GRAPHICS_BACKBUFFER);
  Ref<TGraphics> context = CreateGraphics(64, 64, 0, 0, 0);
  SetGraphics(context);
  static int pauses = 0;
  void (*saved_pause)(int) = sprite_boundary_sleep;
  sprite_boundary_sleep = [](int) { ++pauses; };
  int lines[2] = {}, flips[2] = {}, pause_count[2] = {};
  for (const bool skip : {false, true}) {
    recorder.Clear();
    pauses = 0;
    sprite_hidden_pass_skipped = skip;
    SeedRandom(77);
    hue_counter = 0;
    DrawSprite();
    for (const DrawRecord& record : recorder.records) {
      lines[skip] += record.op == DrawOp::DrawLine;
      flips[skip] += record.op == DrawOp::Flip;
    }
    pause_count[skip] = pauses;
  }
  sprite_boundary_sleep = saved_pause;
  SetGraphics(nullptr);
  EXPECT_GT(lines[0], 0);
  EXPECT_EQ(lines[1] * 2, lines[0]);
  EXPECT_EQ(flips[1], flips[0]);
  EXPECT_EQ(pause_count[1], pause_count[0]);
}

}  // namespace
