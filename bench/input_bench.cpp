// Cost of one KeyHitCount with an open graphics window and an empty event queue (the
// sheet builder asks it about two million times per sheet), and of one Flip(0). Runs on
// the display in DISPLAY (Xvfb is fine) or off-screen when there is none.
#include <benchmark/benchmark.h>

#include "graphics/glgraphics.h"
#include "graphics/input.h"
#include "graphics/system.h"

namespace {

bool OpenWindow() {
  static bool opened = false;
  if (!opened) {
    StartGLGraphics();
    opened = OpenGLGraphics(256, 256, 0, 60, 0) != nullptr;
  }
  return opened;
}

void BM_KeyHitCount(benchmark::State& state) {
  if (!OpenWindow()) {
    state.SkipWithError("no graphics window");
    return;
  }
  int hits = 0;
  for (auto _ : state) {
    hits += KeyHitCount(27);
    benchmark::DoNotOptimize(hits);
  }
  state.counters["visible"] = CurrentGraphicsVisible();
}
BENCHMARK(BM_KeyHitCount);

// The same query with every poll pumping the native queue, for comparison: what the
// once-per-millisecond pump saves.
void BM_KeyHitCountPumpingEveryTime(benchmark::State& state) {
  if (!OpenWindow()) {
    state.SkipWithError("no graphics window");
    return;
  }
  int hits = 0;
  for (auto _ : state) {
    // A one-millisecond sleep between queries would make every poll pump; instead wait
    // for the clock to tick outside the timed region.
    state.PauseTiming();
    int start = MillisecondClock();
    while (MillisecondClock() == start) {
    }
    state.ResumeTiming();
    hits += KeyHitCount(27);
    benchmark::DoNotOptimize(hits);
  }
}
BENCHMARK(BM_KeyHitCountPumpingEveryTime)->Iterations(2000);

// One unpaced presentation of a sheet-sized window: the copy of the drawing buffer to the
// window and the swap, as the sprite routine's Flip(0) pays it.
void BM_FlipSheet(benchmark::State& state) {
  StartGLGraphics();
  int size = static_cast<int>(state.range(0));
  if (!OpenGLGraphics(size, size, 0, 0, 0)) {
    state.SkipWithError("no graphics window");
    return;
  }
  for (auto _ : state) Flip(0);
  state.counters["visible"] = CurrentGraphicsVisible();
  CloseOpenedGraphics();
}
BENCHMARK(BM_FlipSheet)->Arg(512)->Arg(1024)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
