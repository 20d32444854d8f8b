// The image data of a PNG file (the zlib stream its IDAT chunks carry), filtered and
// compressed by several threads at once.
// The rows are cut into bands of about kBandBytes; each band is filtered and deflated on
// its own, primed with the 32 KiB of filtered data before it (what one deflate stream would
// still see) and ended on a byte boundary, and the bands are joined into one zlib stream.
// The bands do not depend on the number of threads, so neither do the bytes.
// Depends on pixmaps (their formats and row conversion) and zlib. State: none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pixmap/pixmap.h"

// Filtered bytes a band holds at least (whole rows; a wider row is a band of its own).
constexpr std::size_t kBandBytes = 1024 * 1024;

struct TPngRows {
  const uint8_t* const* rows;  // the first byte of each row
  int width = 0;
  int height = 0;
  // PIXFMT_GREY8, RGB24 or RGBA32, or BGR24 or BGRA32, whose rows go out red first.
  int format = PIXFMT_RGBA32;
};

// The layout of the file's pixels for rows of the given format: blue-first formats turn
// red first.
int PngFileFormat(int format);

// The zlib stream of the image at compression level 0 to 9, in pieces (one a band) whose
// concatenation is the stream. Each row goes out with the filter whose bytes have the
// smallest sum of absolute values (libpng's own heuristic). `threads` 0 means one per
// core. Raises std::bad_alloc when zlib finds no memory.
std::vector<std::vector<uint8_t>> CompressPngRows(const TPngRows& image, int level,
                                                  int threads);
