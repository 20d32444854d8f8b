// 2D drawing throughput: one sprite's worth of faint lines through the OpenGL 2D driver
// off-screen (Mesa's software renderer when there is no display), through the software 2D
// driver (recording on this thread, rasterising on its own), through the rasteriser alone,
// the same calls through a driver that draws nothing (the front end's own cost), and the
// closing message as text.
#include <benchmark/benchmark.h>

#include <cstdlib>  // for unsetenv
#include <vector>

#include "bench/null_driver.h"
#include "draw2d/draw2d.h"
#include "draw2d/gl/glvex2d.h"
#include "draw2d/soft/raster.h"
#include "draw2d/soft/softvex2d.h"
#include "graphics/graphics.h"

namespace {

constexpr int kLinesPerSprite = 115000;
constexpr float kFaintAlpha = 0.0075f;  // the sprite generator's line alpha
constexpr int kCell = 64;

struct Line {
  float x0, y0, x1, y1;
};

// Random-ish short segments inside one cell, from a fixed Lehmer sequence.
const std::vector<Line>& SpriteLines() {
  static std::vector<Line> lines = [] {
    std::vector<Line> made;
    made.reserve(kLinesPerSprite);
    uint32_t state = 4660;
    auto next = [&state] {
      state = static_cast<uint32_t>((uint64_t{state} * 48271) % 2147483647);
      return static_cast<float>(state % (kCell * 16)) / 16.0f;
    };
    for (int i = 0; i < kLinesPerSprite; ++i) {
      float x0 = next(), y0 = next();
      made.push_back(Line{x0, y0, (x0 + next()) / 2, (y0 + next()) / 2});
    }
    return made;
  }();
  return lines;
}

void DrawSpriteLines() {
  const std::vector<Line>& lines = SpriteLines();
  for (int i = 0; i < kLinesPerSprite; ++i) {
    if (i % 1000 == 0) SetLineWidth(static_cast<float>(1 + (i / 1000) % 4));
    const Line& l = lines[i];
    DrawLine(l.x0, l.y0, l.x1, l.y1, 1);
  }
}

void OpenSpriteCell(TGraphicsDriver* driver) {
  unsetenv("DISPLAY");
  StartGLVex2D();
  StartSoftVex2D();
  SelectGraphicsDriver(driver, GRAPHICS_BACKBUFFER);
  OpenGraphics(kCell * 4, kCell * 4, 0, 0, 0);
  SetViewport(kCell, kCell, kCell, kCell);
  SetOrigin(kCell, kCell);
  SetBlend(BLEND_ALPHA);
  SetAlpha(kFaintAlpha);
  SetColor(200, 120, 60);
}

void BM_SpriteLinesThroughGL(benchmark::State& state) {
  OpenSpriteCell(GLVex2DDriver());
  for (auto _ : state) {
    DrawSpriteLines();
    // Reading a pixel back waits until the GL has drawn everything.
    benchmark::DoNotOptimize(GrabPixmap(kCell, kCell, 1, 1));
  }
  state.SetItemsProcessed(state.iterations() * kLinesPerSprite);
}
// Wall-clock time: the software renderer rasterises on worker threads of its own.
BENCHMARK(BM_SpriteLinesThroughGL)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SpriteLinesThroughSoftware(benchmark::State& state) {
  OpenSpriteCell(SoftVex2DDriver());
  for (auto _ : state) {
    DrawSpriteLines();
    // Reading a pixel back waits until the raster thread has drawn everything.
    benchmark::DoNotOptimize(GrabPixmap(kCell, kCell, 1, 1));
  }
  state.SetItemsProcessed(state.iterations() * kLinesPerSprite);
}
BENCHMARK(BM_SpriteLinesThroughSoftware)->Unit(benchmark::kMillisecond)->UseRealTime();

// The rasteriser alone on the same lines (with their closing pixels), on this thread.
void BM_SpriteLinesRasteriserOnly(benchmark::State& state) {
  std::vector<uint8_t> pixels(kCell * 4 * kCell * 4 * 4);
  const TRasterSurface surface{pixels.data(), kCell * 4 * 4, kCell * 4, kCell * 4};
  const TRasterClip clip = ClipToSurface(surface, kCell, kCell, kCell, kCell);
  TRasterPaint paint;
  paint.rgba[0] = 200, paint.rgba[1] = 120, paint.rgba[2] = 60, paint.rgba[3] = 1;
  paint.blend = TRasterBlend::Alpha;
  const std::vector<Line>& lines = SpriteLines();
  constexpr float kCentre = kCell + 0.5f;  // the cell's origin and the pixel-centre offset
  for (auto _ : state) {
    for (int i = 0; i < kLinesPerSprite; ++i) {
      const Line& l = lines[i];
      const int width = 1 + (i / 1000) % 4;
      RasterLine(surface, clip, paint, l.x0 + kCentre, l.y0 + kCentre, l.x1 + kCentre,
                 l.y1 + kCentre, width);
      RasterPoint(surface, clip, paint, l.x1 + kCentre, l.y1 + kCentre);
    }
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetItemsProcessed(state.iterations() * kLinesPerSprite);
}
BENCHMARK(BM_SpriteLinesRasteriserOnly)->Unit(benchmark::kMillisecond);

void BM_SpriteLinesFrontEndOnly(benchmark::State& state) {
  static TNullDriver null_driver;
  OpenSpriteCell(&null_driver);
  for (auto _ : state) DrawSpriteLines();
  state.SetItemsProcessed(state.iterations() * kLinesPerSprite);
}
BENCHMARK(BM_SpriteLinesFrontEndOnly)->Unit(benchmark::kMillisecond);

void BM_ClosingMessageThroughGL(benchmark::State& state) {
  OpenSpriteCell(GLVex2DDriver());
  SetViewport(0, 0, kCell * 4, kCell * 4);
  SetOrigin(0, 0);
  SetAlpha(1);
  for (auto _ : state) {
    DrawText(u"Finished : Press any key to Quit", 0, 100);
    benchmark::DoNotOptimize(GrabPixmap(0, 100, 1, 1));
  }
  state.SetItemsProcessed(state.iterations() * 32);
}
BENCHMARK(BM_ClosingMessageThroughGL)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
