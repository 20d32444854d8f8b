// The raster pool: several threads drawing the runs of different clip rectangles at once
// must leave the pixels one thread leaves, whatever the rectangles overlap, however long a
// run, and whatever is dropped.
#include <gtest/gtest.h>

#include <algorithm>  // for std::max
#include <cstdlib>  // for unsetenv
#include <random>
#include <vector>

#include "draw2d/draw2d.h"
#include "draw2d/soft/rasterpool.h"
#include "draw2d/soft/softvex2d.h"
#include "graphics/graphics.h"
#include "support/environment.h"
#include "support/pixels.h"

namespace {

constexpr int kSide = 96;

// A seeded mess of viewports (overlapping, nested, disjoint, the whole window), wide
// lines running off their viewport, blended rectangles and clears, read back.
Ref<TPixmap> Mess(int threads, unsigned seed) {
  UnsetEnvironment("DISPLAY");
  UnsetEnvironment("WAYLAND_DISPLAY");
  StartSoftVex2D();
  SelectGraphicsDriver(SoftVex2DDriver(), GRAPHICS_BACKBUFFER);
  SetSoftVex2DThreads(threads);
  Ref<TGraphics> context = CreateGraphics(kSide, kSide, 0, 0, 0);
  if (!context) return nullptr;
  SetGraphics(context);
  std::mt19937 random(seed);
  auto upto = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  Cls();
  for (int i = 0; i < 400; ++i) {
    const int x = upto(kSide) - 8, y = upto(kSide) - 8;
    SetViewport(x, y, 1 + upto(40), 1 + upto(40));
    SetBlend(upto(2) ? BLEND_ALPHA : BLEND_SOLID);
    SetAlpha(static_cast<float>(upto(256)) / 255.0f);
    SetColor(upto(256), upto(256), upto(256));
    SetLineWidth(static_cast<float>(1 + upto(6)));
    const int shapes = upto(30);
    for (int k = 0; k < shapes; ++k) {
      if (upto(8) == 0) {
        DrawRect(static_cast<float>(x + upto(30)), static_cast<float>(y + upto(30)), 12, 9);
      } else {
        DrawLine(static_cast<float>(x - 5 + upto(50)), static_cast<float>(y - 5 + upto(50)),
                 static_cast<float>(x - 5 + upto(50)), static_cast<float>(y - 5 + upto(50)), 1);
      }
    }
    if (upto(50) == 0) Cls();
    if (upto(40) == 0) Flip(0);
  }
  SetViewport(0, 0, kSide, kSide);
  Ref<TPixmap> picture = GrabPixmap(0, 0, kSide, kSide);
  SetGraphics(nullptr);
  SetSoftVex2DThreads(0);
  return picture;
}

TEST(RasterPool, OverlappingViewportsLandInTheOrderTheyWereDrawn) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    const Ref<TPixmap> one = Mess(1, seed);
    ASSERT_TRUE(one);
    for (const int threads : {2, 7}) {
      const Ref<TPixmap> many = Mess(threads, seed);
      ASSERT_TRUE(many);
      EXPECT_EQ(DifferingPixels(*one, *many), 0) << "seed " << seed << ", " << threads
                                                 << " threads";
    }
  }
}

TRasterCommand Target(uint8_t* pixels, int side) {
  TRasterCommand command{};
  command.op = TRasterOp::Target;
  command.target = {pixels, side * 4, side, side};
  return command;
}

TRasterCommand Clip(int x0, int y0, int x1, int y1) {
  TRasterCommand command{};
  command.op = TRasterOp::Clip;
  command.rect[0] = x0, command.rect[1] = y0, command.rect[2] = x1, command.rect[3] = y1;
  return command;
}

TRasterCommand Point(int x, int y, uint8_t red) {
  TRasterCommand command{};
  command.op = TRasterOp::Point;
  command.blend = TRasterBlend::Solid;
  command.rgba[0] = red, command.rgba[3] = 255;
  command.xy[0] = x + 0.5f, command.xy[1] = y + 0.5f;
  return command;
}

TEST(RasterPool, AStretchLongerThanARunIsDrawnInOrder) {
  uint8_t pixels[4 * 4 * 4] = {};
  TRasterPool pool;
  pool.SetThreads(4);
  pool.Push(Target(pixels, 4));
  // Three runs' worth on one pixel: the last point must win.
  const uint32_t count = TRasterPool::kRunSlots * 3 + 5;
  for (uint32_t i = 0; i < count; ++i) pool.Push(Point(1, 2, static_cast<uint8_t>(i % 251)));
  pool.Drain();
  EXPECT_TRUE(pool.Done());
  EXPECT_EQ(pixels[(2 * 4 + 1) * 4], (count - 1) % 251);
}

TEST(RasterPool, ADrainLetsTheBuffersOfFinishedRunsGo) {
  // Note: what follows a drain (grabbing and saving a sheet) needs the memory more than
  // the next runs need ready buffers.
  uint8_t pixels[8 * 8 * 4] = {};
  TRasterPool pool;
  pool.SetThreads(3);
  pool.Push(Target(pixels, 8));
  for (int cell = 0; cell < 16; ++cell) {
    const int x = cell % 4 * 2, y = cell / 4 * 2;
    pool.Push(Clip(x, y, x + 2, y + 2));
    pool.Push(Point(x, y, static_cast<uint8_t>(10 + cell)));
  }
  pool.Drain();
  EXPECT_EQ(pool.Buffers(), 0);
  // Drawing goes on in new buffers.
  pool.Push(Clip(0, 0, 8, 8));
  pool.Push(Point(7, 7, 99));
  pool.Drain();
  EXPECT_EQ(pixels[(7 * 8 + 7) * 4], 99);
  EXPECT_EQ(pixels[(6 * 8 + 6) * 4], 25);
}

TRasterCommand WideLine(float x0, float y0, float x1, float y1, uint8_t red) {
  TRasterCommand command = Point(0, 0, red);
  command.op = TRasterOp::Line;
  command.width = 8;
  command.xy[0] = x0, command.xy[1] = y0, command.xy[2] = x1, command.xy[3] = y1;
  return command;
}

TEST(RasterPool, TheRecorderWaitsOnceEveryThreadHasARunAndOneMoreWaits) {
  // Cells far slower to draw than to record: without the wait, their buffers would pile
  // up for the whole sheet.
  constexpr int kSheet = 256, kCell = 32;
  std::vector<uint8_t> pixels(kSheet * kSheet * 4);
  TRasterPool pool;
  pool.SetThreads(2);
  pool.Push(Target(pixels.data(), kSheet));
  int most = 0;
  for (int cell = 0; cell < (kSheet / kCell) * (kSheet / kCell); ++cell) {
    const int x = cell % (kSheet / kCell) * kCell, y = cell / (kSheet / kCell) * kCell;
    pool.Push(Clip(x, y, x + kCell, y + kCell));
    for (int i = 0; i < 1500; ++i) {
      pool.Push(WideLine(x + i % kCell + 0.5f, y + 0.5f, x + kCell - i % kCell - 0.5f,
                         y + kCell - 0.5f, static_cast<uint8_t>(i)));
    }
    pool.Push(Point(x, y, static_cast<uint8_t>(cell)));
    most = std::max(most, pool.Buffers());
  }
  pool.Drain();
  EXPECT_LE(most, pool.Threads() + TRasterPool::kRunsAhead + 1);
  EXPECT_EQ(pool.Buffers(), 0);  // a drain frees them all
  for (int cell = 0; cell < (kSheet / kCell) * (kSheet / kCell); ++cell) {
    const int x = cell % (kSheet / kCell) * kCell, y = cell / (kSheet / kCell) * kCell;
    ASSERT_EQ(pixels[(static_cast<size_t>(y) * kSheet + x) * 4], cell) << "cell " << cell;
  }
}

TEST(RasterPool, DropDiscardsWhatHasNotStartedButKeepsItsTargetAndClip) {
  uint8_t pixels[8 * 8 * 4] = {};
  TRasterPool pool;
  pool.SetThreads(3);
  pool.Push(Target(pixels, 8));
  pool.Push(Clip(2, 2, 4, 4));
  pool.Push(Point(2, 2, 200));
  pool.Drop();
  for (uint8_t byte : pixels) ASSERT_EQ(byte, 0);
  // Clipped as recorded before the drop: (5, 5) is outside.
  pool.Push(Point(3, 3, 90));
  pool.Push(Point(5, 5, 90));
  pool.Drain();
  EXPECT_EQ(pixels[(3 * 8 + 3) * 4], 90);
  EXPECT_EQ(pixels[(5 * 8 + 5) * 4], 0);
  // A stopped pool starts its threads again for new work.
  pool.Stop();
  pool.Push(Point(2, 3, 33));
  pool.Drain();
  EXPECT_EQ(pixels[(3 * 8 + 2) * 4], 33);
}

}  // namespace
