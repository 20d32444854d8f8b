// Pixmap resize: centre sampling, bilinear weights, edge repetition, format kept.
#include <gtest/gtest.h>

#include "pixmap/pixmap.h"
#include "pixmap_helpers.h"

using namespace pixmap_test;

namespace {

uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}

class ResizeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartPixmap(); }
};

}  // namespace

TEST_F(ResizeTest, HalvingGivesTheTruncatedMeanOfEachTwoByTwoBlock) {
  Ref<TPixmap> p = PixmapCreate(4, 4, PIXFMT_RGBA32);
  p->ClearPixels(0);
  // Block (0,0): red 0, 255, 0, 255 -> 127; green 10, 20, 30, 41 -> 25.
  p->WritePixel(0, 0, Argb(255, 0, 10, 0));
  p->WritePixel(1, 0, Argb(255, 255, 20, 0));
  p->WritePixel(0, 1, Argb(255, 0, 30, 0));
  p->WritePixel(1, 1, Argb(255, 255, 41, 0));
  // Block (1,1) holds one opaque white pixel among transparent black.
  p->WritePixel(3, 3, Argb(255, 255, 255, 255));
  Ref<TPixmap> half = PixmapResize(p, 2, 2);
  ASSERT_EQ(half->width, 2);
  ASSERT_EQ(half->height, 2);
  EXPECT_EQ(half->ReadPixel(0, 0), Argb(255, 127, 25, 0));
  EXPECT_EQ(half->ReadPixel(1, 0), 0u);
  EXPECT_EQ(half->ReadPixel(1, 1), Argb(63, 63, 63, 63));
}

TEST_F(ResizeTest, QuarteringSamplesOnlyTheCentreOfEachBlock) {
  Ref<TPixmap> p = PatternPixmap(8, 8, PIXFMT_RGBA32);
  Ref<TPixmap> before = PixmapResize(p, 2, 2);
  // Mean of the centre four, computed the way the sampler does: row means, then their mean.
  for (int k = 0; k < 4; ++k) {
    double top = (p->PixelPtr(1, 1)[k] + p->PixelPtr(2, 1)[k]) / 2.0;
    double bottom = (p->PixelPtr(1, 2)[k] + p->PixelPtr(2, 2)[k]) / 2.0;
    EXPECT_EQ(before->pixels[k], static_cast<int>(top + (bottom - top) / 2)) << k;
  }
  // Changing every pixel of the first block but the centre four changes nothing.
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      if (!(x >= 1 && x <= 2 && y >= 1 && y <= 2)) p->WritePixel(x, y, Argb(1, 2, 3, 4));
  EXPECT_EQ(PixmapResize(p, 2, 2)->ReadPixel(0, 0), before->ReadPixel(0, 0));
}

TEST_F(ResizeTest, EnlargingWeighsNeighboursByDistanceAndRepeatsTheEdges) {
  Ref<TPixmap> p = PixmapCreate(2, 1, PIXFMT_RGBA32);
  p->WritePixel(0, 0, Argb(255, 100, 0, 0));
  p->WritePixel(1, 0, Argb(255, 20, 0, 0));
  Ref<TPixmap> wide = PixmapResize(p, 4, 1);
  EXPECT_EQ(wide->ReadPixel(0, 0), Argb(255, 100, 0, 0));
  EXPECT_EQ(wide->ReadPixel(1, 0), Argb(255, 80, 0, 0));  // 0.75 * 100 + 0.25 * 20
  EXPECT_EQ(wide->ReadPixel(2, 0), Argb(255, 40, 0, 0));  // 0.25 * 100 + 0.75 * 20
  EXPECT_EQ(wide->ReadPixel(3, 0), Argb(255, 20, 0, 0));
  // A single source row is copied to every destination row.
  Ref<TPixmap> tall = PixmapResize(p, 2, 3);
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(tall->ReadPixel(0, y), Argb(255, 100, 0, 0));
    EXPECT_EQ(tall->ReadPixel(1, y), Argb(255, 20, 0, 0));
  }
}

TEST_F(ResizeTest, SameSizeGivesAnEqualNewPixmap) {
  Ref<TPixmap> p = PatternPixmap(5, 4, PIXFMT_RGBA32, 16);
  Ref<TPixmap> same = PixmapResize(p, 5, 4);
  EXPECT_NE(same->pixels, p->pixels);
  EXPECT_EQ(same->pitch, 20);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(same->ReadPixel(x, y), p->ReadPixel(x, y));
}

TEST_F(ResizeTest, TheCallersFormatIsKept) {
  Ref<TPixmap> p = PixmapCreate(4, 2, PIXFMT_RGB24);
  p->ClearPixels(Argb(255, 10, 20, 30));
  p->WritePixel(3, 1, Argb(255, 210, 20, 30));
  Ref<TPixmap> half = PixmapResize(p, 2, 1);
  EXPECT_EQ(half->format, PIXFMT_RGB24);
  EXPECT_EQ(half->pitch, 8);
  EXPECT_EQ(half->ReadPixel(0, 0), Argb(255, 10, 20, 30));
  EXPECT_EQ(half->ReadPixel(1, 0), Argb(255, 60, 20, 30));  // (10 + 10 + 10 + 210) / 4
  EXPECT_EQ(p->ReadPixel(3, 1), Argb(255, 210, 20, 30));    // source untouched
}

TEST_F(ResizeTest, AlphaIsInterpolatedLikeAnyChannel) {
  Ref<TPixmap> p = PixmapCreate(2, 1, PIXFMT_RGBA32);
  p->WritePixel(0, 0, 0);
  p->WritePixel(1, 0, Argb(255, 255, 0, 0));
  EXPECT_EQ(PixmapResize(p, 1, 1)->ReadPixel(0, 0), Argb(127, 127, 0, 0));
}

TEST_F(ResizeTest, SizesBelowOneGiveAnEmptyPixmap) {
  Ref<TPixmap> p = PatternPixmap(4, 4, PIXFMT_BGRA32);
  for (auto [w, h] : {std::pair{0, 2}, {2, 0}, {-3, 2}, {2, -1}}) {
    Ref<TPixmap> r = PixmapResize(p, w, h);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->format, PIXFMT_BGRA32);
    EXPECT_EQ(r->capacity, 0) << w << "x" << h;
    EXPECT_GE(r->width, 0);
    EXPECT_GE(r->height, 0);
  }
  Ref<TPixmap> fromEmpty = PixmapResize(PixmapCreate(0, 0, PIXFMT_RGBA32), 2, 2);
  EXPECT_EQ(fromEmpty->ReadPixel(1, 1), 0u);
}
