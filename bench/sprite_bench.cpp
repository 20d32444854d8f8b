// Sprite generator cost without a renderer: one DrawSprite against a 2D driver that does
// nothing, so the figure is the generator's own arithmetic, the 2D front end's per-line work
// and the Escape query after every segment. The facet-boundary pauses are skipped here; the
// sheet benchmark accounts for them.
#include <benchmark/benchmark.h>

#include <vector>

#include "app/sprite.h"
#include "draw2d/draw2d.h"
#include "graphics/graphics.h"
#include "graphics/input.h"
#include "random/random.h"

namespace {

// A platform context that is only a size.
class TNullGraphics : public TGraphics {
 public:
  TNullGraphics(TGraphicsDriver* driver, int width, int height)
      : driver_(driver), width_(width), height_(height) {}
  TGraphicsDriver* Driver() override { return driver_; }
  int GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) override {
    width = width_;
    height = height_;
    depth = hertz = flags = 0;
    return 0;
  }
  int Close() override { return 0; }

 private:
  TGraphicsDriver* driver_;
  int width_, height_;
};

// A 2D driver whose every operation does nothing.
class TNullDriver : public TVex2DDriver {
 public:
  std::vector<TGraphicsMode> GraphicsModes() override { return {}; }
  Ref<TGraphics> AttachGraphics(int, int) override { return nullptr; }
  Ref<TGraphics> CreateGraphics(int width, int height, int, int, int) override {
    return TVex2DGraphics::Create(std::make_shared<TNullGraphics>(this, width, height), this);
  }
  int SetGraphics(const Ref<TGraphics>& g) override {
    if (g) static_cast<TVex2DGraphics&>(*g).MakeCurrent();
    else TVex2DGraphics::ClearCurrent();
    return 0;
  }
  int Flip(int) override { return 0; }
  Ref<TImageFrame> CreateFrameFromPixmap(const Ref<TPixmap>&, int) override { return nullptr; }
  void SetBlend(int) override {}
  void SetAlpha(float) override {}
  void SetColor(int, int, int) override {}
  void SetClsColor(int, int, int) override {}
  void SetViewport(int, int, int, int) override {}
  void SetTransform(float, float, float, float) override {}
  void SetLineWidth(float) override {}
  void Cls() override {}
  void Plot(float, float) override {}
  void DrawLine(float, float, float, float, float, float) override {}
  void DrawRect(float, float, float, float, float, float) override {}
  void DrawOval(float, float, float, float, float, float) override {}
  void DrawPoly(const std::vector<float>&, float, float, float, float) override {}
  void DrawPixmap(const Ref<TPixmap>&, int, int) override {}
  Ref<TPixmap> GrabPixmap(int, int, int, int) override { return nullptr; }
  void SetResolution(float, float) override {}
};

void NoPause(int) {}

void BM_DrawSprite(benchmark::State& state) {
  StartRandom();
  StartGraphics();
  StartDraw2D();
  static TNullDriver driver;
  SelectGraphicsDriver(&driver, 2);
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
