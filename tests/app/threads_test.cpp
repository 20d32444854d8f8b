// Sheets drawn off-screen by several threads, and without the lines that later ones paint
// over: the files must be byte for byte those of one thread drawing both passes,
// for sheets made to find the seams (wide lines at the edges of tiny cells, strips outside
// the grid, cells of one pixel, a sprite larger than the sheet, every scaling, atlases and
// sprite files).
#include <gtest/gtest.h>

#include <algorithm>  // for std::equal
#include <array>
#include <cstdlib>  // for unsetenv
#include <cstring>  // for std::memcpy
#include <map>
#include <set>
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
#include "support/environment.h"
#include "support/pixels.h"

namespace {

class ThreadedSheets : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    UnsetEnvironment("DISPLAY");
    UnsetEnvironment("WAYLAND_DISPLAY");
    StartSheetBuilder(0, nullptr);
  }
  void SetUp() override { SelectGraphicsDriver(SoftVex2DDriver(), GRAPHICS_BACKBUFFER); }
  void TearDown() override {
    SetSoftVex2DThreads(0);
    sprite_hidden_lines_skipped = false;
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
      "Sheet Width=19\nSheet Height=16\nSprite Width=3\nSprite Height=5\nSeed=11",
      // Strips outside the grid on the right and at the bottom; grown copies and atlases.
      "Sheet Width=70\nSheet Height=45\nSprite Size=16\nSeed=12\nMake=Grow\nAtlas=JSON",
      // One-pixel cells, shrunk copies and one file per sprite.
      "Sheet Width=6\nSheet Height=5\nSprite Size=1\nSeed=13\nMake=Shrink\nSplit=True",
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
// or without the lines nobody sees, read back.
Ref<TPixmap> SheetPixels(int cell_w, int cell_h, int across, int down, int seed,
                         bool skip_hidden_lines) {
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
  sprite_hidden_lines_skipped = skip_hidden_lines;
  void (*saved_pause)(int) = sprite_boundary_sleep;
  sprite_boundary_sleep = [](int) {};
  SeedRandom(seed);
  DrawSheet(false);
  sprite_boundary_sleep = saved_pause;
  Ref<TPixmap> sheet = GrabPixmap(0, 0, sheet_width, sheet_height);
  SetGraphics(nullptr);
  return sheet;
}

TEST_F(ThreadedSheets, LeavingOutHiddenLinesChangesNoPixel) {
  struct Case {
    int cell_w, cell_h, across, down, seed;
  };
  // Many sprites (facet counts, ring counts, widths, twists) in cells from one pixel to
  // wider than tall.
  const Case cases[] = {
      {64, 64, 3, 2, 1}, {32, 32, 4, 2, 2}, {7, 5, 5, 3, 3}, {1, 1, 4, 3, 4}, {50, 20, 2, 2, 5},
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
    EXPECT_EQ(DifferingPixels(*both, *second), 0)
        << c.cell_w << " x " << c.cell_h << " cells, seed " << c.seed;
  }
}

// A line as the driver is asked to draw it: its six arguments and its closing pixel, bit
// for bit.
using LineKey = std::array<uint32_t, 8>;

// Draws the sprite of `seed` into the current context, with or without the lines nobody
// sees, and counts its pauses.
SpriteShape DrawSeededSprite(int seed, bool skip, int& pauses) {
  static int pause_count = 0;
  void (*saved_pause)(int) = sprite_boundary_sleep;
  sprite_boundary_sleep = [](int) { ++pause_count; };
  pause_count = 0;
  sprite_hidden_lines_skipped = skip;
  SeedRandom(seed);
  hue_counter = 0;
  SpriteShape shape;
  DrawSprite(shape);
  sprite_boundary_sleep = saved_pause;
  pauses = pause_count;
  return shape;
}

// The lines a sprite from `seed` asks the recorder for, in order, and its lattice offset;
// counts its flips and pauses too.
std::vector<LineKey> SpriteLines(TRecordingDriver& recorder, int seed, bool skip,
                                 float& lattice_offset, int& flips, int& pauses) {
  recorder.Clear();
  const SpriteShape shape = DrawSeededSprite(seed, skip, pauses);
  lattice_offset = shape.lattice_offset;
  flips = 0;
  std::vector<LineKey> lines;
  const auto& records = recorder.records;
  for (size_t i = 0; i < records.size(); ++i) {
    flips += records[i].op == DrawOp::Flip;
    if (records[i].op != DrawOp::DrawLine) continue;
    // Every sprite line closes with its pixel, recorded right after it.
    EXPECT_TRUE(i + 1 < records.size() && records[i + 1].op == DrawOp::Plot);
    LineKey key{};
    std::memcpy(key.data(), records[i].a, 6 * sizeof(float));
    if (i + 1 < records.size()) std::memcpy(key.data() + 6, records[i + 1].a, 2 * sizeof(float));
    lines.push_back(key);
  }
  EXPECT_EQ(static_cast<size_t>(shape.lines_drawn), lines.size());
  return lines;
}

// Off-screen a sprite draws its second pass only, and of that pass leaves out each line
// that the pass draws again later with the same ends: what is left is in the same order,
// and the pauses and presentations are all still there. Straight lines come back this way
// at every lattice offset, so each offset must save lines.
TEST_F(ThreadedSheets, LeavingOutHiddenLinesKeepsThePausesAndLeavesOutOnlyLinesDrawnAgain) {
  TRecordingDriver recorder;
  SelectGraphicsDriver(&recorder, GRAPHICS_BACKBUFFER);
  Ref<TGraphics> context = CreateGraphics(64, 64, 0, 0, 0);
  SetGraphics(context);
  std::set<float> offsets_seen;
  for (int seed = 1; seed < 200 && offsets_seen.size() < 6; ++seed) {
    float offset = 0, offset_again = 0;
    int flips[2] = {}, pauses[2] = {};
    const std::vector<LineKey> all =
        SpriteLines(recorder, seed, false, offset, flips[0], pauses[0]);
    const std::vector<LineKey> kept =
        SpriteLines(recorder, seed, true, offset_again, flips[1], pauses[1]);
    if (!offsets_seen.insert(offset).second) continue;
    ASSERT_EQ(offset_again, offset);
    EXPECT_EQ(flips[1], flips[0]);
    EXPECT_EQ(pauses[1], pauses[0]);
    // The first half is the first pass, drawn again line for line by the second.
    ASSERT_EQ(all.size() % 2, 0u);
    const size_t pass = all.size() / 2;
    ASSERT_TRUE(std::equal(all.begin(), all.begin() + pass, all.begin() + pass));
    std::map<LineKey, size_t> last_drawn;
    for (size_t i = pass; i < all.size(); ++i) last_drawn[all[i]] = i;
    // Matched from the end, so that of two equal lines the later one is taken as kept.
    size_t k = kept.size(), left_out = 0;
    for (size_t i = all.size(); i-- > pass;) {
      if (k > 0 && kept[k - 1] == all[i]) {
        --k;
        continue;
      }
      ++left_out;
      EXPECT_GT(last_drawn[all[i]], i) << "a line left out is never drawn again, offset "
                                       << offset << ", line " << i - pass;
    }
    EXPECT_EQ(k, 0u) << "the lines kept are not in the second pass's order";
    EXPECT_GT(left_out * 6, pass) << "offset " << offset;
  }
  EXPECT_EQ(offsets_seen.size(), 6u);
  SetGraphics(nullptr);
}

// One sprite of every lattice offset, drawn by the software renderer with and without
// the lines nobody sees: not a pixel differs.
TEST_F(ThreadedSheets, LeavingOutHiddenLinesChangesNoPixelAtAnyLatticeOffset) {
  SetSoftVex2DThreads(1);
  std::set<float> offsets_seen;
  for (int seed = 1; seed < 200 && offsets_seen.size() < 6; ++seed) {
    Ref<TPixmap> cells[2];
    float offset = 0;
    for (const bool skip : {false, true}) {
      Ref<TGraphics> context = CreateGraphics(40, 40, 0, 0, 0);
      ASSERT_TRUE(context);
      SetGraphics(context);
      cell_width = cell_height = 40;
      ResetDrawState();
      int pauses = 0;
      offset = DrawSeededSprite(seed, skip, pauses).lattice_offset;
      cells[skip] = GrabPixmap(0, 0, 40, 40);
      SetGraphics(nullptr);
    }
    if (!offsets_seen.insert(offset).second) continue;
    ASSERT_TRUE(cells[0] && cells[1]);
    EXPECT_EQ(DifferingPixels(*cells[0], *cells[1]), 0)
        << "lattice offset " << offset << ", seed " << seed;
  }
  EXPECT_EQ(offsets_seen.size(), 6u);
}

}  // namespace
