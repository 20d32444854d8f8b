// Program flow. Everything happens on the main thread; the only ways out are a key at the
// end of a sheet, Escape while drawing (inside DrawSprite), the end of a sheet drawn
// off-screen, printed settings, and the failures reported here as one line on stderr with
// status 1. Off-screen on a terminal, a progress line shows how far the sheet has come.
#include "app/sheetbuilder.h"

#include <unistd.h>  // for isatty: progress is shown on a terminal only

#include <algorithm>  // for std::max
#include <chrono>
#include <cstdio>
#include <filesystem>  // for the output folder and the sizes of the files written
#include <new>  // for std::bad_alloc
#include <optional>
#include <string>

#include "app/commandline.h"
#include "app/output.h"
#include "app/settings.h"
#include "app/sprite.h"
#include "app/startup.h"
#include "draw2d/draw2d.h"
#include "draw2d/soft/softvex2d.h"  // for SetSoftVex2DThreads
#include "graphics/graphics.h"
#include "graphics/input.h"
#include "graphics/system.h"
#include "pixmap/png/png.h"  // for SetPngThreads
#include "random/random.h"
#include "runtime/text.h"
#include "stream/stream.h"

int cells_across = 0;
int cells_down = 0;
int cell_col = 0;
int cell_row = 0;

namespace {

// Constants.
constexpr int kPacingHertz = 60;
constexpr int kWarmUpDraws = 101;
constexpr double kWarmUpMax = 10;
constexpr float kMessageLeft = 4;
constexpr int kMessageRise = 14;  // glyph cells start this far above the bottom edge
// The progress line changes at most this often, so that it stays readable and cheap.
constexpr std::chrono::milliseconds kProgressPeriod{100};

using ProgressClock = std::chrono::steady_clock;

// Internal helpers.

// Pulls the key colour's three bytes apart for SetColor.
void SetKeyColour() {
  SetColor((key_colour >> 16) & 0xFF, (key_colour >> 8) & 0xFF, key_colour & 0xFF);
}

// The files just written, for the no-display message: sheets and atlases by name, the
// single-sprite files (there may be thousands) by their number.
std::string WrittenList() {
  std::string list;
  for (const String& name : WrittenSheetFiles()) {
    if (!list.empty()) list += ", ";
    list += QuotedName(name);
  }
  if (const int sprites = WrittenSpriteFileCount()) {
    if (!list.empty()) list += " and ";
    list += std::to_string(sprites) + (sprites == 1 ? " sprite file" : " sprite files");
  }
  return list.empty() ? std::string("none") : list;
}

double SecondsSince(ProgressClock::time_point start) {
  return std::chrono::duration<double>(ProgressClock::now() - start).count();
}

// Seconds as "m:ss".
std::string MinutesAndSeconds(double seconds) {
  const long whole = static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof(text), "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

// The one line on a terminal that shows how far an off-screen sheet has come: written over
// in place, and cleared when it goes, so the lines after it start on a clean line.
class TProgressLine {
 public:
  TProgressLine() : start_(ProgressClock::now()), last_(start_) {}
  ~TProgressLine() { Clear(); }
  TProgressLine(const TProgressLine&) = delete;
  TProgressLine& operator=(const TProgressLine&) = delete;

  void CellDone(int done, int total) {
    const ProgressClock::time_point now = ProgressClock::now();
    if (now - last_ < kProgressPeriod || done >= total) return;
    last_ = now;
    const double elapsed = SecondsSince(start_);
    Show("Drawing the sheet: " + std::to_string(done) + " of " + std::to_string(total) +
         " cells, " + MinutesAndSeconds(elapsed) + " elapsed, about " +
         MinutesAndSeconds(elapsed * (total - done) / done) + " left");
  }

 private:
  void Show(const std::string& line) {
    std::string shown(1, '\r');
    shown += line;
    // Note: blanks over the end of a longer line before, without terminal escape codes.
    if (line.size() < width_) shown += std::string(width_ - line.size(), ' ');
    width_ = std::max(width_, line.size());
    std::fputs(shown.c_str(), stderr);
    std::fflush(stderr);
  }
  void Clear() {
    if (width_ == 0) return;
    // Note: built by appending; g++ 12 warns falsely (-Wrestrict) on "literal" + string.
    std::string blank(1, '\r');
    blank.append(width_, ' ');
    blank += '\r';
    std::fputs(blank.c_str(), stderr);
    std::fflush(stderr);
    width_ = 0;
  }

  ProgressClock::time_point start_;
  ProgressClock::time_point last_;
  std::size_t width_ = 0;
};

// -v: a line for every file the sheet's output wrote, then the time the sheet took.
void ReportWrittenFiles(double seconds) {
  for (const TWrittenFile& file : WrittenFiles()) {
    std::error_code error;
    const auto bytes = std::filesystem::file_size(std::filesystem::path(file.name), error);
    std::string line = "Wrote " + QuotedName(file.name) + ": ";
    line += file.width > 0 ? std::to_string(file.width) + " x " + std::to_string(file.height) +
                                 " pixels, "
                           : std::string("atlas, ");
    line += error ? std::string("size unknown") : std::to_string(bytes) + " bytes";
    ReportLine(line);
  }
  char took[64];
  std::snprintf(took, sizeof(took), "The sheet took %.2f s to draw and write", seconds);
  ReportLine(took);
}

// -o DIR: every file goes there. The folder must exist; the program never makes one.
bool EnterOutputFolder(const String& folder) {
  const std::filesystem::path path(folder);
  std::error_code error;
  if (!std::filesystem::is_directory(path, error)) {
    const bool exists = !folder.empty() && std::filesystem::exists(path, error);
    ReportLine("The output folder " + QuotedName(folder) +
               (exists ? " is not a folder" : " does not exist"));
    return false;
  }
  std::filesystem::current_path(path, error);
  if (error) {
    ReportLine("Could not enter the output folder " + QuotedName(folder) + ": " +
               error.message());
    return false;
  }
  return true;
}

// Puts the sprite's facet pauses out of action, and leaves out the lines that later ones
// paint over, while it lives.
class TNoPauses {
 public:
  TNoPauses() : saved_(sprite_boundary_sleep), saved_skip_(sprite_hidden_lines_skipped) {
    sprite_boundary_sleep = [](int) {};
    sprite_hidden_lines_skipped = true;
  }
  ~TNoPauses() {
    sprite_boundary_sleep = saved_;
    sprite_hidden_lines_skipped = saved_skip_;
  }
  TNoPauses(const TNoPauses&) = delete;
  TNoPauses& operator=(const TNoPauses&) = delete;

 private:
  void (*saved_)(int);
  bool saved_skip_;
};

// The sheet loop after the window is open; returns the exit status. A file that could not
// be written does not stop the loop, but the program then ends with status 1.
// Note: nobody watches a sheet drawn off-screen, so it is drawn without the facet pauses,
// the frame pacing and the lines of each sprite that later ones paint over (its whole
// first pass among them), which only make the show: the same files, sooner.
int SheetLoop(bool watched, const TRunOptions& options) {
  std::optional<TNoPauses> no_pauses;
  if (!watched) no_pauses.emplace();
  // Note: a watched sheet shows its progress in the window; in a pipe or a log a line
  // written over in place is only noise.
  const bool show_progress = !watched && !options.quiet && isatty(fileno(stderr));
  int status = 0;
  for (;;) {
    const ProgressClock::time_point start = ProgressClock::now();
    {
      std::optional<TProgressLine> progress;
      if (show_progress) progress.emplace();
      DrawSheet(watched, progress ? [&progress](int done, int total) {
        progress->CellDone(done, total);
      } : std::function<void(int, int)>());
    }

    if (WriteSheetOutput() != 0) status = 1;
    if (options.verbose) ReportWrittenFiles(SecondsSince(start));

    // The message uses whatever drawing state the last sprite left.
    DrawText(kFinishedMessage, kMessageLeft, static_cast<float>(sheet_height - kMessageRise));
    Flip(watched ? -1 : 0);

    // Note: off-screen there is nobody to press a key; the files are the result.
    if (!watched) {
      ReportNote((options.no_window ? std::string("Drew the sheet off-screen and wrote ")
                                    : "No display found: drew the sheet off-screen and wrote ") +
                 WrittenList());
      return status;
    }

    WaitForKey();
    if (!IsKeyDown(kRepeatKey)) return status;
  }
}

}  // namespace

void DrawSheet(bool watched, const std::function<void(int done, int total)>& cell_done) {
  const int total = cells_across * cells_down;
  Cls();
  for (cell_row = 0; cell_row < cells_down; ++cell_row) {
    for (cell_col = 0; cell_col < cells_across; ++cell_col) {
      const int left = cell_col * sprite_width;
      const int top = cell_row * sprite_height;
      ResetDrawState();
      SetViewport(left, top, sprite_width, sprite_height);
      SetOrigin(left, top);
      cell_width = sprite_width;
      cell_height = sprite_height;
      SetKeyColour();
      DrawRect(0, 0, cell_width, cell_height);
      ResetDrawState();
      DrawSprite();
      SetViewport(0, 0, sheet_width, sheet_height);
      SetOrigin(0, 0);
      Flip(watched ? -1 : 0);
      if (cell_done) cell_done(cell_row * cells_across + cell_col + 1, total);
    }
  }
}

int RunSheetBuilder() { return RunSheetBuilder(TRunOptions{}); }

int RunSheetBuilder(const TRunOptions& options) {
  SetQuietMessages(options.quiet);
  try {
    ReadSheetSettings(options.settings);
  } catch (const TSettingsError& error) {
    ReportLine(error.what());
    return kStatusFailed;
  }
  for (const std::string& note : setting_notes) ReportNote(note);

  if (options.print_settings) {
    const std::string text = SettingsFileText(options.settings);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return kStatusDone;
  }
  // Note: checked before the window opens, so a mistyped folder costs no drawing.
  if (options.output_dir && !EnterOutputFolder(*options.output_dir)) return kStatusFailed;
  SetOffScreenOnly(options.no_window ? 1 : 0);
  // Note: a name the file system of the output folder (now the current one) cannot take
  // would otherwise be found after the whole sheet is drawn; it is refused before any
  // window opens.
  const std::string name_problem = OutputNameProblem(u".");
  if (!name_problem.empty()) {
    ReportLine(name_problem);
    return kStatusFailed;
  }

  cells_across = sheet_width / sprite_width;
  cells_down = sheet_height / sprite_height;

  SelectRenderer(renderer);
  SetSoftVex2DThreads(draw_threads);
  SetPngThreads(draw_threads);
  Ref<TGraphics> window;
  try {
    window = OpenGraphics(sheet_width, sheet_height, 0, kPacingHertz, 0);
  } catch (const std::bad_alloc&) {
  } catch (const TRuntimeError&) {
  }
  if (!window) {
    // Note: the size is named as the reason only when the size is what was refused.
    const std::string reason =
        GraphicsFailure().empty() ? "the graphics system gave none" : GraphicsFailure();
    ReportLine("Could not open a " + std::to_string(sheet_width) + " x " +
               std::to_string(sheet_height) + " window for the sheet: " + reason);
    return 1;
  }

  cell_width = sprite_width;
  cell_height = sprite_height;

  SeedRandom(random_seed ? *random_seed : MillisecondClock());
  for (int i = 0; i < kWarmUpDraws; ++i) static_cast<void>(int(RandomReal(0, kWarmUpMax)));

  try {
    return SheetLoop(CurrentGraphicsVisible() != 0, options);
  } catch (const TStreamException& error) {
    // Note: a write that fails after the file was opened (a full disk) ends the run here;
    // the PNG writer leaves no truncated file under the final name.
    ReportLine("Could not write " + QuotedName(SheetFileInProgress()) + ": " +
               TextToUtf8(error.ToString()));
    return 1;
  }
}
