// Sprite generator cost without a renderer: one DrawSprite against a 2D driver that does
// nothing, so the figure is the generator's own arithmetic, the 2D front end's per-line work
// and the Escape query after every segment. The facet-boundary pauses are skipped here; the
// sheet benchmark accounts for them.
#include <benchmark/benchmark.h>

#include "app/sprite.h"
#include <cstring>
#include <vector>

#include "bench/null_driver.h"
#include "draw2d/draw2d.h"
#include "draw2d/soft/raster.h"
#include "graphics/graphics.h"
#include "graphics/input.h"
#include "random/random.h"

namespace {

void NoPause(int) {}

// Argument 1: off-screen, as the program draws without a display: the lines nobody sees
// (the whole first pass, and straight lines drawn again later) are left out; the random
// draws still happen.
void BM_DrawSprite(benchmark::State& state) {
  const bool off_screen = state.range(0) != 0;
  StartRandom();
  StartGraphics();
  StartDraw2D();
  static TNullDriver driver;
  SelectGraphicsDriver(&driver, GRAPHICS_BACKBUFFER);
  OpenGraphics(64, 64, 0, 0, 0);
  sprite_boundary_sleep = NoPause;
  cell_width = cell_height = 64;
  SeedRandom(4660);
  sprite_hidden_lines_skipped = off_screen;
  int64_t lines = 0;
  for (auto _ : state) {
    ResetDrawState();
    SpriteShape shape;
    DrawSprite(shape);
    lines += shape.lines_drawn;
  }
  sprite_hidden_lines_skipped = false;
  state.counters["lines/s"] = benchmark::Counter(double(lines), benchmark::Counter::kIsRate);
  state.counters["lines/sprite"] = double(lines) / double(state.iterations());
}
BENCHMARK(BM_DrawSprite)->Unit(benchmark::kMillisecond)->ArgName("off_screen")->Arg(0)->Arg(1);


// What the generator asks a driver to draw, kept for the rasteriser: each line with its
// closing pixel, paint and width. Positions become window pixels as the software driver
// makes them with no transform (the cell's origin plus the pixel-centre half).
struct TRecordedLine {
  float ends[4];
  int width;
  TRasterPaint paint;
};

class TRecordingDriver : public TNullDriver {
 public:
  std::vector<TRecordedLine> lines;
  void SetBlend(int blend) override {
    paint_.blend = blend == BLEND_ALPHA ? TRasterBlend::Alpha : TRasterBlend::Solid;  // all sprites use
  }
  void SetAlpha(float alpha) override { paint_.rgba[3] = static_cast<uint8_t>(alpha * 255); }
  void SetColor(int r, int g, int b) override {
    paint_.rgba[0] = static_cast<uint8_t>(r);
    paint_.rgba[1] = static_cast<uint8_t>(g);
    paint_.rgba[2] = static_cast<uint8_t>(b);
  }
  void SetLineWidth(float width) override { width_ = static_cast<int>(width + 0.5f); }
  void DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) override {
    lines.push_back({{x0 + tx + 0.5f, y0 + ty + 0.5f, x1 + tx + 0.5f, y1 + ty + 0.5f},
                     width_,
                     paint_});
  }
  void DrawLineAndPlot(float x0, float y0, float x1, float y1, float tx, float ty, float,
                       float) override {
    DrawLine(x0, y0, x1, y1, tx, ty);  // the closing pixel goes with each line anyway
  }

 private:
  TRasterPaint paint_;
  int width_ = 1;
};

// The lines of eight sprites as drawn without a display (the hidden lines left out).
const std::vector<TRecordedLine>& SpriteSheetLines() {
  static const std::vector<TRecordedLine> lines = [] {
    StartRandom();
    StartGraphics();
    StartDraw2D();
    static TRecordingDriver driver;
    SelectGraphicsDriver(&driver, GRAPHICS_BACKBUFFER);
    OpenGraphics(64, 64, 0, 0, 0);
    sprite_boundary_sleep = NoPause;
    sprite_hidden_lines_skipped = true;
    cell_width = cell_height = 64;
    SeedRandom(20261208);
    for (int sprite = 0; sprite < 8; ++sprite) {
      ResetDrawState();
      SpriteShape shape;
      DrawSprite(shape);
    }
    sprite_hidden_lines_skipped = false;
    return driver.lines;
  }();
  return lines;
}

// The rasteriser alone on those lines, each with its closing pixel, in a cell of a
// 512 x 512 sheet: what a raster thread spends on eight cells.
void BM_SpriteLinesRasterised(benchmark::State& state) {
  const std::vector<TRecordedLine>& lines = SpriteSheetLines();
  std::vector<uint8_t> pixels(512 * 512 * 4);
  const TRasterSurface surface{pixels.data(), 512 * 4, 512, 512};
  const TRasterClip clip = ClipToSurface(surface, 0, 0, 64, 64);
  for (auto _ : state) {
    for (const TRecordedLine& line : lines) {
      RasterLine(surface, clip, line.paint, line.ends[0], line.ends[1], line.ends[2],
                 line.ends[3], line.width);
      RasterPoint(surface, clip, line.paint, line.ends[2], line.ends[3]);
    }
    benchmark::DoNotOptimize(pixels.data());
  }
  state.counters["lines/s"] =
      benchmark::Counter(double(lines.size()) * double(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SpriteLinesRasterised)->Unit(benchmark::kMillisecond);

// The Escape query alone, as DrawSprite makes it after every segment.
void BM_EscapeQuery(benchmark::State& state) {
  StartGraphics();
  for (auto _ : state) benchmark::DoNotOptimize(KeyHitCount(27));
}
BENCHMARK(BM_EscapeQuery);

}  // namespace

BENCHMARK_MAIN();
