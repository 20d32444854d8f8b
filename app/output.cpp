// Sheet output. The files go to the current directory; a file that cannot be written is
// reported on stderr by name and the run ends with status 1, but the other files are still
// attempted in their order. Each sheet file is followed by its atlas when one is asked for;
// the single-sprite files come last. Running out of memory (std::bad_alloc, which
// TOutOfMemoryError is) at any step is such a failure: it costs the files that step makes,
// never the run.
#include "app/output.h"

#include <cerrno>    // for errno after a failed open
#include <cstdio>
#include <cstring>   // for std::strerror, std::memcpy
#include <new>       // for std::bad_alloc, which every "no memory" failure is

#include "app/atlas.h"
#include "app/settings.h"
#include "draw2d/draw2d.h"
#include "pixmap/png/png.h"
#include "runtime/text.h"
#include "stream/replace.h"  // for the file system's name limit

namespace {

// Constants.
const String kBaseSuffix = u".png";
const String kDoubleSuffix = u"-hd.png";
const String kQuadrupleSuffix = u"-hd2.png";
constexpr long long kGiB = 1LL << 30;

// Module state.
std::vector<String> written_files;
std::vector<TWrittenFile> all_written_files;
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

void ReportMissing(const String& name, const std::string& reason) {
  ReportLine("Could not write " + QuotedName(name) + ": " + reason);
}

// The suffixes of the files scale_mode asks for, in the order they are written.
std::vector<const String*> SuffixesInOrder() {
  switch (scale_mode) {
    case SCALE_SHRINK: return {&kQuadrupleSuffix, &kDoubleSuffix, &kBaseSuffix};
    case SCALE_GROW: return {&kBaseSuffix, &kDoubleSuffix, &kQuadrupleSuffix};
    default: return {&kBaseSuffix};
  }
}

// Saves one PNG; on failure reports it with the best reason we can give and returns false.
bool SavePng(const Ref<TPixmap>& pixmap, const String& name) {
  file_in_progress = name;
  errno = 0;
  int saved = 0;
  try {
    saved = PixmapSavePNG(pixmap, name, kSheetCompression);
  } catch (const std::bad_alloc&) {
    file_in_progress.clear();
    ReportMissing(name, "not enough memory to encode it");
    return false;
  }
  const int open_error = errno;
  file_in_progress.clear();
  if (saved) {
    all_written_files.push_back({name, pixmap->width, pixmap->height});
    return true;
  }
  // Note: the writer reports only success or failure; a failed open leaves its errno behind,
  // anything else is the encoder's own failure.
  const std::string reason =
      open_error != 0 ? std::strerror(open_error) : std::string("the PNG encoder failed");
  ReportMissing(name, reason);
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
    ReportMissing(name, reason);
    return false;
  }
  written_files.push_back(name);
  all_written_files.push_back({name, 0, 0});
  return true;
}

// A sheet file that cannot be made: its line, and its atlas's.
bool MissingSheetFile(const String& suffix, const std::string& reason) {
  ReportMissing(output_name + suffix, reason);
  ReportMissingAtlas(output_name + suffix);
  return false;
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
    ReportNote("Skipped " + skipped + ": the sheet is too small to shrink by " +
               std::to_string(divisor) + " (" + std::to_string(sheet->width) + " x " +
               std::to_string(sheet->height) + ")");
    return true;  // a deliberate skip, not a failure
  }
  Ref<TPixmap> shrunk;
  try {
    shrunk = PixmapResize(sheet, width, height);
  } catch (const std::bad_alloc&) {
    return MissingSheetFile(suffix, "not enough memory to resize the sheet");
  }
  return SaveSheetFile(shrunk, suffix, grid, FileScale{1, divisor});
}

// Pixel-replicated copy for the growing mode. Note: each copy is made, saved and dropped
// before the next, so a quadrupled copy that cannot be had still leaves the doubled file.
bool SaveEnlarged(const Ref<TPixmap>& sheet, int factor, const String& suffix,
                  const SheetGrid& grid) {
  Ref<TPixmap> copy;
  try {
    copy = EnlargeSheet(sheet, factor);
  } catch (const std::bad_alloc&) {
    return MissingSheetFile(suffix, "not enough memory to enlarge the sheet");
  }
  if (!copy) {
    // Note: the limit is the size of one image, not the memory of the machine; say so.
    const long long width = 1LL * factor * sheet->width;
    const long long height = 1LL * factor * sheet->height;
    char gib[32];
    std::snprintf(gib, sizeof(gib), "%.1f", static_cast<double>(width * height * 4) / kGiB);
    return MissingSheetFile(suffix, "the " + std::to_string(width) + " x " +
                                        std::to_string(height) + " copy would need " + gib +
                                        " GiB, more than the " +
                                        std::to_string((kPixmapByteLimit + 1) / kGiB) +
                                        " GiB one image can hold");
  }
  return SaveSheetFile(copy, suffix, grid, FileScale{factor, 1});
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

// Note: each pixel is keyed on its own, so the order is free; rows go in memory order.
void KeyOutSheet(const Ref<TPixmap>& sheet) {
  for (int y = 0; y < sheet->height; ++y) {
    for (int x = 0; x < sheet->width; ++x) {
      const uint32_t pixel = PixmapReadPixel(sheet, x, y);
      if ((pixel & 0xFFFFFF) == key_colour) PixmapWritePixel(sheet, x, y, 0);
    }
  }
}

Ref<TPixmap> EnlargeSheet(const Ref<TPixmap>& sheet, int factor) {
  const int width = sheet->width;
  const int height = sheet->height;
  if (!PixmapFits(1LL * factor * width, 1LL * factor * height, PIXFMT_RGBA32, 4)) return nullptr;
  Ref<TPixmap> copy = PixmapCreate(factor * width, factor * height, PIXFMT_RGBA32, 4);
  if (width == 0 || height == 0) return copy;
  // Each source row becomes one enlarged row, pixel by pixel, and that row's bytes are
  // copied to the factor - 1 rows below it: the same pixels, in memory order.
  const std::size_t row_bytes = static_cast<std::size_t>(factor) * width * 4;  // RGBA32
  for (int y = 0; y < height; ++y) {
    const int top = factor * y;
    for (int x = 0; x < width; ++x) {
      const uint32_t c = PixmapReadPixel(sheet, x, y);
      for (int k = 0; k < factor; ++k) PixmapWritePixel(copy, factor * x + k, top, c);
    }
    const uint8_t* first = copy->PixelPtr(0, top);
    for (int l = 1; l < factor; ++l) std::memcpy(copy->PixelPtr(0, top + l), first, row_bytes);
  }
  return copy;
}

int SaveSheetFiles(const Ref<TPixmap>& sheet) {
  written_files.clear();
  all_written_files.clear();
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
    case SCALE_GROW:
      all_written &= SaveSheetFile(sheet, kBaseSuffix, grid, FileScale{});
      all_written &= SaveEnlarged(sheet, 2, kDoubleSuffix, grid);
      all_written &= SaveEnlarged(sheet, 4, kQuadrupleSuffix, grid);
      break;
    default:
      all_written &= SaveSheetFile(sheet, kBaseSuffix, grid, FileScale{});
      break;
  }
  if (split_sprites) all_written &= SaveSpriteFiles(sheet, grid);
  return all_written ? 0 : 1;
}

int WriteSheetOutput() {
  written_files.clear();
  all_written_files.clear();
  written_sprite_files = 0;
  Ref<TPixmap> sheet;
  const std::string size = std::to_string(sheet_width) + " x " + std::to_string(sheet_height);
  std::string reason = "the drawing buffer gave no pixels for the " + size + " sheet";
  try {
    sheet = GrabPixmap(0, 0, sheet_width, sheet_height);
  } catch (const std::bad_alloc&) {
    reason = "not enough memory to read the " + size + " sheet back from the drawing buffer";
  } catch (const TRuntimeError& error) {
    reason = "could not read the " + size + " sheet back from the drawing buffer: " +
             error.what();
  }
  if (!sheet || !sheet->pixels) {
    // One line per missing file, like every other failure.
    for (const String* suffix : SuffixesInOrder()) MissingSheetFile(*suffix, reason);
    return 1;
  }
  KeyOutSheet(sheet);
  return SaveSheetFiles(sheet);
}

const std::vector<String>& WrittenSheetFiles() { return written_files; }

const std::vector<TWrittenFile>& WrittenFiles() { return all_written_files; }

int WrittenSpriteFileCount() { return written_sprite_files; }

const String& SheetFileInProgress() { return file_in_progress; }

String LongestOutputName() {
  std::vector<String> names;
  for (const String* suffix : SuffixesInOrder()) {
    names.push_back(output_name + *suffix);
    if (atlas_format != AtlasFormat::None) names.push_back(AtlasNameFor(names.back()));
  }
  if (split_sprites) {
    const SheetGrid grid = GridOfSheet(sheet_width, sheet_height, sprite_width, sprite_height);
    // Note: every sprite number has the width of the last one.
    if (CellCount(grid) > 0) names.push_back(SpriteFileName(output_name, grid, 0));
  }
  String longest;
  for (const String& name : names) {
    if (FileNameLength(name) > FileNameLength(longest)) longest = name;
  }
  return longest;
}

std::string OutputNameProblem(const String& folder) {
  const String longest = LongestOutputName();
  const std::size_t length = FileNameLength(longest);
  const std::size_t limit = FileNameLimit(folder);
  // Note: a temporary name is cut to fit the limit, so only the final names count here.
  if (length <= limit) return std::string();
  return "The file name " + QuotedName(longest) + " is too long: " + std::to_string(length) +
         " " + FileNameUnits() + ", and the file system allows " + std::to_string(limit);
}
