// What every 2D driver works out the same way from the front end's arguments: colour and
// alpha bytes, transformed vertices, the polygon of an oval, and the pixmaps a texture is
// made from. The drivers share it so that they hand their renderers the same numbers.
// Depends on pixmaps. Keeps no state.
#pragma once

#include <cmath>  // for std::fabs, std::sin, std::cos
#include <cstdint>

#include "pixmap/pixmap.h"
#include "runtime/degrees.h"

// Pixel centres sit half a unit inside each pixel; points and lines aim at them.
constexpr double kPixelCentre = 0.5;

// A colour value clamped to 0..255.
uint8_t ColourByte(int value);
// An alpha clamped to 0..1 (not a number counts as 0), times 255 in float32, truncated:
// 0.1 gives 25 and 0.0075 gives 1.
uint8_t AlphaByte(float alpha);

// The 2x2 matrix of SetTransform, held in double for the vertex sums.
struct TDeviceTransform {
  double ix = 1, iy = 0, jx = 0, jy = 1;
};

// A local point through the transform, translated (and shifted by `offset` in x and y),
// summed in double and rounded to float32 at the end.
inline void TransformPoint(const TDeviceTransform& t, double lx, double ly, double tx,
                           double ty, double offset, float& x, float& y) {
  x = static_cast<float>(lx * t.ix + ly * t.iy + tx + offset);
  y = static_cast<float>(lx * t.jx + ly * t.jy + ty + offset);
}

// Number of corners of the polygon that stands for an oval with radii xr and yr.
int OvalSegments(float xr, float yr);

// Calls emit(x, y) for each corner of the oval inscribed in (x0, y0)-(x1, y1), in local
// coordinates: the rightmost first, then counter-clockwise on the screen. x is rounded to
// float32, y kept in double, as the vertex sum takes them.
template <class Emit>
void ForEachOvalPoint(float x0, float y0, float x1, float y1, Emit&& emit) {
  const float xr = static_cast<float>((static_cast<double>(x1) - x0) * 0.5);
  const float yr = static_cast<float>((static_cast<double>(y1) - y0) * 0.5);
  const int segments = OvalSegments(xr, yr);
  const float cx = static_cast<float>(static_cast<double>(x0) + xr);
  const float cy = static_cast<float>(static_cast<double>(y0) + yr);
  for (int i = 0; i < segments; ++i) {
    const double degrees = static_cast<float>(i * 360.0 / segments);
    const double radians = degrees * kDegToRad;
    const float x = static_cast<float>(cx + std::cos(radians) * xr);
    const double y = cy - std::sin(radians) * yr;
    emit(x, y);
  }
}

// The texture size for a width x height pixmap: each side raised to a power of two, then
// both sides above 1 halved until `accepts` takes the size. Raises "Unable to calculate tex
// size" when not even 1 x 1 is accepted.
void FindTextureSize(int width, int height, bool (*accepts)(int width, int height),
                     int& tex_width, int& tex_height);

// Level 0 of a tex_width x tex_height texture made from `pixmap`, as PIXFMT_RGBA32: a pixmap
// too large is resized to fit; a smaller one sits at (0, 0), padded with a copy of its last
// column and row (so filtered sampling at its edge does not pick up texels from outside
// it) and transparent black beyond. `width` and `height` receive the size of the image
// inside the texture. Null for an empty pixmap.
Ref<TPixmap> TexturePixmap(const Ref<TPixmap>& pixmap, int tex_width, int tex_height,
                           int& width, int& height);

// The next mipmap level: each side above 1 halved, resampled.
Ref<TPixmap> NextMipLevel(const Ref<TPixmap>& level);
