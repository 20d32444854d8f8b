// What the tests of the sheet's files share: a sheet of known pixels, and a fixture that
// starts the modules the writers use and runs each test as a plain run (sheet files only,
// named "Out", no scaling) in a scratch folder of its own, putting the settings back after.
#pragma once

#include <gtest/gtest.h>

#include "app/settings.h"
#include "app_test_support.h"
#include "pixmap/pixmap.h"
#include "pixmap/png/png.h"
#include "random/random.h"
#include "stream/stream.h"

// A sheet of distinct opaque pixels from the generator seeded with `seed`, every third one
// key-coloured (not keyed out).
inline Ref<TPixmap> PatternSheet(int width, int height, int seed) {
  Ref<TPixmap> sheet = PixmapCreate(width, height, PIXFMT_RGBA32, 4);
  SeedRandom(seed);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint32_t rgb = static_cast<uint32_t>(RandomInt(0, 0xFFFFFF));
      PixmapWritePixel(sheet, x, y, (x + y) % 3 == 0 ? 0xFFFF00FF : 0xFF000000 | rgb);
    }
  }
  return sheet;
}

class SheetFilesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    StartStream();
    StartPixmap();
    StartPNG();
    StartRandom();
  }
  void SetUp() override { PlainRun(); }
  void TearDown() override { PlainRun(); }
  static void PlainRun() {
    output_name = u"Out";
    scale_mode = SCALE_NONE;
    sprite_width = sprite_height = 64;
    atlas_format = AtlasFormat::None;
    split_sprites = false;
  }
  TScratchDir dir;
};
