// Sprite generator cost without a renderer: one DrawSprite against a 2D driver that does
// nothing, so the figure is the generator's own arithmetic, the 2D front end's per-line work
// and the Escape query after every segment. The facet-boundary pauses are skipped here; the
// sheet benchmark accounts for them.
#include <benchmark/benchmark.h>

#include "app/sprite.h"
#include "bench/null_driver.h"
#include "draw2d/draw2d.h"
#include "graphics/graphics.h"
#include "graphics/input.h"
#include "random/random.h"

namespace {

void NoPause(int) {}

void BM_DrawSprite(benchmark::State& state) {
  StartRandom();
  StartGraphics();
  StartDraw2D();
  static TNullDriver driver;
  SelectGraphicsDriver(&driver, GRAPHICS_BACKBUFFER);
  OpenGraphics(64, 64, 0, 0, 0);
  sprite_boundary_sleep = NoPause;
  cell_width = cell_height = 64;
  SeedRandom(4660);
  int64_t lines = 0;
  for (auto _ : state) {
    ResetDrawState();
    SpriteShape shape;
    DrawSprite(shape);
    lines += 2 * 3601 * (shape.ring_count - 1) * 4;
  }
  state.counters["lines/s"] = benchmark::Counter(double(lines), benchmark::Counter::kIsRate);
  state.counters["lines/sprite"] = double(lines) / double(state.iterations());
}
BENCHMARK(BM_DrawSprite)->Unit(benchmark::kMillisecond);

// The Escape query alone, as DrawSprite makes it after every segment.
void BM_EscapeQuery(benchmark::State& state) {
  StartGraphics();
  for (auto _ : state) benchmark::DoNotOptimize(KeyHitCount(27));
}
BENCHMARK(BM_EscapeQuery);

}  // namespace

BENCHMARK_MAIN();
