// The rasteriser's own entry points, below the software driver.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "draw2d/soft/raster.h"

namespace {

constexpr int kSize = 40;

struct TCanvas {
  std::vector<uint8_t> pixels;
  TRasterSurface surface;
  TCanvas() : pixels(kSize * kSize * 4) {
    // A background that every blend changes visibly.
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 37 + 11);
    surface = {pixels.data(), kSize * 4, kSize, kSize};
  }
};

// A sprite's lines go to the rasteriser as one command, a line and its closing pixel: that
// must draw exactly what the line and then the point draw, whatever the paint, the width,
// the clip, and wherever the ends fall (on the surface, just off it, far off it).
TEST(Raster, ALineWithItsClosingPixelDrawsWhatTheLineAndThePointDraw) {
  std::mt19937 random(20261210);
  std::uniform_real_distribution<float> position(-6.0f, kSize + 6.0f);
  std::uniform_int_distribution<int> byte(0, 255);
  const TRasterBlend blends[] = {TRasterBlend::Solid, TRasterBlend::Alpha,
                                 TRasterBlend::Additive, TRasterBlend::Multiply,
                                 TRasterBlend::Mask};
  int drawn = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    TCanvas separate, fused;
    TRasterPaint paint;
    for (uint8_t& channel : paint.rgba) channel = static_cast<uint8_t>(byte(random));
    paint.blend = blends[trial % 5];
    const int width = 1 + trial % 5;
    // Every fourth clip is a cell inside the surface; one in eight is empty.
    TRasterClip clip = ClipToSurface(separate.surface, 0, 0, kSize, kSize);
    if (trial % 4 == 1) clip = ClipToSurface(separate.surface, 8, 5, 17, 23);
    if (trial % 8 == 3) clip = ClipToSurface(separate.surface, 20, 20, 0, 9);
    float line[4];
    for (float& value : line) value = position(random);
    if (trial % 3 == 0) {  // ends on pixel centres and edges, where ties fall
      for (float& value : line) value = static_cast<float>(static_cast<int>(value * 2)) / 2;
    }
    const float x = trial % 6 == 5 ? position(random) : line[2];
    const float y = trial % 6 == 5 ? position(random) : line[3];

    RasterLine(separate.surface, clip, paint, line[0], line[1], line[2], line[3], width);
    RasterPoint(separate.surface, clip, paint, x, y);
    RasterLineAndPoint(fused.surface, clip, paint, line, width, x, y);
    ASSERT_EQ(separate.pixels, fused.pixels)
        << "trial " << trial << ": line " << line[0] << "," << line[1] << " to " << line[2]
        << "," << line[3] << " width " << width << ", point " << x << "," << y;
    if (separate.pixels != TCanvas().pixels) ++drawn;
  }
  // Most cases must draw something, or the comparison proves little.
  EXPECT_GT(drawn, 1500);  // 1997 here: empty clips and masked paints draw nothing
}

}  // namespace
