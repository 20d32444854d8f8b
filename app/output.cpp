// Sheet output. The files go to the current directory; a file that cannot be written is
// reported on stderr by name and the run ends with status 1, but the other files are still
// attempted in their order. Each sheet file is followed by its atlas when one is asked for;
// the single-sprite files come last.
#include "app/output.h"

#include <cerrno>    // for errno after a failed open
#include <climits>   // for INT_MAX
#include <cstdio>
#include <cstring>   // for std::strerror
#include <new>       // for std::bad_alloc

#include "app/atlas.h"
#include "app/settings.h"
#include "draw2d/draw2d.h"
#include "pixmap/png/png.h"
#include "runtime/text.h"

namespace {

// Constants.
const String kBaseSuffix = u".png";
const String kDoubleSuffix = u"-hd.png";
const String kQuadrupleSuffix = u"-hd2.png";

// Module state.
std::vector<String> written_files;
int written_sprite_files = 0;
String file_in_progress;

// Internal helpers.

// How many pixels of a sheet file stand for one pixel of the run's plain ".png": what the
// names say ("-hd" twice, "-hd2" four times), whichever way the sheet was scaled.
int MetaScaleOf(const String& suffix) {
  if (suffix == kDoubleSuffix) return 2;
  if (suffix == kQuadrupleSuffix) return 4;
  return 1;
}

// Saves one PNG; on failure reports it with the best reason we can give and returns false.
bool SavePng(const Ref<TPixmap>& pixmap, const String& name) {
  file_in_progress = name;
  errno = 0;
  const int saved = PixmapSavePNG(pixmap, name, kSheetCompression);
  const int open_error = errno;
  file_in_progress.clear();
  if (saved) return true;
  // Note: the writer reports only success or failure; a failed open leaves its errno behind,
  // anything else is the encoder's own failure.
  const std::string reason =
      open_error != 0 ? std::strerror(open_error) : std::string("the PNG encoder failed");
  ReportLine("Could not write " + QuotedName(name) + ": " + reason);
  return false;
}

// The atlas of a sheet file that could not be written is not written either.
// Note: beside an older image of that name, a new atlas could describe another grid.
void ReportMissingAtlas(const String& image) {
  if (atlas_format == AtlasFormat::None) return;
  ReportLine("Could not write " + QuotedName(AtlasNameFor(image)) + ": its image " +
             QuotedName(image) + " was not written");
}

// Writes the atlas of a sheet file beside it; reports and returns false when it cannot.
bool SaveAtlas(const Ref<TPixmap>& image, const String& image_name, const String& suffix,
               const SheetGrid& grid, FileScale scale) {
  const String name = AtlasNameFor(image_name);
  std::string reason;
  try {
    reason = ReplaceFileWith(name, AtlasJson(grid, scale, image->width, image->height,
                                             image_name, MetaScaleOf(suffix)));
  } catch (const std::bad_alloc&) {
    reason = "not enough memory to make the atlas";
  }
  if (!reason.empty()) {
    ReportLine("Could not write " + QuotedName(name) + ": " + reason);
    return false;
  }
  written_files.push_back(name);
  return true;
}

// One sheet file, then its atlas when one is asked for.
bool SaveSheetFile(const Ref<TPixmap>& image, const String& suffix, const SheetGrid& grid,
                   FileScale scale) {
  const String name = output_name + suffix;
  if (!SavePng(image, name)) {
    ReportMissingAtlas(name);
    return false;
  }
  written_files.push_back(name);
  if (atlas_format == AtlasFormat::None) return true;
  return SaveAtlas(image, name, suffix, grid, scale);
}

// Resized copy for the shrinking mode; reports and skips a side that would be 0.
bool SaveShrunk(const Ref<TPixmap>& sheet, int divisor, const String& suffix,
                const SheetGrid& grid) {
  const int width = sheet->width / divisor;
  const int height = sheet->height / divisor;
  if (width < 1 || height < 1) {
    std::string skipped = QuotedName(output_name + suffix);
    if (atlas_format != AtlasFormat::None) {
      skipped += " and " + QuotedName(AtlasNameFor(output_name + suffix));
    }
    ReportLine("Skipped " + skipped + ": the sheet is too small to shrink by " +
               std::to_string(divisor) + " (" + std::to_string(sheet->width) + " x " +
               std::to_string(sheet->height) + ")");
    return true;  // a deliberate skip, not a failure
  }
  Ref<TPixmap> shrunk;
  try {
    shrunk = PixmapResize(sheet, width, height);
  } catch (const std::bad_alloc&) {
  }
  if (!shrunk) {
    ReportLine("Could not write " + QuotedName(output_name + suffix) +
               ": not enough memory to resize the sheet");
    ReportMissingAtlas(output_name + suffix);
    return false;
  }
  return SaveSheetFile(shrunk, suffix, grid, FileScale{1, divisor});
}

// Every cell of the sheet as drawn, each as a PNG of its own, in drawing order.
bool SaveSpriteFiles(const Ref<TPixmap>& sheet, const SheetGrid& grid) {
  bool all_written = true;
  const int count = CellCount(grid);
  for (int index = 0; index < count; ++index) {
    const CellRect cell = CellInFile(grid, index, FileScale{});
    // A window onto the sheet: the writer reads the cell's rows in place, nothing is copied.
    const Ref<TPixmap> sprite = PixmapWindow(sheet, cell.x, cell.y, cell.w, cell.h);
    if (SavePng(sprite, SpriteFileName(output_name, grid, index))) {
      ++written_sprite_files;
    } else {
      all_written = false;
    }
  }
  return all_written;
}

}  // namespace

void ReportLine(const std::string& line) {
  std::fputs((line + "\n").c_str(), stderr);
  std::fflush(stderr);
}

std::string QuotedName(const String& name) {
  // Note: built by appending; g++ 12 warns falsely (-Wrestrict) on "literal" + string.
  std::string quoted(1, '"');
  quoted += TextToUtf8(name);
  quoted += '"';
  return quoted;
}

void KeyOutSheet(const Ref<TPixmap>& sheet) {
  for (int x = 0; x < sheet->width; ++x) {
    for (int y = 0; y < sheet->height; ++y) {
      const uint32_t pixel = PixmapReadPixel(sheet, x, y);
      if ((pixel & 0xFFFFFF) == key_colour) PixmapWritePixel(sheet, x, y, 0);
    }
  }
}

bool EnlargeSheet(const Ref<TPixmap>& sheet, Ref<TPixmap>& doubled, Ref<TPixmap>& quadrupled) {
  doubled.reset();
  quadrupled.reset();
  const int width = sheet->width;
  const int height = sheet->height;
  // Note: a pixmap's size is an int of bytes; a sheet whose quadrupled copy would not fit
  // is refused here rather than wrapping round.
  if (16LL * width * height * 4 + 16LL * 4 * height > INT_MAX) return false;
  try {
    doubled = PixmapCreate(2 * width, 2 * height, PIXFMT_RGBA32, 4);
    quadrupled = PixmapCreate(4 * width, 4 * height, PIXFMT_RGBA32, 4);
  } catch (const std::bad_alloc&) {
  }
  if (!doubled || !quadrupled || !doubled->pixels || !quadrupled->pixels) {
    doubled.reset();
    quadrupled.reset();
    return false;
  }
  for (int x = 0; x < width; ++x) {
    for (int y = 0; y < height; ++y) {
      const uint32_t c = PixmapReadPixel(sheet, x, y);
      PixmapWritePixel(doubled, 2 * x, 2 * y, c);
      PixmapWritePixel(doubled, 2 * x, 2 * y + 1, c);
      PixmapWritePixel(doubled, 2 * x + 1, 2 * y, c);
      PixmapWritePixel(doubled, 2 * x + 1, 2 * y + 1, c);
      for (int k = 0; k < 4; ++k) {
        for (int l = 0; l < 4; ++l) PixmapWritePixel(quadrupled, 4 * x + k, 4 * y + l, c);
      }
    }
  }
  return true;
}

int SaveSheetFiles(const Ref<TPixmap>& sheet) {
  written_files.clear();
  written_sprite_files = 0;
  const SheetGrid grid = GridOfSheet(sheet->width, sheet->height, sprite_width, sprite_height);
  bool all_written = true;
  switch (scale_mode) {
    case SCALE_SHRINK:
      all_written &= SaveSheetFile(sheet, kQuadrupleSuffix, grid, FileScale{});
      // Both smaller copies are resampled from the full keyed sheet.
      all_written &= SaveShrunk(sheet, 2, kDoubleSuffix, grid);
      all_written &= SaveShrunk(sheet, 4, kBaseSuffix, grid);
      break;
    case SCALE_GROW: {
      all_written &= SaveSheetFile(sheet, kBaseSuffix, grid, FileScale{});
      Ref<TPixmap> doubled, quadrupled;
      if (EnlargeSheet(sheet, doubled, quadrupled)) {
        all_written &= SaveSheetFile(doubled, kDoubleSuffix, grid, FileScale{2, 1});
        all_written &= SaveSheetFile(quadrupled, kQuadrupleSuffix, grid, FileScale{4, 1});
      } else {
        // One line per missing file, like every other failure.
        for (const String* suffix : {&kDoubleSuffix, &kQuadrupleSuffix}) {
          ReportLine("Could not write " + QuotedName(output_name + *suffix) +
                     ": not enough memory to enlarge the sheet");
          ReportMissingAtlas(output_name + *suffix);
        }
        all_written = false;
      }
      break;
    }
    default:
      all_written &= SaveSheetFile(sheet, kBaseSuffix, grid, FileScale{});
      break;
  }
  if (split_sprites) all_written &= SaveSpriteFiles(sheet, grid);
  return all_written ? 0 : 1;
}

int WriteSheetOutput() {
  written_files.clear();
  written_sprite_files = 0;
  Ref<TPixmap> sheet;
  try {
    sheet = GrabPixmap(0, 0, sheet_width, sheet_height);
  } catch (const std::bad_alloc&) {
  }
  if (!sheet || !sheet->pixels) {
    ReportLine("Could not read the " + std::to_string(sheet_width) + " x " +
               std::to_string(sheet_height) + " sheet back from the drawing buffer: " +
               "not enough memory; no file written");
    return 1;
  }
  KeyOutSheet(sheet);
  return SaveSheetFiles(sheet);
}

const std::vector<String>& WrittenSheetFiles() { return written_files; }

int WrittenSpriteFileCount() { return written_sprite_files; }

const String& SheetFileInProgress() { return file_in_progress; }
