// Shared device arithmetic of the 2D drivers.
#include "draw2d/device.h"

#include <algorithm>  // for std::min

namespace {

constexpr int kMinOvalSegments = 12;
constexpr float kMaxOvalSpan = 2147483520.0f;  // the largest float below 2^31

int NextPowerOfTwo(int n) {
  int p = 1;
  while (p < n) p <<= 1;
  return p;
}

}  // namespace

uint8_t ColourByte(int value) {
  return static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

uint8_t AlphaByte(float alpha) {
  if (alpha > 1.0f) alpha = 1.0f;
  if (!(alpha >= 0.0f)) alpha = 0.0f;  // negative or not a number
  // Note: the product is taken in float32 and truncated.
  const float scaled = alpha * 255.0f;
  return static_cast<uint8_t>(static_cast<int>(scaled));
}

int OvalSegments(float xr, float yr) {
  const float span = std::fabs(xr) + std::fabs(yr);
  // Note: a span past the int range (or not a number) has no segment count to truncate to.
  int segments = span < kMaxOvalSpan ? static_cast<int>(span) : kMinOvalSegments;
  if (segments < kMinOvalSegments) segments = kMinOvalSegments;
  return segments & ~3;  // a multiple of 4
}

void FindTextureSize(int width, int height, bool (*accepts)(int width, int height),
                     int& tex_width, int& tex_height) {
  tex_width = NextPowerOfTwo(width);
  tex_height = NextPowerOfTwo(height);
  while (!accepts(tex_width, tex_height)) {
    if (tex_width == 1 && tex_height == 1) throw TRuntimeError("Unable to calculate tex size");
    if (tex_width > 1) tex_width /= 2;
    if (tex_height > 1) tex_height /= 2;
  }
}

Ref<TPixmap> TexturePixmap(const Ref<TPixmap>& pixmap, int tex_width, int tex_height,
                           int& width, int& height) {
  width = height = 0;
  if (!pixmap || pixmap->width <= 0 || pixmap->height <= 0) return nullptr;
  Ref<TPixmap> source = pixmap;
  if (tex_width < source->width || tex_height < source->height) {
    source = PixmapResize(source, std::min(source->width, tex_width),
                          std::min(source->height, tex_height));
  }
  width = source->width;
  height = source->height;
  if (tex_width == width && tex_height == height) {
    return source->format == PIXFMT_RGBA32 ? source : source->Convert(PIXFMT_RGBA32);
  }
  Ref<TPixmap> padded = TPixmap::Create(tex_width, tex_height, PIXFMT_RGBA32, 4);
  padded->ClearPixels(0);
  padded->Paste(source, 0, 0);
  if (width < tex_width) padded->Paste(source->Window(width - 1, 0, 1, height), width, 0);
  if (height < tex_height) padded->Paste(source->Window(0, height - 1, width, 1), 0, height);
  if (width < tex_width && height < tex_height) {
    padded->Paste(source->Window(width - 1, height - 1, 1, 1), width, height);
  }
  return padded;
}

Ref<TPixmap> NextMipLevel(const Ref<TPixmap>& level) {
  const int width = level->width > 1 ? level->width / 2 : 1;
  const int height = level->height > 1 ? level->height / 2 : 1;
  return PixmapResize(level, width, height);
}
