// Sheet benchmark: draws the default sheet (512 x 512, 64 cells of 64) off-screen through
// the real GL driver, as the program does, and prints its wall time beside the floor that
// the program's own rules impose: 2 ms of sleep at every facet boundary, and each cell's
// presentation paced to 60 Hz (a cell never takes less than a frame).
// The time is split into drawing, presenting, polling and output. Pauses and cell
// presentations are timed where they happen; the progress presentations and Escape queries
// inside DrawSprite cannot be timed without touching its per-line path, so they are counted
// and charged at their cost measured afterwards in a loop (GL work still queued at a
// presentation is then charged to drawing).
// Usage: sheet_bench [seed]   (prints figures; writes its files to a scratch folder)
#include <stdlib.h>  // for mkdtemp, setenv
#include <unistd.h>  // for chdir

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/output.h"
#include "app/settings.h"
#include "app/sheetbuilder.h"
#include "app/sprite.h"
#include "app/startup.h"
#include "draw2d/draw2d.h"
#include "graphics/graphics.h"
#include "graphics/hook.h"
#include "graphics/input.h"
#include "graphics/system.h"
#include "random/random.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double pause_ms = 0;
int pauses = 0;
int flips = 0;

void TimedPause(int ms) {
  const auto start = Clock::now();
  SleepMillis(ms);
  pause_ms += Since(start);
  ++pauses;
}

Ref<Object> CountFlip(int, Ref<Object> data, Ref<Object>) {
  ++flips;
  return data;
}

}  // namespace

int main(int argc, char** argv) {
  const int seed = argc > 1 ? std::atoi(argv[1]) : 1;
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  std::string folder = (std::filesystem::temp_directory_path() / "sheetbenchXXXXXX").string();
  if (!mkdtemp(folder.data()) || chdir(folder.c_str()) != 0) return 1;
  std::ofstream("settings.ini") << "Seed=" << seed << "\n";

  StartSheetBuilder(argc, argv);
  ReadSheetSettings();
  cells_across = sheet_width / sprite_width;
  cells_down = sheet_height / sprite_height;
  if (!OpenGraphics(sheet_width, sheet_height, 0, 60, 0)) return 1;
  SeedRandom(*random_seed);
  for (int i = 0; i < 101; ++i) RandomReal(0, 10);
  sprite_boundary_sleep = TimedPause;
  InsertHook(FlipHookId, CountFlip, nullptr, 0);

  // The cell loop of the program, with clocks around its parts.
  double sprite_ms = 0, cell_present_ms = 0, floor_ms = 0;
  long long queries = 0;
  const auto sheet_start = Clock::now();
  Cls();
  for (cell_row = 0; cell_row < cells_down; ++cell_row) {
    for (cell_col = 0; cell_col < cells_across; ++cell_col) {
      const int left = cell_col * sprite_width, top = cell_row * sprite_height;
      ResetDrawState();
      SetViewport(left, top, sprite_width, sprite_height);
      SetOrigin(left, top);
      cell_width = sprite_width;
      cell_height = sprite_height;
      SetColor(255, 0, 255);
      DrawRect(0, 0, cell_width, cell_height);
      ResetDrawState();
      const int pauses_before = pauses;
      SpriteShape shape;
      const auto sprite_start = Clock::now();
      DrawSprite(shape);
      sprite_ms += Since(sprite_start);
      queries += 2LL * 3601 * (shape.ring_count - 1);
      SetViewport(0, 0, sheet_width, sheet_height);
      SetOrigin(0, 0);
      const auto present_start = Clock::now();
      Flip(-1);
      cell_present_ms += Since(present_start);
      floor_ms += std::max(2.0 * (pauses - pauses_before), 1000.0 / 60);
    }
  }
  const int progress_flips = flips - cells_across * cells_down;
  const double sheet_ms = Since(sheet_start);

  const auto output_start = Clock::now();
  WriteSheetOutput();
  const double output_ms = Since(output_start);
  const double total_ms = sheet_ms + output_ms;

  // Unit costs of what DrawSprite does between its lines.
  const int flip_samples = 200;
  auto start = Clock::now();
  for (int i = 0; i < flip_samples; ++i) Flip(0);
  const double flip_unit_ms = Since(start) / flip_samples;
  const int query_samples = 200000;
  start = Clock::now();
  for (int i = 0; i < query_samples; ++i) KeyHitCount(27);
  const double query_unit_ms = Since(start) / query_samples;

  const double progress_ms = progress_flips * flip_unit_ms;
  const double polling_ms = queries * query_unit_ms;
  const double drawing_ms = sprite_ms - pause_ms - progress_ms - polling_ms;

  std::printf("default sheet %d x %d, %d cells of %d x %d, seed %d\n", sheet_width,
              sheet_height, cells_across * cells_down, sprite_width, sprite_height, seed);
  std::printf("wall time              %9.1f ms\n", total_ms);
  std::printf("floor of the rules     %9.1f ms  (%d boundary pauses of 2 ms; 60 Hz per cell)\n",
              floor_ms, pauses);
  std::printf("  drawing              %9.1f ms  (lines through the GL driver)\n", drawing_ms);
  std::printf("  boundary pauses      %9.1f ms  (%d, measured)\n", pause_ms, pauses);
  std::printf("  presenting, progress %9.1f ms  (%d x %.3f ms)\n", progress_ms, progress_flips,
              flip_unit_ms);
  std::printf("  presenting, cells    %9.1f ms  (%d, measured, pacing included)\n",
              cell_present_ms, cells_across * cells_down);
  std::printf("  polling              %9.1f ms  (%lld Escape queries x %.2f us)\n", polling_ms,
              queries, query_unit_ms * 1000);
  std::printf("  output               %9.1f ms  (grab, key-out, PNG)\n", output_ms);
  std::error_code ignored;
  std::filesystem::current_path("/", ignored);
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
