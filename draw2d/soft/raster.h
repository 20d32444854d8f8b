// Software rasteriser: turns points, lines, triangles, textured triangles, clears and pixel
// copies into the pixels of an RGBA surface in main memory.
// It follows the aliased rasterisation rules of OpenGL 1.1 as a GL implementation applies
// them (positions snapped to 1/256 pixel, diamond-exit lines with integer widths, pixel-
// centre sampling with a top-left tie rule, 8-bit blending), so that it draws what the GL
// 2D driver draws, and the same pixels on every machine.
// Depends on nothing but the C++ library. Keeps no state: every call gets its surface,
// clip rectangle and paint.
#pragma once

#include <cstddef>
#include <cstdint>

// What a primitive does to the pixels it covers. Colours and alpha are bytes; blending
// works on all four channels, as a GL blends into an RGBA buffer.
enum class TRasterBlend : uint8_t {
  Solid,     // source replaces destination
  Mask,      // like Solid, but fragments with alpha below 128 are discarded
  Alpha,     // source x alpha + destination x (255 - alpha)
  Additive,  // source x alpha + destination, saturated
  Multiply,  // destination x source
};

// The pixels drawn into: RGBA bytes, row 0 at the top.
struct TRasterSurface {
  uint8_t* pixels = nullptr;
  int pitch = 0;  // bytes from one row to the next
  int width = 0;
  int height = 0;
};

// The pixels that drawing may change: x0 <= x < x1 and y0 <= y < y1, rows counted from the
// top. Any rectangle is safe: the rasteriser intersects it with the surface before it
// touches a pixel.
struct TRasterClip {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// Flat colour and blend rule of one primitive.
struct TRasterPaint {
  uint8_t rgba[4] = {255, 255, 255, 255};
  TRasterBlend blend = TRasterBlend::Solid;
};

// One level of a texture: RGBA texels, row 0 at the top (texture coordinate t = 0).
struct TRasterTexels {
  const uint8_t* texels = nullptr;
  int pitch = 0;
  int width = 0;
  int height = 0;
};

constexpr int kMaxTextureLevels = 16;

// A texture as the GL driver makes one: level 0 and, when mipmapped, each halved level
// down to 1 x 1. Coordinates outside 0..1 clamp to the edge texels.
struct TRasterTexture {
  TRasterTexels levels[kMaxTextureLevels];
  int level_count = 0;
  bool filtered = false;  // linear sampling; nearest otherwise
};

// The rectangle intersected with the surface; empty (x1 <= x0 or y1 <= y0) when they do
// not meet.
TRasterClip ClipToSurface(const TRasterSurface& surface, int x, int y, int width, int height);

// The values below take positions in window pixels with y growing downwards, as a GL
// driver emits its vertices: pixel (px, py) spans px..px+1 by py..py+1.

// Sets every pixel of the clip rectangle to the colour (no blending).
void RasterClear(const TRasterSurface& surface, const TRasterClip& clip,
                 const uint8_t rgba[4]);
// One pixel: the one whose square holds (x, y).
void RasterPoint(const TRasterSurface& surface, const TRasterClip& clip,
                 const TRasterPaint& paint, float x, float y);
// A line segment from (x0, y0) to (x1, y1) of a whole-pixel width (at least 1).
void RasterLine(const TRasterSurface& surface, const TRasterClip& clip,
                const TRasterPaint& paint, float x0, float y0, float x1, float y1, int width);
// A filled triangle through three (x, y) corners, either winding.
void RasterTriangle(const TRasterSurface& surface, const TRasterClip& clip,
                    const TRasterPaint& paint, const float xy[6]);
// A textured triangle: corner k at (xy[2k], xy[2k + 1]) takes texture coordinates
// (st[2k], st[2k + 1]); texels are multiplied by the paint's colour and alpha.
void RasterTexturedTriangle(const TRasterSurface& surface, const TRasterClip& clip,
                            const TRasterPaint& paint, const float xy[6], const float st[6],
                            const TRasterTexture& texture);
// Copies RGBA rows unchanged with their top-left pixel at (x, y).
void RasterCopy(const TRasterSurface& surface, const TRasterClip& clip, const uint8_t* rgba,
                int pitch, int width, int height, int x, int y);
