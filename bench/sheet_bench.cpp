// Sheet benchmark: draws the default sheet (512 x 512, 64 cells of 64) as the program does,
// with either renderer, in a window or without a display, and prints its wall time beside
// the floor that the program's own rules impose on a watched sheet: 2 ms of sleep at every
// facet boundary, and each cell's presentation paced to 60 Hz (a cell never takes less than
// a frame). Without a display the program skips both, and the lines of each sprite that
// later ones paint over (its whole first pass among them), so there the floor is only a
// yardstick.
// The time is split into drawing, presenting, polling and output. Pauses and cell
// presentations are timed where they happen; the progress presentations and Escape queries
// inside DrawSprite cannot be timed without touching its per-line path, so they are counted
// and charged at their cost measured afterwards in a loop. The software renderer's raster
// thread works beside the main thread; its CPU time is read from the system at the end.
// Then, with the software renderer and unless "quick" is given, the drawing threads: the
// default sheet and a 2048 x 2048 sheet of 64-pixel sprites drawn off-screen with 1, 2 and
// all threads (and, for comparison, with one thread and every line, as every sheet was
// drawn before the hidden lines were left out), whole time and lines drawn per second; and
// PNG encoding's share of a 4096 x 4096 sheet. The table also gives each run's CPU while
// drawing, the main thread's and the raster threads', and on two cores the least time
// that CPU allows two raster threads.
// Usage: sheet_bench [seed] [software|opengl] [window|none] [quick]
//   window: on the display named by DISPLAY (run it under Xvfb on a machine without one);
//   none (the default): with DISPLAY unset, as a batch run is.
// Writes its files to a scratch folder and prints figures.
#include <dirent.h>  // for reading the threads' CPU times
#include <stdlib.h>  // for mkdtemp, setenv
#include <time.h>    // for clock_gettime
#include <unistd.h>  // for chdir, sysconf

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>  // for hardware_concurrency

#include "app/output.h"
#include "app/settings.h"
#include "app/sheetbuilder.h"
#include "app/sprite.h"
#include "app/startup.h"
#include "draw2d/draw2d.h"
#include "draw2d/soft/softvex2d.h"
#include "graphics/graphics.h"
#include "graphics/hook.h"
#include "graphics/input.h"
#include "graphics/system.h"
#include "pixmap/png/png.h"
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
  SpritePause(ms);
  pause_ms += Since(start);
  ++pauses;
}

void CountedPause(int) { ++pauses; }

Ref<Object> CountFlip(int, Ref<Object> data, Ref<Object>) {
  ++flips;
  return data;
}

// CPU milliseconds of every thread of the process but the main one.
double OtherThreadsCpuMs() {
  const double tick_ms = 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
  double total = 0;
  const std::string main_id = std::to_string(getpid());
  DIR* tasks = opendir("/proc/self/task");
  if (!tasks) return 0;
  while (dirent* entry = readdir(tasks)) {
    const std::string id = entry->d_name;
    if (id == "." || id == ".." || id == main_id) continue;
    std::ifstream stat("/proc/self/task/" + id + "/stat");
    std::string line;
    std::getline(stat, line);
    // Fields after the command name (which is in parentheses): utime and stime are the 12th
    // and 13th of them.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    double user = 0, system = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i) {
      if (i == 12) user = std::stod(field);
      if (i == 13) system = std::stod(field);
    }
    total += (user + system) * tick_ms;
  }
  closedir(tasks);
  return total;
}

// One off-screen sheet drawn by the program's cell loop and written, with the clocks the
// threads table needs.
struct TSheetRun {
  double draw_ms = 0;    // the cell loop, until every cell is drawn
  double output_ms = 0;  // grab, key-out and PNG
  double lines = 0;      // lines drawn (those left out off-screen are not counted)
  // CPU while drawing: the main thread's (sprites, the 2D front end, recording) and the
  // raster threads'.
  double main_cpu_ms = 0;
  double raster_cpu_ms = 0;
};

double MainThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

TSheetRun OffScreenSheet(int side, int sprite, int seed, int threads, bool every_line) {
  TSheetRun run;
  SetSoftVex2DThreads(threads);
  SetPngThreads(threads);  // as the program sets both from Threads
  Ref<TGraphics> context = OpenGraphics(side, side, 0, 60, 0);
  if (!context || CurrentGraphicsVisible()) return run;
  sheet_width = sheet_height = side;
  sprite_width = sprite_height = sprite;
  cells_across = cells_down = side / sprite;
  hue_counter = 0;
  SeedRandom(seed);
  for (int i = 0; i < 101; ++i) RandomReal(0, 10);
  sprite_boundary_sleep = CountedPause;
  sprite_hidden_lines_skipped = !every_line;
  const auto start = Clock::now();
  // Note: no thread ends while the sheet is drawn, so the difference of the sums is the
  // drawing's.
  const double main_cpu_start = MainThreadCpuMs();
  const double raster_cpu_start = OtherThreadsCpuMs();
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
      SpriteShape shape;
      DrawSprite(shape);
      run.lines += shape.lines_drawn;
      SetViewport(0, 0, sheet_width, sheet_height);
      SetOrigin(0, 0);
      Flip(0);
    }
  }
  GrabPixmap(0, 0, 1, 1);  // waits for the drawing threads
  run.draw_ms = Since(start);
  run.main_cpu_ms = MainThreadCpuMs() - main_cpu_start;
  run.raster_cpu_ms = OtherThreadsCpuMs() - raster_cpu_start;
  const auto output_start = Clock::now();
  WriteSheetOutput();
  run.output_ms = Since(output_start);
  sprite_hidden_lines_skipped = false;
  CloseOpenedGraphics();
  return run;
}

void PrintThreadsTable(int seed) {
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  std::printf("\ndrawing threads, off-screen, software renderer (%d cores here)\n", cores);
  std::printf("%-26s %-22s %10s %10s %12s %8s %10s %10s\n", "sheet", "threads", "whole ms",
              "draw ms", "Mlines/s", "x 1", "main CPU", "raster CPU");
  const struct {
    const char* name;
    int side, sprite;
  } sheets[] = {{"512 x 512, 64-px cells", 512, 64}, {"2048 x 2048, 64-px cells", 2048, 64}};
  for (const auto& sheet : sheets) {
    double one_ms = 0;
    TSheetRun two;
    const struct {
      const char* name;
      int threads;
      bool every_line;
    } rows[] = {{"1, every line (before)", 1, true},
                {"1", 1, false},
                {"2", 2, false},
                {"all (0)", 0, false}};
    for (const auto& row : rows) {
      const TSheetRun run =
          OffScreenSheet(sheet.side, sheet.sprite, seed, row.threads, row.every_line);
      const double whole = run.draw_ms + run.output_ms;
      if (row.threads == 1 && !row.every_line) one_ms = whole;
      if (row.threads == 2) two = run;
      std::printf("%-26s %-22s %10.1f %10.1f %12.1f %8s %10.1f %10.1f\n", sheet.name, row.name,
                  whole, run.draw_ms, run.lines / run.draw_ms / 1000.0,
                  one_ms > 0 && row.threads != 1
                      ? (std::to_string(whole / one_ms).substr(0, 4) + "x").c_str()
                      : "",
                  run.main_cpu_ms, run.raster_cpu_ms);
    }
    // With one raster thread the main thread's work runs beside it and the raster thread
    // sets the pace. With two on two cores, both raster threads and the main thread share
    // the cores: the drawing takes at least half of all their CPU, however well it is spread.
    if (cores == 2 && one_ms > 0) {
      const double bound = (two.main_cpu_ms + two.raster_cpu_ms) / 2 + two.output_ms;
      std::printf("%-26s 2 threads on 2 cores take at least (main + raster CPU) / 2 + output"
                  " = %.1f ms, %.2f x the one-thread time\n",
                  "", bound, bound / one_ms);
    }
  }
  const TSheetRun big = OffScreenSheet(4096, 256, seed, 0, false);
  std::printf("4096 x 4096, 256-px cells, all threads: drawing %.1f ms, output %.1f ms: PNG"
              " encoding (with grab and key-out, bands of rows on every core) is %.0f%% of"
              " the whole\n",
              big.draw_ms, big.output_ms, 100.0 * big.output_ms / (big.draw_ms + big.output_ms));
  SetSoftVex2DThreads(0);
  SetPngThreads(0);
}

}  // namespace

int main(int argc, char** argv) {
  const int seed = argc > 1 ? std::atoi(argv[1]) : 1;
  const bool opengl = argc > 2 && std::strcmp(argv[2], "opengl") == 0;
  const bool window = argc > 3 && std::strcmp(argv[3], "window") == 0;
  const bool quick = argc > 4 && std::strcmp(argv[4], "quick") == 0;
  if (!window) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
  }
  std::string folder = (std::filesystem::temp_directory_path() / "sheetbenchXXXXXX").string();
  if (!mkdtemp(folder.data()) || chdir(folder.c_str()) != 0) return 1;
  std::ofstream("settings.ini") << "Seed=" << seed << "\nRenderer="
                                << (opengl ? "OpenGL" : "Software") << "\n";

  StartSheetBuilder(argc, argv);
  ReadSheetSettings();
  SelectRenderer(renderer);
  cells_across = sheet_width / sprite_width;
  cells_down = sheet_height / sprite_height;
  if (!OpenGraphics(sheet_width, sheet_height, 0, 60, 0)) return 1;
  const bool watched = CurrentGraphicsVisible() != 0;
  if (window && !watched) {
    std::fprintf(stderr, "no display answered; run it under Xvfb for the window figures\n");
    return 1;
  }
  SeedRandom(*random_seed);
  for (int i = 0; i < 101; ++i) RandomReal(0, 10);
  // Watched, the pauses are slept; unwatched, the program skips them and they are counted.
  sprite_boundary_sleep = watched ? TimedPause : CountedPause;
  // As the program draws: off-screen it leaves out the lines that later ones paint over,
  // the whole first pass among them (which then asks for no Escape key).
  sprite_hidden_lines_skipped = !watched;
  const long long passes_drawn = watched ? 2 : 1;
  InsertHook(FlipHookId, CountFlip, nullptr, 0);

  // The cell loop of the program, with clocks around its parts.
  double sprite_ms = 0, cell_present_ms = 0, floor_ms = 0, cell_driver_ms = 0;
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
      queries += passes_drawn * 3601 * (shape.ring_count - 1);
      SetViewport(0, 0, sheet_width, sheet_height);
      SetOrigin(0, 0);
      const TSoftVex2DStats before = SoftVex2DStats();
      const auto present_start = Clock::now();
      Flip(watched ? -1 : 0);
      cell_present_ms += Since(present_start);
      cell_driver_ms += SoftVex2DStats().wait_ms + SoftVex2DStats().show_ms - before.wait_ms -
                        before.show_ms;
      floor_ms += std::max(2.0 * (pauses - pauses_before), 1000.0 / 60);
    }
  }
  const int progress_flips = flips - cells_across * cells_down;
  const double sheet_ms = Since(sheet_start);
  sprite_hidden_lines_skipped = false;
  const TSoftVex2DStats soft = SoftVex2DStats();

  const auto output_start = Clock::now();
  WriteSheetOutput();
  const double output_ms = Since(output_start);
  const double total_ms = sheet_ms + output_ms;
  const double raster_ms = OtherThreadsCpuMs();

  // Unit costs of what DrawSprite does between its lines.
  const int flip_samples = 200;
  auto start = Clock::now();
  for (int i = 0; i < flip_samples; ++i) Flip(0);
  const double flip_unit_ms = Since(start) / flip_samples;
  const int query_samples = 200000;
  start = Clock::now();
  for (int i = 0; i < query_samples; ++i) KeyHitCount(27);
  const double query_unit_ms = Since(start) / query_samples;

  // The software driver times its own presentations (waiting for its raster thread
  // included); the GL driver's are charged at the unit cost.
  const bool timed_presents = !opengl && soft.presents > 0;
  const double progress_ms = timed_presents ? soft.wait_ms + soft.show_ms - cell_driver_ms
                                            : progress_flips * flip_unit_ms;
  const double polling_ms = queries * query_unit_ms;
  const double drawing_ms = sprite_ms - pause_ms - progress_ms - polling_ms;

  std::printf("default sheet %d x %d, %d cells of %d x %d, seed %d, renderer %s, %s\n",
              sheet_width, sheet_height, cells_across * cells_down, sprite_width,
              sprite_height, seed, opengl ? "OpenGL" : "Software",
              watched ? "in a window" : "no display (no pauses, no pacing)");
  std::printf("wall time              %9.1f ms  (%.2f x the floor)\n", total_ms,
              total_ms / floor_ms);
  std::printf("floor of the rules     %9.1f ms  (%d boundary pauses of 2 ms; 60 Hz per cell)\n",
              floor_ms, pauses);
  std::printf("  drawing              %9.1f ms  (main thread: sprites, recording or GL calls)\n",
              drawing_ms);
  std::printf("  boundary pauses      %9.1f ms  (%d, %s)\n", pause_ms, pauses,
              watched ? "measured" : "skipped");
  if (timed_presents) {
    std::printf("  presenting, progress %9.1f ms  (%d, measured: waiting for the raster thread"
                " %.1f ms in all)\n",
                progress_ms, progress_flips, soft.wait_ms);
  } else {
    std::printf("  presenting, progress %9.1f ms  (%d x %.3f ms)\n", progress_ms,
                progress_flips, flip_unit_ms);
  }
  std::printf("  presenting, cells    %9.1f ms  (%d, measured, pacing included)\n",
              cell_present_ms, cells_across * cells_down);
  std::printf("  polling              %9.1f ms  (%lld Escape queries x %.2f us)\n", polling_ms,
              queries, query_unit_ms * 1000);
  std::printf("  output               %9.1f ms  (grab, key-out, PNG)\n", output_ms);
  std::printf("other threads' CPU     %9.1f ms  (the software renderer's raster thread, beside"
              " the main thread; GL's own threads)\n",
              raster_ms);
  if (!opengl && !quick) {
    // The window's figures are those above; these sheets are drawn off-screen.
    if (watched) std::printf("\nin a window: %.2f x the floor\n", total_ms / floor_ms);
    if (!watched) PrintThreadsTable(seed);
  }
  std::error_code ignored;
  std::filesystem::current_path("/", ignored);
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
