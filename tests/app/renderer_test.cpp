// The default renderer's sheets: a seed gives the same pixels on every machine (the decoded
// pixels of a small sheet are pinned), and they are the pixels the GL 2D driver draws on
// Mesa, sheet for sheet.
#include <gtest/gtest.h>

#include <string>

#include "app/settings.h"
#include "app/sheetbuilder.h"
#include "app/sprite.h"
#include "app/startup.h"
#include "app_test_support.h"
#include "draw2d/draw2d.h"
#include "draw2d/gl/glvex2d.h"
#include "draw2d/soft/softvex2d.h"
#include "graphics/graphics.h"
#include "pixmap/pixmap.h"
#include "random/random.h"
#include "support/environment.h"
#include "support/pixels.h"

namespace {

void NoPause(int) {}

// FNV-1a over the RGBA bytes, row by row.
uint64_t PixelHash(const Ref<TPixmap>& pixmap) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (int y = 0; y < pixmap->height; ++y) {
    const uint8_t* row = pixmap->PixelPtr(0, y);
    for (int i = 0; i < pixmap->width * 4; ++i) hash = (hash ^ row[i]) * 0x100000001b3ull;
  }
  return hash;
}

class RendererSheet : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    UnsetEnvironment("DISPLAY");
    UnsetEnvironment("WAYLAND_DISPLAY");
    StartSheetBuilder(0, nullptr);
  }
  void SetUp() override { saved_pause_ = sprite_boundary_sleep; }
  void TearDown() override { sprite_boundary_sleep = saved_pause_; }

  // A 3 x 2 sheet of 64-pixel cells drawn by `driver` from `seed`, read back.
  static Ref<TPixmap> Sheet(TVex2DDriver* driver, int seed) {
    SelectGraphicsDriver(driver, GRAPHICS_BACKBUFFER);
    Ref<TGraphics> context = CreateGraphics(192, 128, 0, 0, 0);
    if (!context) return nullptr;
    SetGraphics(context);
    sheet_width = 192;
    sheet_height = 128;
    sprite_width = sprite_height = 64;
    cells_across = 3;
    cells_down = 2;
    hue_counter = 0;
    sprite_boundary_sleep = NoPause;
    SeedRandom(seed);
    DrawSheet(false);
    Ref<TPixmap> sheet = GrabPixmap(0, 0, 192, 128);
    SetGraphics(nullptr);
    return sheet;
  }

 private:
  void (*saved_pause_)(int) = nullptr;
};

TEST_F(RendererSheet, ASeedGivesTheSamePixelsOnEveryMachine) {
  // The whole program, off-screen, with the default renderer: the decoded pixels of its
  // file are pinned (the GL driver on Mesa writes the very same file). They change only if
  // the drawing itself changes.
  TScratchDir dir;
  dir.Write("settings.ini", "Sheet Width=128\nSheet Height=96\nSprite Size=32\nSeed=2026\n");
  SelectGraphicsDriver(SoftVex2DDriver(), GRAPHICS_BACKBUFFER);
  hue_counter = 0;
  testing::internal::CaptureStderr();
  ASSERT_EQ(RunSheetBuilder(), 0);
  testing::internal::GetCapturedStderr();
  Ref<TPixmap> sheet = PixmapLoad(u"Out.png");
  ASSERT_TRUE(sheet);
  ASSERT_EQ(sheet->width, 128);
  ASSERT_EQ(sheet->format, PIXFMT_RGBA32);
  EXPECT_EQ(PixelHash(sheet), 0x77aca1152508afa0ull);
}

TEST_F(RendererSheet, SoftwareSheetsAreTheGLDriversPixelForPixel) {
  for (int seed : {1, 2026}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Ref<TPixmap> gl = Sheet(GLVex2DDriver(), seed);
    Ref<TPixmap> soft = Sheet(SoftVex2DDriver(), seed);
    ASSERT_TRUE(gl);
    ASSERT_TRUE(soft);
    const int same = 192 * 128 - DifferingPixels(*gl, *soft);
    const double share = same / (192.0 * 128.0);
    RecordProperty("identical_share_seed_" + std::to_string(seed), std::to_string(share));
    EXPECT_GE(share, 0.999);
  }
}

}  // namespace
