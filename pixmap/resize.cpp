// Pixmap resize: bilinear samples of the source taken at pixel centres, channel by channel,
// alpha included. Works in RGBA32 and gives the result in the caller's format.
// Depends on the pixmap core. Keeps no state.
#include <cmath>  // for std::floor
#include <vector>

#include "pixmap/pixmap.h"

namespace {

// Position of a destination sample in source pixels, with the interpolation weight and the
// byte step to the second sample. Note: the position, index and weight are single precision
// on purpose: the sample grid (for instance the exact 0.5 offsets of halving) depends on it.
struct Sample {
  int index;
  float weight;
  bool step;  // false at the edges, where both samples are the edge pixel
};

Sample SampleAt(int destination, float scale, int sourceSize) {
  float f = static_cast<float>((destination + 0.5L) * scale - 0.5L);
  int i = static_cast<int>(std::floor(f));
  float t = f - static_cast<float>(i);
  if (i < 0) return {0, 0.0f, false};
  if (i >= sourceSize - 1) return {sourceSize - 1, 0.0f, false};
  return {i, t, true};
}

}  // namespace

// New pixmap of the requested size, bilinearly resampled from the source.
Ref<TPixmap> PixmapResize(const Ref<TPixmap>& pixmap, int width, int height) {
  int format = pixmap->format;
  // Note: a size below 1 asks for no pixels; the answer is an empty pixmap, not a crash.
  if (width < 1 || height < 1) return PixmapCreate(width < 0 ? 0 : width, height < 0 ? 0 : height, format, 4);
  Ref<TPixmap> result = PixmapCreate(width, height, format, 4);
  int sw = pixmap->width, sh = pixmap->height;
  if (sw < 1 || sh < 1) {
    // Note: an empty source has nothing to sample; the result is transparent black.
    result->ClearPixels(0);
    return result;
  }

  Ref<TPixmap> source = format == PIXFMT_RGBA32 ? pixmap : pixmap->Convert(PIXFMT_RGBA32);
  float xs = static_cast<float>(sw) / static_cast<float>(width);
  float ys = static_cast<float>(sh) / static_cast<float>(height);
  std::vector<uint8_t> scratch(static_cast<std::size_t>(width) * 4);

  for (int y = 0; y < height; ++y) {
    Sample row = SampleAt(y, ys, sh);
    std::ptrdiff_t rowStep = row.step ? source->pitch : 0;
    long double ty = row.weight;
    const uint8_t* base = source->PixelPtr(0, row.index);
    uint8_t* out = scratch.data();
    for (int x = 0; x < width; ++x, out += 4) {
      Sample column = SampleAt(x, xs, sw);
      std::ptrdiff_t columnStep = column.step ? 4 : 0;
      long double tx = column.weight;
      const uint8_t* p = base + static_cast<std::ptrdiff_t>(column.index) * 4;
      for (int k = 0; k < 4; ++k) {
        long double a = p[k], b = p[k + columnStep];
        long double c = p[k + rowStep], d = p[k + rowStep + columnStep];
        long double top = a + (b - a) * tx;
        long double bottom = c + (d - c) * tx;
        out[k] = static_cast<uint8_t>(static_cast<int>(top + (bottom - top) * ty));
      }
    }
    ConvertPixelRow(scratch.data(), PIXFMT_RGBA32, result->PixelPtr(0, y), format, width);
  }
  return result;
}
