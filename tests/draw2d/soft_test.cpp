// Software 2D driver against the GL 2D driver on the same input (Mesa's software GL on
// SDL's off-screen video driver): every primitive with its offsets, widths and ends, each
// blend mode, clipping, transforms, text, pixmap blits and read-back must give the pixels
// the GL gives. Also the raster queue's promises (order, drain, drop) and the window the
// driver draws into.
#include <gtest/gtest.h>

#include <algorithm>  // for std::clamp
#include <chrono>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <thread>  // for yield
#include <vector>

#include "draw2d/clean_state.h"
#include "draw2d/draw2d.h"
#include "draw2d/gl/glvex2d.h"
#include "draw2d/image.h"
#include "draw2d/soft/rasterqueue.h"
#include "draw2d/soft/softvex2d.h"
#include "graphics/graphics.h"
#include "support/environment.h"

namespace {

constexpr int kSide = 256;   // both contexts are kSide x kSide
constexpr int kCell = 16;    // test shapes go one per cell of a 16 x 16 grid
constexpr int kCells = kSide / kCell;

// One context per driver, made once and never closed (closing a GL context during static
// destruction, after the GL library's own statics are gone, crashes).
Ref<TGraphics>& ContextOf(TVex2DDriver* driver) {
  static Ref<TGraphics>& gl = *new Ref<TGraphics>();
  static Ref<TGraphics>& soft = *new Ref<TGraphics>();
  Ref<TGraphics>& context = driver == GLVex2DDriver() ? gl : soft;
  if (!context) {
    SelectGraphicsDriver(driver, GRAPHICS_BACKBUFFER);
    context = CreateGraphics(kSide, kSide, 0, 0, 0);
  }
  return context;
}

// Draws with `driver` from a cleared, default state and reads the whole context back.
Ref<TPixmap> Render(TVex2DDriver* driver, const std::function<void()>& draw) {
  Ref<TGraphics>& context = ContextOf(driver);
  SelectGraphicsDriver(driver, GRAPHICS_BACKBUFFER);
  SetGraphics(context);
  SetVirtualResolution(kSide, kSide);
  StartCleanPicture(kSide, kSide);
  draw();
  return GrabPixmap(0, 0, kSide, kSide);
}

// Where the two pictures differ, as "x,y gl=AARRGGBB soft=AARRGGBB" lines (the first few).
struct TDifference {
  int count = 0;
  int largest = 0;  // largest difference of one channel
  std::string first;
};

TDifference Compare(const Ref<TPixmap>& gl, const Ref<TPixmap>& soft) {
  TDifference difference;
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      const uint32_t a = gl->ReadPixel(x, y), b = soft->ReadPixel(x, y);
      if (a == b) continue;
      for (int shift = 0; shift < 32; shift += 8) {
        const int channel = std::abs(static_cast<int>((a >> shift) & 255) -
                                     static_cast<int>((b >> shift) & 255));
        difference.largest = std::max(difference.largest, channel);
      }
      if (++difference.count <= 8) {
        char line[80];
        std::snprintf(line, sizeof line, "%d,%d gl=%08X soft=%08X\n", x, y, a, b);
        difference.first += line;
      }
    }
  }
  return difference;
}

void ExpectSamePixels(const std::function<void()>& draw, int allowed = 0) {
  const Ref<TPixmap> gl = Render(GLVex2DDriver(), draw);
  const Ref<TPixmap> soft = Render(SoftVex2DDriver(), draw);
  const TDifference difference = Compare(gl, soft);
  EXPECT_LE(difference.count, allowed) << difference.first;
}

class SoftDriver : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    UnsetEnvironment("DISPLAY");  // always the off-screen window, display or not
    StartGLVex2D();
    StartSoftVex2D();
    ASSERT_NE(GLVex2DDriver(), nullptr);
    ASSERT_NE(ContextOf(GLVex2DDriver()), nullptr);
    ASSERT_NE(ContextOf(SoftVex2DDriver()), nullptr);
  }

  std::mt19937 random{20261209};
  float Uniform(float low, float high) {
    return std::uniform_real_distribution<float>(low, high)(random);
  }
  // A position inside cell (column, row), `margin` pixels from its sides.
  float InCellX(int column, float margin = 2) {
    return column * kCell + Uniform(margin, kCell - margin);
  }
  float InCellY(int row, float margin = 2) { return row * kCell + Uniform(margin, kCell - margin); }
  // Confines drawing to a cell (the viewport clips what crosses its edge).
  static void Cell(int column, int row) {
    SetViewport(column * kCell, row * kCell, kCell, kCell);
  }
};

TEST(SoftStart, IsTheDriverInForceAfterTheGLOne) {
  UnsetEnvironment("DISPLAY");
  StartGLVex2D();
  StartSoftVex2D();
  ASSERT_NE(SoftVex2DDriver(), nullptr);
  EXPECT_EQ(SoftVex2DDriver()->ToString(), u"Software");
  EXPECT_EQ(DefaultGraphicsFlags(), GRAPHICS_BACKBUFFER);
}

// --- geometry

TEST_F(SoftDriver, LinesOfEveryWidthAndDirectionWithTheirLastPixelsMatch) {
  // Random ends (some on pixel centres and edges, where ties decide), widths from a fraction
  // to 5, with and without the closing pixel; one line per cell, clipped by the cell.
  const float widths[] = {1, 0.4f, 1.5f, 2, 2.5f, 3, 3.7f, 5};
  for (float width : widths) {
    std::vector<std::vector<float>> lines;
    for (int i = 0; i < kCells * kCells; ++i) {
      const int column = i % kCells, row = i / kCells;
      // Ends may leave their cell, but not the window (see the clipping test below).
      auto inside = [](float v) { return std::clamp(v, 3.0f, kSide - 3.0f); };
      std::vector<float> line = {inside(InCellX(column, -2)), inside(InCellY(row, -2)),
                                 inside(InCellX(column, -2)), inside(InCellY(row, -2))};
      if (i % 4 == 1) {
        for (float& v : line) v = std::floor(v * 2) / 2;  // ends on centres and edges
      } else if (i % 4 == 2) {
        line[2] = line[0];  // vertical
      } else if (i % 8 == 3) {
        line[3] = line[1];  // horizontal
      }
      lines.push_back(line);
    }
    SCOPED_TRACE("width " + std::to_string(width));
    ExpectSamePixels([&] {
      SetLineWidth(width);
      for (int i = 0; i < kCells * kCells; ++i) {
        Cell(i % kCells, i / kCells);
        const auto& l = lines[i];
        DrawLine(l[0], l[1], l[2], l[3], i % 2);
      }
    });
  }
}

TEST_F(SoftDriver, ZeroLengthAndPointLikeLinesDrawOnlyTheirClosingPixel) {
  std::vector<float> positions;
  for (int i = 0; i < 64; ++i) {
    positions.push_back(InCellX(i % kCells));
    positions.push_back(InCellY(i / kCells));
  }
  ExpectSamePixels([&] {
    for (size_t i = 0; i < positions.size(); i += 2) {
      const float x = positions[i], y = positions[i + 1];
      DrawLine(x, y, x, y, 1);
      DrawLine(x + 0.2f, y + 40, x + 0.3f, y + 40.1f, 1);
    }
  });
}

TEST_F(SoftDriver, PointsRectsOvalsAndPolygonsMatchUnderTransforms) {
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const float rotation = round == 0 ? 0 : Uniform(-180, 180);
    const float scale = round < 2 ? 1 : Uniform(0.5f, 2);
    std::vector<float> values;
    for (int i = 0; i < kCells * kCells * 8; ++i) values.push_back(Uniform(0, 1));
    ExpectSamePixels([&] {
      SetRotationScale(rotation, scale, scale);
      SetHandle(2, 1);
      for (int i = 0; i < kCells * kCells; ++i) {
        const int column = i % kCells, row = i / kCells;
        const float* v = &values[i * 8];
        Cell(column, row);
        SetOrigin(column * kCell, row * kCell);
        const float x = 8 * v[0] + 4, y = 8 * v[1] + 4;
        switch (i % 4) {
          case 0:
            DrawRect(x, y, v[2] * 10 - 3, v[3] * 10 - 3);
            break;
          case 1:
            DrawOval(x - 4, y - 4, v[2] * 12, v[3] * 12);
            break;
          case 2:
            DrawPoly({x, y, x + 6 * v[2], y + 1, x + 5, y + 8 * v[3], x - 2, y + 5});
            break;
          default:
            Plot(x, y);
            Plot(std::floor(x) + 0.5f, std::floor(y));  // ties on pixel edges
            break;
        }
      }
    });
  }
}

TEST_F(SoftDriver, ShapesReachingPastTheWindowAreClippedToIt) {
  // Lines whose ends leave the window are cut by the GL at its edge, which moves the end;
  // the software driver clips pixels instead. A pixel or two where a line leaves may differ.
  ExpectSamePixels(
      [&] {
        DrawRect(-20, -20, 60, 50);
        DrawOval(200, 230, 90, 50);
        SetLineWidth(3);
        DrawLine(-30, 100, 300, 140, 1);
      },
      4);
}

TEST_F(SoftDriver, ShortLinesFromPixelCentresDrawWhatTheDiamondRuleGives) {
  // Lines shorter than a pixel from a pixel centre in every direction: one that stays in
  // the start pixel's diamond never leaves it and draws nothing, whichever way it goes.
  ExpectSamePixels([] {
    int n = 0;
    for (float dx = -0.45f; dx <= 0.46f; dx += 0.05f) {
      for (float dy = -0.45f; dy <= 0.46f; dy += 0.05f, ++n) {
        const float x = 8.0f + (n % 40) * 6, y = 8.0f + (n / 40) * 6;
        DrawLine(x, y, x + dx, y + dy, 0);
      }
    }
    DrawLine(20, 200, 20.1f, 200.3f, 0);
  });
}

TEST_F(SoftDriver, TiesOfTheSubpixelSnapRoundToEvenInAPowerOfTwoWindow) {
  // Polygon corners exactly half a step between two 1/256 positions.
  ExpectSamePixels([] {
    DrawRect(10.501953125f, 10.501953125f, 10, 10);
    DrawRect(40.498046875f, 30.501953125f, 10.00390625f, 9.99609375f);
    DrawPoly({100.501953125f, 100.498046875f, 130.001953125f, 100.5f, 120.5f, 120.501953125f});
  });
}

// --- colour and blending

TEST_F(SoftDriver, EveryBlendModeBlendsLikeTheGL) {
  const int modes[] = {0, BLEND_MASK, BLEND_SOLID, BLEND_ALPHA, BLEND_ADDITIVE, BLEND_MULTIPLY, 9};
  for (int mode : modes) {
    SCOPED_TRACE("blend " + std::to_string(mode));
    std::vector<float> values;
    for (int i = 0; i < 600; ++i) values.push_back(Uniform(0, 1));
    ExpectSamePixels([&] {
      // Layers of translucent rects and lines of random colours over a coloured ground.
      SetClsColor(90, 160, 30);
      Cls();
      SetBlend(mode);
      for (int i = 0; i < 100; ++i) {
        const float* v = &values[i * 6];
        SetColor(static_cast<int>(v[0] * 300) - 20, static_cast<int>(v[1] * 255),
                 static_cast<int>(v[2] * 255));
        SetAlpha(v[3] * 1.2f - 0.1f);
        if (i % 2) {
          DrawRect(v[4] * 200, v[5] * 200, 40, 30);
        } else {
          // Lines stay inside the window (see the clipping test).
          SetLineWidth(1 + v[4] * 3);
          DrawLine(8 + v[4] * 240, 8 + v[5] * 240, 8 + v[5] * 240, 8 + v[0] * 240, 1);
        }
      }
    });
  }
}

TEST_F(SoftDriver, ClearColourViewportAndVirtualResolutionMatch) {
  ExpectSamePixels([&] {
    SetClsColor(300, 40, -5);
    SetViewport(10, 20, 100, 50);
    Cls();
    SetViewport(0, 0, 30, -4);  // negative: holds no pixels
    Cls();
    SetViewport(0, 0, kSide, kSide);
    SetVirtualResolution(kSide / 2, kSide / 4);
    SetColor(0, 200, 255);
    DrawRect(10.3f, 10.6f, 20, 7);
    SetLineWidth(2);
    DrawLine(1, 1, 120, 60, 1);
    SetViewport(60, 10, 40, 40);  // virtual units: device 120, 40, 80, 160
    DrawOval(50, 0, 60, 50);
  });
}

// --- text, images and pixels

TEST_F(SoftDriver, TextMatchesInEveryBlendAndUnderScaleAndRotation) {
  const int modes[] = {BLEND_MASK, BLEND_SOLID, BLEND_ALPHA, BLEND_ADDITIVE, BLEND_MULTIPLY};
  ExpectSamePixels([&] {
    SetClsColor(40, 80, 120);
    Cls();
    for (int i = 0; i < 5; ++i) {
      SetBlend(modes[i]);
      SetColor(250, 200 - 30 * i, 40 * i);
      SetAlpha(i % 2 ? 0.6f : 1.0f);
      DrawText(u"Finished : Press any key to Quit", 4, 4 + 18 * i);
    }
    SetBlend(BLEND_MASK);
    SetScale(2, 3);
    DrawText(u"Scaled AB", 4, 100);
  });
  // Rotated glyphs sample texels between pixel centres; a GL interpolates the texture
  // coordinates in its own precision, so a texel at a boundary may land on the next pixel.
  const Ref<TPixmap> gl = Render(GLVex2DDriver(), [] {
    SetRotation(30);
    DrawText(u"Rotated text", 40, 120);
  });
  const Ref<TPixmap> soft = Render(SoftVex2DDriver(), [] {
    SetRotation(30);
    DrawText(u"Rotated text", 40, 120);
  });
  EXPECT_LE(Compare(gl, soft).count, 12);
}

TEST_F(SoftDriver, ImagesMatchNearestAndFilteredSampling) {
  Ref<TPixmap> picture = TPixmap::Create(13, 7, PIXFMT_RGBA32);
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 13; ++x) {
      picture->WritePixel(x, y, 0xFF000000u | (x * 19u << 16) | (y * 36u << 8) | ((x ^ y) * 20u));
    }
  }
  Ref<TImage> sharp = TImage::Load(picture, 0, 0, 0, 0);
  ExpectSamePixels([&] {
    DrawImage(sharp, 3, 5);
    DrawImageRect(sharp, 30, 5, 52, 28);  // magnified 4 times
  });
  // Filtered and mipmapped sampling weighs texels as the GL does; a weight on a half step
  // of 1/256 may round the other way, a step of colour at most.
  Ref<TImage> smooth = TImage::Load(picture, IMAGEFLAG_FILTERED | IMAGEFLAG_MIPMAPPED, 0, 0, 0);
  const auto draw = [&] {
    DrawImageRect(smooth, 10, 60, 130, 70);  // magnified
    DrawImageRect(smooth, 10, 140, 6, 3);    // minified
  };
  const TDifference difference = Compare(Render(GLVex2DDriver(), draw),
                                         Render(SoftVex2DDriver(), draw));
  EXPECT_LE(difference.largest, 1) << difference.first;
}

TEST_F(SoftDriver, PixmapBlitsAndGrabsMatch) {
  Ref<TPixmap> picture = TPixmap::Create(20, 9, PIXFMT_RGB24);
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 20; ++x) picture->WritePixel(x, y, 0xFF000000u | (x * 12u << 8) | y * 28u);
  }
  ExpectSamePixels([&] {
    SetBlend(BLEND_ALPHA);
    SetOrigin(50, 50);  // neither origin nor blend applies to a blit
    DrawPixmap(picture, 3, 4);
    SetViewport(100, 0, 10, 10);
    DrawPixmap(picture, 95, 2);  // clipped by the viewport
    DrawPixmap(picture, -5, -3);
  });
  // A grab reaching past the window keeps its size; the part inside is the buffer's.
  Ref<TPixmap> part;
  Render(SoftVex2DDriver(), [&] {
    SetColor(10, 20, 30);
    DrawRect(kSide - 2, 0, 2, 2);
    part = GrabPixmap(kSide - 2, -1, 4, 3);
  });
  ASSERT_EQ(part->width, 4);
  ASSERT_EQ(part->height, 3);
  EXPECT_EQ(part->ReadPixel(0, 1), 0xFF0A141Eu);
  EXPECT_EQ(part->ReadPixel(1, 2), 0xFF0A141Eu);
}

// --- the raster thread and the window

TEST_F(SoftDriver, MoreCommandsThanTheRingHoldsAllLandInOrder) {
  // Four times the ring, each pixel overwritten many times: the last colour must win.
  Ref<TPixmap> screen = Render(SoftVex2DDriver(), [] {
    for (int i = 0; i < static_cast<int>(TRasterQueue::kCapacity) * 4; ++i) {
      SetColor(i & 255, (i >> 8) & 255, 7);
      Plot(static_cast<float>(i % 64), static_cast<float>((i / 64) % 64));
    }
  });
  const int last = static_cast<int>(TRasterQueue::kCapacity) * 4 - 1;
  for (int i = last - 64 * 64 + 1; i <= last; ++i) {
    ASSERT_EQ(screen->ReadPixel(i % 64, (i / 64) % 64),
              0xFF000007u | (static_cast<uint32_t>(i & 255) << 16) |
                  (static_cast<uint32_t>((i >> 8) & 255) << 8))
        << i;
  }
}

// Commands for a square target of `side` pixels, and an opaque clear of one channel.
TRasterCommand TargetCommand(uint8_t* pixels, int side) {
  TRasterCommand target{};
  target.op = TRasterOp::Target;
  target.target = {pixels, side * 4, side, side};
  return target;
}

TRasterCommand ClearCommand(int channel, uint8_t value) {
  TRasterCommand clear{};
  clear.op = TRasterOp::Clear;
  clear.rgba[channel] = value, clear.rgba[3] = 255;
  return clear;
}

TEST(RasterQueue, DropDiscardsPendingWorkButKeepsItsTargetAndClip) {
  uint8_t pixels[8 * 8 * 4] = {};
  TRasterQueue queue;
  TRasterCommand clip{};
  clip.op = TRasterOp::Clip;
  clip.rect[0] = 2, clip.rect[1] = 2, clip.rect[2] = 4, clip.rect[3] = 4;
  TRasterCommand clear = ClearCommand(0, 200);
  // Fewer commands than one hand-over: none has run when they are dropped.
  queue.Push(TargetCommand(pixels, 8));
  queue.Push(clip);
  queue.Push(clear);
  queue.Drop();
  for (uint8_t byte : pixels) ASSERT_EQ(byte, 0);
  // What comes next draws where the dropped Target and Clip said.
  queue.Push(clear);
  queue.Drain();
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const bool inside = x >= 2 && x < 4 && y >= 2 && y < 4;
      EXPECT_EQ(pixels[(y * 8 + x) * 4], inside ? 200 : 0) << x << "," << y;
    }
  }
  queue.Stop();
  // A stopped queue starts its thread again for new work.
  clear.rgba[0] = 9;
  queue.Push(clear);
  queue.Drain();
  EXPECT_EQ(pixels[(2 * 8 + 2) * 4], 9);
}

TEST(RasterQueue, FlushHandsOverWorkThatDrainingWouldOtherwiseWaitFor) {
  // The same few commands as above: fewer than one hand-over, so nothing runs until they
  // are flushed, and then they run with nobody waiting for them.
  uint8_t pixels[4 * 4 * 4] = {};
  TRasterQueue queue;
  queue.Push(TargetCommand(pixels, 4));
  queue.Push(ClearCommand(1, 77));
  EXPECT_FALSE(queue.Done());
  queue.Flush();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!queue.Done() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_TRUE(queue.Done());
  for (int i = 0; i < 16; ++i) ASSERT_EQ(pixels[i * 4 + 1], 77) << i;
}

TEST_F(SoftDriver, AnOffScreenWindowIsNotVisibleAndAFlipThereShowsNothing) {
  Ref<TGraphics>& context = ContextOf(SoftVex2DDriver());
  SelectGraphicsDriver(SoftVex2DDriver(), GRAPHICS_BACKBUFFER);
  SetGraphics(context);
  EXPECT_EQ(context->Visible(), 0);
  EXPECT_EQ(CurrentGraphicsVisible(), 0);
  // The drawing stays in the buffer across presentations, to be read back at the end.
  SetColor(1, 2, 3);
  DrawRect(0, 0, 4, 4);
  Flip(0);
  Flip(1);
  EXPECT_EQ(GrabPixmap(0, 0, 1, 1)->ReadPixel(0, 0), 0xFF010203u);
}

}  // namespace
