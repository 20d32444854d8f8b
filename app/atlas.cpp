// Atlas and sprite files. The atlas follows the "JSON hash" layout that Phaser, PixiJS and
// the common Godot and Unity importers read: one object per frame under "frames", keyed by
// name, and a "meta" object that names the image, its pixel format, size and scale.
// The JSON text is made by nlohmann-json (Debian's nlohmann-json3-dev), never by hand.
#include "app/atlas.h"

#include <algorithm>  // for std::max
#include <cerrno>     // for errno after a failed open, write or close
#include <cstdint>
#include <cstdio>
#include <cstring>    // for std::strerror
#include <utility>    // for std::move

#include <nlohmann/json.hpp>

#include "runtime/text.h"
#include "stream/replace.h"

#ifndef SHEETBUILDER_VERSION
#error "SHEETBUILDER_VERSION comes from the project's version in the top CMakeLists.txt"
#endif

namespace {

// ---- constants -------------------------------------------------------------------------

// meta.app names this program, as its users know it (the README's title), not the
// framework's default window caption "Corvane Application", which every program built on
// the framework shares. meta.version is the project's version, set once in CMake.
constexpr const char* kAtlasApp = "Sheet Builder";
constexpr const char* kAtlasVersion = SHEETBUILDER_VERSION;
// Every sheet file is 8-bit RGBA.
constexpr const char* kAtlasFormat = "RGBA8888";
constexpr const char* kFramePrefix = "sprite_";
constexpr int kIndent = 2;
// Cell numbers have at least this many digits: sprite_000, Out-000.png.
constexpr int kMinimumDigits = 3;

const String kPngSuffix = u".png";
const String kJsonSuffix = u".json";

// ---- internal helpers ------------------------------------------------------------------

using Json = nlohmann::json;

Json RectJson(const CellRect& r) { return {{"x", r.x}, {"y", r.y}, {"w", r.w}, {"h", r.h}}; }

Json SizeJson(int w, int h) { return {{"w", w}, {"h", h}}; }

// The file name without the folders in front of it: the atlas sits beside its image.
std::string FileNameOnly(const String& name) {
  const size_t slash = name.find_last_of(u"/\\");
  return TextToUtf8(slash == String::npos ? name : name.substr(slash + 1));
}

}  // namespace

// ---- public functions ------------------------------------------------------------------

SheetGrid GridOfSheet(int sheet_width, int sheet_height, int sprite_width, int sprite_height) {
  SheetGrid grid;
  if (sprite_width < 1 || sprite_height < 1) return grid;
  grid.cells_across = sheet_width / sprite_width;
  grid.cells_down = sheet_height / sprite_height;
  grid.cell_width = sprite_width;
  grid.cell_height = sprite_height;
  return grid;
}

int CellCount(const SheetGrid& grid) { return grid.cells_across * grid.cells_down; }

// Note: a shrunk file was made at (sheet width div n) x (sheet height div n), so every edge
// of a cell is scaled and truncated the same way, each on its own: all frames keep one size
// (the sprite size div n), none reaches past the image, and where the sizes divide evenly
// the rectangles are exact. Where they do not (a 30-pixel sprite quartered is 7 wide), the
// resampled image drifts from the rectangles by less than a pixel, and a sprite narrower
// than n gets a frame 0 wide: it has no whole pixel in that file.
CellRect CellInFile(const SheetGrid& grid, int index, FileScale scale) {
  const auto scaled = [&](int64_t edge) {
    return static_cast<int>(edge * scale.grow / scale.shrink);
  };
  const int col = grid.cells_across > 0 ? index % grid.cells_across : 0;
  const int row = grid.cells_across > 0 ? index / grid.cells_across : 0;
  return CellRect{scaled(int64_t{col} * grid.cell_width), scaled(int64_t{row} * grid.cell_height),
                  scaled(grid.cell_width), scaled(grid.cell_height)};
}

std::string CellNumber(const SheetGrid& grid, int index) {
  const int last = CellCount(grid) - 1;
  const int digits = std::max<int>(kMinimumDigits, std::to_string(std::max(last, 0)).size());
  std::string number = std::to_string(index);
  if (static_cast<int>(number.size()) < digits) number.insert(0, digits - number.size(), '0');
  return number;
}

std::string SpriteKey(const SheetGrid& grid, int index) {
  return kFramePrefix + CellNumber(grid, index);
}

String SpriteFileName(const String& name, const SheetGrid& grid, int index) {
  return name + u"-" + TextFromBytes(CellNumber(grid, index)) + kPngSuffix;
}

String AtlasNameFor(const String& png_name) {
  const bool has_png = png_name.size() >= kPngSuffix.size() &&
                       png_name.compare(png_name.size() - kPngSuffix.size(), kPngSuffix.size(),
                                        kPngSuffix) == 0;
  return (has_png ? png_name.substr(0, png_name.size() - kPngSuffix.size()) : png_name) +
         kJsonSuffix;
}

// Note: the frames object keeps its keys sorted; the cell numbers have one width per sheet,
// so that order is the drawing order.
std::string AtlasJson(const SheetGrid& grid, FileScale scale, int image_width,
                      int image_height, const String& image_name, int meta_scale) {
  Json frames = Json::object();
  const int count = CellCount(grid);
  for (int index = 0; index < count; ++index) {
    const CellRect frame = CellInFile(grid, index, scale);
    // Cells are stored whole and upright: the sprite's source is the frame itself.
    frames[SpriteKey(grid, index)] = {
        {"frame", RectJson(frame)},
        {"rotated", false},
        {"trimmed", false},
        {"spriteSourceSize", RectJson(CellRect{0, 0, frame.w, frame.h})},
        {"sourceSize", SizeJson(frame.w, frame.h)},
    };
  }
  // Note: "scale" is text, as the layout's first writers put it; the readers that use it
  // (PixiJS takes it as the image's resolution) accept text, and typed importers expect it.
  const Json atlas = {
      {"frames", std::move(frames)},
      {"meta",
       {
           {"app", kAtlasApp},
           {"version", kAtlasVersion},
           {"image", FileNameOnly(image_name)},
           {"format", kAtlasFormat},
           {"size", SizeJson(image_width, image_height)},
           {"scale", std::to_string(meta_scale)},
       }},
  };
  // Note: names are read byte by byte; "replace" keeps a name that is not valid UTF-8 from
  // stopping the atlas (such a byte becomes U+FFFD).
  return atlas.dump(kIndent, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string ReplaceFileWith(const String& name, const std::string& bytes) {
  // The same replacement the PNG files get: a complete temporary file beside the target
  // takes its place, with every rule of "overwrite this file" (links, permissions, owners).
  // The reason told is that of the first call that failed: open, write, flush, close or
  // rename.
  TFileReplacement replacement;
  if (!replacement.Begin(name)) return std::strerror(replacement.error);
  try {
    replacement.stream->WriteBytes(bytes.data(), static_cast<int64_t>(bytes.size()));
  } catch (const TStreamException&) {
    replacement.Abandon();
    return std::strerror(replacement.error != 0 ? replacement.error : EIO);
  }
  if (!replacement.Commit(static_cast<int64_t>(bytes.size()))) {
    return std::strerror(replacement.error);
  }
  return std::string();
}
