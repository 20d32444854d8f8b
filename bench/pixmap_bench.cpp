// Pixmap benchmarks: the two costly steps of writing a finished sheet, saving a large RGBA
// pixmap as PNG at the application's level 5, and halving a pixmap by resampling.
#include <benchmark/benchmark.h>
#include <unistd.h>  // for getpid

#include <cstdint>
#include <filesystem>
#include <string>

#include "pixmap/pixmap.h"
#include "pixmap/png/png.h"
#include "runtime/text.h"

namespace {

// A sheet-like picture: flat key-colour background with bands of shaded colour, so that
// the compressor sees both long runs and varied pixels.
Ref<TPixmap> SheetLike(int width, int height) {
  Ref<TPixmap> p = PixmapCreate(width, height, PIXFMT_RGBA32);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = p->PixelPtr(0, y);
    for (int x = 0; x < width; ++x, row += 4) {
      bool inside = ((x / 64) + (y / 64)) % 2 == 0;
      row[0] = inside ? static_cast<uint8_t>(x * 7 + y) : 255;
      row[1] = inside ? static_cast<uint8_t>(y * 3 ^ x) : 0;
      row[2] = inside ? static_cast<uint8_t>((x * y) >> 4) : 255;
      row[3] = inside ? 255 : 0;
    }
  }
  return p;
}

void BM_SavePNG2048Level5(benchmark::State& state) {
  StartPNG();
  Ref<TPixmap> sheet = SheetLike(2048, 2048);
  std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("pixmap_bench_" + std::to_string(getpid()) + ".png");
  String target = TextFromUtf8(file.string());
  for (auto _ : state) {
    if (PixmapSavePNG(sheet, target, 5) != 1) state.SkipWithError("save failed");
  }
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(file));
  state.SetBytesProcessed(state.iterations() * 2048LL * 2048 * 4);
  std::filesystem::remove(file);
}
BENCHMARK(BM_SavePNG2048Level5)->Unit(benchmark::kMillisecond);

void BM_ResizeHalf512(benchmark::State& state) {
  StartPixmap();
  Ref<TPixmap> source = SheetLike(512, 512);
  for (auto _ : state) {
    Ref<TPixmap> half = PixmapResize(source, 256, 256);
    benchmark::DoNotOptimize(half->pixels);
  }
  state.SetItemsProcessed(state.iterations() * 256 * 256);
}
BENCHMARK(BM_ResizeHalf512)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
