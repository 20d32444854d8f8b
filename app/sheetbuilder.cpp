// Program flow. Everything happens on the main thread; the only ways out are a key at the
// end of a sheet, Escape while drawing (inside DrawSprite), and the failures reported here
// as one line on stderr with status 1.
#include "app/sheetbuilder.h"

#include <new>  // for std::bad_alloc
#include <optional>
#include <string>

#include "app/output.h"
#include "app/settings.h"
#include "app/sprite.h"
#include "app/startup.h"
#include "draw2d/draw2d.h"
#include "graphics/graphics.h"
#include "graphics/input.h"
#include "graphics/system.h"
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

// Puts the sprite's facet pauses out of action while it lives.
class TNoPauses {
 public:
  TNoPauses() : saved_(sprite_boundary_sleep) { sprite_boundary_sleep = [](int) {}; }
  ~TNoPauses() { sprite_boundary_sleep = saved_; }
  TNoPauses(const TNoPauses&) = delete;
  TNoPauses& operator=(const TNoPauses&) = delete;

 private:
  void (*saved_)(int);
};

// The sheet loop after the window is open; returns the exit status. A file that could not
// be written does not stop the loop, but the program then ends with status 1.
// Note: nobody watches a sheet drawn off-screen, so it is drawn without the facet pauses
// and the frame pacing that only pace the show: the same files, sooner.
int SheetLoop(bool watched) {
  std::optional<TNoPauses> no_pauses;
  if (!watched) no_pauses.emplace();
  int status = 0;
  for (;;) {
    DrawSheet(watched);

    if (WriteSheetOutput() != 0) status = 1;

    // The message uses whatever drawing state the last sprite left.
    DrawText(kFinishedMessage, kMessageLeft, static_cast<float>(sheet_height - kMessageRise));
    Flip(watched ? -1 : 0);

    // Note: off-screen there is nobody to press a key; the files are the result.
    if (!watched) {
      ReportLine("No display found: drew the sheet off-screen and wrote " + WrittenList());
      return status;
    }

    WaitForKey();
    if (!IsKeyDown(kRepeatKey)) return status;
  }
}

}  // namespace

void DrawSheet(bool watched) {
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
    }
  }
}

int RunSheetBuilder() {
  try {
    ReadSheetSettings();
  } catch (const TSettingsError& error) {
    ReportLine(error.what());
    return 1;
  }
  for (const std::string& note : setting_notes) ReportLine(note);
  // Note: a name the file system cannot take would otherwise be found after the whole
  // sheet is drawn; it is refused before any window opens.
  const std::string name_problem = OutputNameProblem(u".");
  if (!name_problem.empty()) {
    ReportLine(name_problem);
    return 1;
  }

  cells_across = sheet_width / sprite_width;
  cells_down = sheet_height / sprite_height;

  SelectRenderer(renderer);
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
    return SheetLoop(CurrentGraphicsVisible() != 0);
  } catch (const TStreamException& error) {
    // Note: a write that fails after the file was opened (a full disk) ends the run here;
    // the PNG writer leaves no truncated file under the final name.
    ReportLine("Could not write " + QuotedName(SheetFileInProgress()) + ": " +
               TextToUtf8(error.ToString()));
    return 1;
  }
}
