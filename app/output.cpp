// Sheet output. The files go to the current directory; a file that cannot be written is
// reported on stderr by name and the run ends with status 1, but the other files are still
// attempted in their order.
#include "app/output.h"

#include <cerrno>    // for errno after a failed open
#include <climits>   // for INT_MAX
#include <cstdio>
#include <cstring>   // for std::strerror
#include <new>       // for std::bad_alloc

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
String file_in_progress;

// Internal helpers.

// Saves one file; on failure reports it with the best reason we can give and returns false.
bool SaveOne(const Ref<TPixmap>& pixmap, const String& suffix) {
  const String name = output_name + suffix;
  file_in_progress = name;
  errno = 0;
  const int saved = PixmapSavePNG(pixmap, name, kSheetCompression);
  const int open_error = errno;
  file_in_progress.clear();
  if (saved) {
    written_files.push_back(name);
    return true;
  }
  // Note: the writer reports only success or failure; a failed open leaves its errno behind,
  // anything else is the encoder's own failure.
  const std::string reason =
      open_error != 0 ? std::strerror(open_error) : std::string("the PNG encoder failed");
  ReportLine("Could not write " + QuotedName(name) + ": " + reason);
  return false;
}

// Resized copy for the shrinking mode; reports and skips a side that would be 0.
bool SaveShrunk(const Ref<TPixmap>& sheet, int divisor, const String& suffix) {
  const int width = sheet->width / divisor;
  const int height = sheet->height / divisor;
  if (width < 1 || height < 1) {
    ReportLine("Skipped " + QuotedName(output_name + suffix) + ": the sheet is too small to " +
               "shrink by " + std::to_string(divisor) + " (" + std::to_string(sheet->width) +
               " x " + std::to_string(sheet->height) + ")");
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
    return false;
  }
  return SaveOne(shrunk, suffix);
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
  bool all_written = true;
  switch (scale_mode) {
    case SCALE_SHRINK:
      all_written &= SaveOne(sheet, kQuadrupleSuffix);
      // Both smaller copies are resampled from the full keyed sheet.
      all_written &= SaveShrunk(sheet, 2, kDoubleSuffix);
      all_written &= SaveShrunk(sheet, 4, kBaseSuffix);
      break;
    case SCALE_GROW: {
      all_written &= SaveOne(sheet, kBaseSuffix);
      Ref<TPixmap> doubled, quadrupled;
      if (EnlargeSheet(sheet, doubled, quadrupled)) {
        all_written &= SaveOne(doubled, kDoubleSuffix);
        all_written &= SaveOne(quadrupled, kQuadrupleSuffix);
      } else {
        // One line per missing file, like every other failure.
        for (const String* suffix : {&kDoubleSuffix, &kQuadrupleSuffix}) {
          ReportLine("Could not write " + QuotedName(output_name + *suffix) +
                     ": not enough memory to enlarge the sheet");
        }
        all_written = false;
      }
      break;
    }
    default:
      all_written &= SaveOne(sheet, kBaseSuffix);
      break;
  }
  return all_written ? 0 : 1;
}

int WriteSheetOutput() {
  written_files.clear();
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

const String& SheetFileInProgress() { return file_in_progress; }
