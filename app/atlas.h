// Atlas and sprite files: where every cell of a sheet lies in each sheet file, the atlas
// text that game engines import (the "JSON hash" layout: frames keyed sprite_000,
// sprite_001, ... in drawing order, and a meta block naming the image), the names of the
// single-sprite files, and the replacing write of a small text file.
// Depends on nlohmann-json (the JSON text) and the runtime's texts. State: none.
#pragma once

#include <string>

#include "runtime/object.h"

// The whole cells of a sheet, as drawn: row by row, left to right.
struct SheetGrid {
  int cells_across = 0;
  int cells_down = 0;
  int cell_width = 0;
  int cell_height = 0;
};

// How the pixels of one sheet file relate to the sheet as drawn: every edge is multiplied
// by `grow`, then divided by `shrink` (truncating), the way the file's own size was made.
struct FileScale {
  int grow = 1;
  int shrink = 1;
};

// A rectangle in a file's pixels.
struct CellRect {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
};

// The grid of whole sprite cells that fit on the sheet; no cells for a sprite size below 1.
SheetGrid GridOfSheet(int sheet_width, int sheet_height, int sprite_width, int sprite_height);
// Number of cells in the grid.
int CellCount(const SheetGrid& grid);
// Cell `index` (drawing order) in the pixels of a file of the given scale.
CellRect CellInFile(const SheetGrid& grid, int index, FileScale scale);

// The cell's number as it appears in frame keys and sprite file names: at least three
// digits, and as many as the grid's last number needs, so that names sort in drawing order.
std::string CellNumber(const SheetGrid& grid, int index);
// The frame key of a cell in the atlas: "sprite_000".
std::string SpriteKey(const SheetGrid& grid, int index);
// The file of a single sprite: the output name, "-", the cell's number, ".png".
String SpriteFileName(const String& name, const SheetGrid& grid, int index);
// The atlas beside a PNG file: the same name with ".json" for its ".png".
String AtlasNameFor(const String& png_name);

// The atlas of one sheet file of image_width x image_height pixels: every cell's frame in
// that file, and meta naming the image (its file name, without any folder). meta_scale is
// how many of the file's pixels stand for one pixel of the run's plain ".png" file.
std::string AtlasJson(const SheetGrid& grid, FileScale scale, int image_width,
                      int image_height, const String& image_name, int meta_scale);

// Replaces the file `name` with the bytes as the PNG files are replaced (a complete
// temporary file takes its place; links, permissions and owners are kept, a read-only file
// is refused), so a failed write never leaves a damaged file behind nor loses the one that
// was there. Returns "" on success, else the reason.
std::string ReplaceFileWith(const String& name, const std::string& bytes);
