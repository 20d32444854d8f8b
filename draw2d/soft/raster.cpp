// Software rasteriser. Geometry is worked out the way a GL rasteriser works it out:
// - positions go to window coordinates with y growing upwards (row 0 at the bottom),
//   pixel centres at half-integers, and are snapped to 1/256 pixel, rounding halves to
//   even for polygon corners and up for lines and points, as the GL does;
// - a point whose position lies outside the window draws nothing, a line that leaves the
//   window is cut at its edge, and a triangle that reaches past the window is cut at it
//   as the GL cuts it (see TClipSpace), or at a frame around it where single precision
//   cannot (see kGuard), so positions of any size are drawn clipped;
// - a pixel is covered when its centre is inside a primitive's edges; a centre exactly on
//   an edge belongs to the primitive when the edge is a left or bottom one (in y-up terms,
//   edges walked counter-clockwise going down, or going right along the bottom), so shared
//   edges are drawn once;
// - a line is a parallelogram whose ends are moved so that it covers the pixels the
//   diamond-exit rule gives (see LineShape), as wide as its width rounded to whole pixels;
// - blending is done in bytes with the GL's product rounding (see MulByte); a texel is
//   multiplied by the colour with exact rounding (see MulByteExact).
// Set-up (snapping, edge slopes, blend constants) happens once per primitive; the loops
// that touch pixels only step and write.
#include "draw2d/soft/raster.h"

#include <algorithm>  // for std::min, std::max, std::swap
#include <cmath>      // for std::floor, std::fabs, std::frexp, std::lrintf, std::isfinite
#include <cstring>    // for std::memcpy
#include <limits>

namespace {

// Positions are snapped to this many steps per pixel.
constexpr int kSubpixelBits = 8;
constexpr int kSubpixelSteps = 1 << kSubpixelBits;
// Fragments whose alpha byte is below this are discarded by the mask blend (alpha < 0.5).
constexpr int kMaskThreshold = 128;

// --- Pixel arithmetic

inline uint32_t Load(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, 4);
  return value;
}

inline void Store(uint8_t* p, uint32_t value) { std::memcpy(p, &value, 4); }

inline uint32_t Pack(const uint8_t rgba[4]) { return Load(rgba); }

// x * y / 255 for bytes, rounded as a GL blend unit rounds it: (t + (t >> 8) + 128) >> 8
// with t = x * y. It is exact for y = 255 and one below exact rounding for a few products.
inline uint32_t MulByte(uint32_t x, uint32_t y) {
  const uint32_t t = x * y;
  return (t + (t >> 8) + 128) >> 8;
}

// x * y / 255 for bytes, rounded to nearest: what a GL's texture unit gives for a texel
// times the current colour.
inline uint32_t MulByteExact(uint32_t x, uint32_t y) {
  const uint32_t t = x * y + 128;
  return (t + (t >> 8)) >> 8;
}

// MulByte of the bytes in bits 0-7 and 16-23 of `lanes` (other bits clear) by k, at once:
// each product fits its 16-bit lane with room for the rounding terms.
inline uint32_t MulLanes(uint32_t lanes, uint32_t k) {
  uint32_t t = lanes * k;
  t = t + ((t >> 8) & 0x00FF00FFu) + 0x00800080u;
  return (t >> 8) & 0x00FF00FFu;
}

// MulByte of all four bytes of a pixel by k.
inline uint32_t MulPixel(uint32_t pixel, uint32_t k) {
  return MulLanes(pixel & 0x00FF00FFu, k) | (MulLanes((pixel >> 8) & 0x00FF00FFu, k) << 8);
}

// Bytewise sum, each byte saturated at 255.
inline uint32_t AddSaturated(uint32_t a, uint32_t b) {
  const uint32_t even = (a & 0x00FF00FFu) + (b & 0x00FF00FFu);
  const uint32_t odd = ((a >> 8) & 0x00FF00FFu) + ((b >> 8) & 0x00FF00FFu);
  // A lane that passed 255 has its bit 8 set; it becomes 255.
  const uint32_t even_over = (even & 0x01000100u) >> 8;
  const uint32_t odd_over = (odd & 0x01000100u) >> 8;
  const uint32_t even_sum = (even | (even_over * 0xFF)) & 0x00FF00FFu;
  const uint32_t odd_sum = (odd | (odd_over * 0xFF)) & 0x00FF00FFu;
  return even_sum | (odd_sum << 8);
}

// Bytewise product of two pixels (destination x source colour).
inline uint32_t MulPixels(uint32_t a, uint32_t b) {
  uint32_t result = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    result |= MulByte((a >> shift) & 0xFF, (b >> shift) & 0xFF) << shift;
  }
  return result;
}

// Bytewise product of a texel and the colour, each byte rounded to nearest.
inline uint32_t ModulatePixels(uint32_t texel, uint32_t colour) {
  uint32_t result = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    result |= MulByteExact((texel >> shift) & 0xFF, (colour >> shift) & 0xFF) << shift;
  }
  return result;
}

// One blend worked out for a flat colour: what a covered pixel becomes.
struct TFlatBlend {
  TRasterBlend blend = TRasterBlend::Solid;
  uint32_t colour = 0;    // the source pixel
  uint32_t src_term = 0;  // source x alpha, for Alpha and Additive
  uint32_t inverse = 0;   // 255 - alpha, for Alpha
  bool draws = true;      // false: a masked colour below the threshold draws nothing
};

TFlatBlend FlatBlend(const TRasterPaint& paint) {
  TFlatBlend flat;
  flat.blend = paint.blend;
  flat.colour = Pack(paint.rgba);
  const uint32_t alpha = paint.rgba[3];
  flat.src_term = MulPixel(flat.colour, alpha);
  flat.inverse = 255 - alpha;
  if (paint.blend == TRasterBlend::Mask) {
    // Note: a flat colour passes or fails the alpha test as a whole.
    flat.draws = alpha >= kMaskThreshold;
    flat.blend = TRasterBlend::Solid;
  }
  return flat;
}

// What a covered pixel becomes under the flat blend B.
template <TRasterBlend B>
inline uint32_t FlatPixel(const TFlatBlend& flat, uint32_t destination) {
  if constexpr (B == TRasterBlend::Alpha) {
    // Note: src_term + destination x inverse never passes 255 in any byte.
    return flat.src_term + MulPixel(destination, flat.inverse);
  } else if constexpr (B == TRasterBlend::Additive) {
    return AddSaturated(flat.src_term, destination);
  } else if constexpr (B == TRasterBlend::Multiply) {
    return MulPixels(destination, flat.colour);
  } else {
    return flat.colour;
  }
}

// Writes `count` pixels from p, `step` bytes apart.
template <TRasterBlend B>
inline void FillRun(const TFlatBlend& flat, uint8_t* p, int count, ptrdiff_t step) {
  for (; count > 0; --count, p += step) Store(p, FlatPixel<B>(flat, Load(p)));
}

// Calls fill.template operator()<B>() with the blend of `flat` as a compile-time value, so
// the loops that touch pixels are made once per blend and never branch on it.
template <class Fill>
inline void WithBlend(const TFlatBlend& flat, Fill&& fill) {
  switch (flat.blend) {
    case TRasterBlend::Alpha:
      fill.template operator()<TRasterBlend::Alpha>();
      break;
    case TRasterBlend::Additive:
      fill.template operator()<TRasterBlend::Additive>();
      break;
    case TRasterBlend::Multiply:
      fill.template operator()<TRasterBlend::Multiply>();
      break;
    default:
      fill.template operator()<TRasterBlend::Solid>();
      break;
  }
}

// The pixel a fragment of `blend` makes from `source` over `destination`.
inline uint32_t BlendPixel(TRasterBlend blend, uint32_t source, uint32_t destination) {
  const uint32_t alpha = source >> 24;
  switch (blend) {
    case TRasterBlend::Alpha:
      return MulPixel(source, alpha) + MulPixel(destination, 255 - alpha);
    case TRasterBlend::Additive:
      return AddSaturated(MulPixel(source, alpha), destination);
    case TRasterBlend::Multiply:
      return MulPixels(destination, source);
    default:
      return source;
  }
}

// --- Number helpers

// The largest magnitude of a window coordinate the rasteriser takes (2^22 pixels): within
// it the snapped values and the edge products below fit their integers.
constexpr float kMaxCoordinate = 4194304.0f;

// A triangle that single precision cannot cut at the window (one reaching far beyond it)
// is cut at a frame this many pixels outside the surface on every side instead: far
// enough that no pixel it can draw sees the cut, near enough that the cut corners keep
// float32's fine steps. (Lines are cut at the window itself, see RasterLine.)
constexpr double kGuard = 4096.0;

// floor() for values within kMaxCoordinate, without the library's general path.
inline float Floor(float value) {
  const float truncated = static_cast<float>(static_cast<int32_t>(value));
  return truncated > value ? truncated - 1.0f : truncated;
}

// Floor of n / d for d > 0, with the remainder (0 <= remainder < d).
inline int64_t FloorDiv(int64_t n, int64_t d, int64_t& remainder) {
  int64_t q = n / d;
  remainder = n - q * d;
  if (remainder < 0) {
    --q;
    remainder += d;
  }
  return q;
}

inline int64_t FloorDiv(int64_t n, int64_t d) {  // d > 0
  int64_t remainder = 0;
  return FloorDiv(n, d, remainder);
}

inline int64_t CeilDiv(int64_t n, int64_t d) { return -FloorDiv(-n, d); }  // d > 0

// q = floor(num / den) of an edge, walked one unit along at a time as num grows by `step`,
// without dividing: the whole and remainder parts of step / den are added, and a remainder
// that reaches den carries into q.
struct TEdgeWalk {
  int64_t q = 0, r = 0;            // the edge here: q whole, r / den over
  int64_t step_q = 0, step_r = 0;  // step / den, split likewise
  int64_t den = 1;

  TEdgeWalk(int64_t num, int64_t step, int64_t den) : den(den) {
    q = FloorDiv(num, den, r);
    step_q = FloorDiv(step, den, step_r);
  }
  // Moves one unit on; returns how far q moved.
  int64_t Next() {
    int64_t moved = step_q;
    r += step_r;
    if (r >= den) {
      r -= den;
      ++moved;
    }
    q += moved;
    return moved;
  }
};

// A line's or point's window coordinate on the 1/256 grid, halves rounded up.
inline int32_t Snap(float value) {
  return static_cast<int32_t>(Floor(value * static_cast<float>(kSubpixelSteps) + 0.5f));
}

// A polygon corner's window coordinate on the 1/256 grid, halves rounded to even, as a
// GL rounds them. Note: lrintf rounds in the default mode, to nearest with ties to even.
inline int32_t SnapCorner(float value) {
  return static_cast<int32_t>(std::lrintf(value * static_cast<float>(kSubpixelSteps)));
}

// Rows in y-up numbering (M) that the clip allows: rows top-down y0 .. y1 - 1 are
// M = height - y1 .. height - 1 - y0.
struct TRowRange {
  int low, high;  // inclusive
};

inline TRowRange ClipRows(const TRasterSurface& surface, const TRasterClip& clip) {
  return {surface.height - clip.y1, surface.height - 1 - clip.y0};
}

// Address of pixel column L in y-up row M.
inline uint8_t* PixelAt(const TRasterSurface& surface, int column, int row_up) {
  return surface.pixels + static_cast<ptrdiff_t>(surface.height - 1 - row_up) * surface.pitch +
         static_cast<ptrdiff_t>(column) * 4;
}

// --- Lines

// The parallelogram a line covers, in 1/256 pixel with pixel centres on whole pixels:
// corners 0 and 3 at the first end, 1 and 2 at the other, corners 0 and 1 on the lower
// (x-major) or left (y-major) side, `half` the half width.
struct TLineShape {
  bool x_major = true;
  int32_t end0_x = 0, end0_y = 0, end1_x = 0, end1_y = 0;  // centre line ends
  int32_t half = 0;
  int width = 1;
};

inline int SignOf(float value) { return value < 0 ? -1 : 1; }
inline float Fraction(float value) { return value - Floor(value); }

// Works out a line's parallelogram from its ends (window coordinates, y up) by the
// diamond-exit rule: a pixel is drawn when the segment leaves the diamond |dx| + |dy| < 1/2
// around the pixel's centre, so a line from centre to centre draws its first pixel and
// not its last. The parallelogram spans the major axis from end to end; where that would
// draw a different first or last pixel than the rule, the end is moved along the line to
// the pixel edge. A width w covers w pixels across the minor axis, centred on the line.
// Note: the arithmetic is single precision, as a GL rasteriser does it; exact ties
// (ends on pixel edges) then resolve the same way.
bool LineShape(float v1x, float v1y, float v2x, float v2y, int width, TLineShape& shape) {
  float dx = v1x - v2x;
  float dy = v1y - v2y;
  if (dx * dx + dy * dy == 0) return false;
  float x_offset = 0, y_offset = 0, x_offset_end = 0, y_offset_end = 0;
  shape.width = width;
  shape.half = width * kSubpixelSteps / 2;
  const float x1diff = v1x - Floor(v1x) - 0.5f;
  const float y1diff = v1y - Floor(v1y) - 0.5f;
  float x2diff = v2x - Floor(v2x) - 0.5f;
  float y2diff = v2y - Floor(v2y) - 0.5f;

  // A segment that starts and ends inside the diamond of one pixel never leaves it and
  // draws nothing. Note: only a segment shorter than one pixel (along both axes summed)
  // can; the test goes first, since most lines are longer.
  if (std::fabs(dx) + std::fabs(dy) < 1.0f && std::fabs(x1diff) + std::fabs(y1diff) < 0.5f &&
      std::fabs(x2diff) + std::fabs(y2diff) < 0.5f && Floor(v1x) == Floor(v2x) &&
      Floor(v1y) == Floor(v2y)) {
    return false;
  }
  if (std::fabs(dx) >= std::fabs(dy)) {
    shape.x_major = true;
    const float dydx = dy / dx;
    // Note: an end exactly on a pixel's lower edge counts as on its upper one when the
    // line falls towards it.
    if (y2diff == -0.5f && dy < 0) y2diff = 0.5f;

    bool draw_start;
    if (std::fabs(x1diff) + std::fabs(y1diff) < 0.5f) {
      draw_start = true;  // starts inside the diamond, so leaves it
    } else if (SignOf(x1diff) == SignOf(-dx)) {
      draw_start = false;  // already past the centre column
    } else if (SignOf(-y1diff) != SignOf(dy)) {
      draw_start = true;
    } else {
      const float intersect = Fraction(v1y) + x1diff * dydx;
      draw_start = intersect < 1.0f && intersect > 0.0f;
    }
    bool draw_end;
    if (std::fabs(x2diff) + std::fabs(y2diff) < 0.5f) {
      draw_end = false;  // ends inside the diamond, so never leaves it
    } else if (SignOf(x2diff) != SignOf(-dx)) {
      draw_end = false;
    } else if (SignOf(-y2diff) == SignOf(dy)) {
      draw_end = true;
    } else {
      const float intersect = Fraction(v2y) + x2diff * dydx;
      draw_end = intersect < 1.0f && intersect > 0.0f;
    }
    // What the plain parallelogram would draw at each end.
    const bool will_draw_start = SignOf(-x1diff) != SignOf(dx);
    const bool will_draw_end = SignOf(x2diff) == SignOf(-dx) || x2diff == 0;

    if (dx < 0) {
      std::swap(v1x, v2x);
      std::swap(v1y, v2y);
      if (will_draw_start != draw_start) {
        x_offset_end = -x1diff - 0.5f;
        y_offset_end = x_offset_end * dydx;
      }
      if (will_draw_end != draw_end) {
        x_offset = -x2diff - 0.5f;
        y_offset = x_offset * dydx;
      }
    } else {
      if (will_draw_start != draw_start) {
        x_offset = -x1diff + 0.5f;
        y_offset = x_offset * dydx;
      }
      if (will_draw_end != draw_end) {
        x_offset_end = -x2diff + 0.5f;
        y_offset_end = x_offset_end * dydx;
      }
    }
  } else {
    shape.x_major = false;
    const float dxdy = dx / dy;
    // Note: likewise for an end on a pixel's left edge, also when the line is vertical.
    if (x2diff == -0.5f && dx <= 0) x2diff = 0.5f;

    bool draw_start;
    if (std::fabs(x1diff) + std::fabs(y1diff) < 0.5f) {
      draw_start = true;
    } else if (SignOf(-y1diff) == SignOf(dy)) {
      draw_start = false;
    } else if (SignOf(x1diff) != SignOf(-dx)) {
      draw_start = true;
    } else {
      const float intersect = Fraction(v1x) + y1diff * dxdy;
      draw_start = intersect < 1.0f && intersect > 0.0f;
    }
    bool draw_end;
    if (std::fabs(x2diff) + std::fabs(y2diff) < 0.5f) {
      draw_end = false;
    } else if (SignOf(-y2diff) != SignOf(dy)) {
      draw_end = false;
    } else if (SignOf(x2diff) == SignOf(-dx)) {
      draw_end = true;
    } else {
      const float intersect = Fraction(v2x) + y2diff * dxdy;
      draw_end = intersect < 1.0f && intersect > 0.0f;
    }
    const bool will_draw_start = SignOf(y1diff) == SignOf(dy);
    const bool will_draw_end = SignOf(-y2diff) == SignOf(dy) || y2diff == 0;

    if (dy > 0) {
      std::swap(v1x, v2x);
      std::swap(v1y, v2y);
      if (will_draw_start != draw_start) {
        y_offset_end = -y1diff + 0.5f;
        x_offset_end = y_offset_end * dxdy;
      }
      if (will_draw_end != draw_end) {
        y_offset = -y2diff + 0.5f;
        x_offset = y_offset * dxdy;
      }
    } else {
      if (will_draw_start != draw_start) {
        y_offset = -y1diff - 0.5f;
        x_offset = y_offset * dxdy;
      }
      if (will_draw_end != draw_end) {
        y_offset_end = -y2diff - 0.5f;
        x_offset_end = y_offset_end * dxdy;
      }
    }
  }
  // Pixel centres move onto whole positions.
  shape.end0_x = Snap(v1x + x_offset - 0.5f);
  shape.end0_y = Snap(v1y + y_offset - 0.5f);
  shape.end1_x = Snap(v2x + x_offset_end - 0.5f);
  shape.end1_y = Snap(v2y + y_offset_end - 0.5f);
  return true;
}

// Fills an x-major line's parallelogram column by column: columns between its two
// vertical ends (the left end included), and in each the `width` rows above its lower
// edge. A centre on the lower edge belongs to the line when that edge falls to the right
// (the upper edge then rises to the right and keeps its centres out, and the other way
// round), so every column has exactly `width` rows.
template <TRasterBlend B>
void FillXMajor(const TRasterSurface& surface, const TRasterClip& clip,
                const TFlatBlend& flat, const TLineShape& shape) {
  int64_t left_x = shape.end0_x, left_y = shape.end0_y - shape.half;
  int64_t right_x = shape.end1_x, right_y = shape.end1_y - shape.half;
  if (left_x == right_x) return;
  if (left_x > right_x) {
    std::swap(left_x, right_x);
    std::swap(left_y, right_y);
  }
  int64_t first = CeilDiv(left_x, kSubpixelSteps);
  int64_t last = CeilDiv(right_x, kSubpixelSteps) - 1;
  first = std::max<int64_t>(first, clip.x0);
  last = std::min<int64_t>(last, clip.x1 - 1);
  if (first > last) return;
  const TRowRange rows = ClipRows(surface, clip);

  // Lowest row of column L: the smallest M with 256 M above the lower edge (or on it),
  // M = floor((num - inclusive) / den) + 1, num = y_left * D + (y_right - y_left) * (256 L
  // - x_left), den = 256 D; stepped from column to column without dividing.
  const int64_t run = right_x - left_x;
  const int64_t den = run * kSubpixelSteps;
  const int64_t rise = right_y - left_y;
  const int64_t inclusive = rise <= 0 ? 1 : 0;
  const int64_t num = left_y * run + rise * (first * kSubpixelSteps - left_x) - inclusive;
  TEdgeWalk edge(num, rise * kSubpixelSteps, den);
  const ptrdiff_t up = -static_cast<ptrdiff_t>(surface.pitch);

  // A line whose rows all lie inside the clip (the sprite's lines lie inside their cell)
  // is filled without clipping each column: the pixel address steps along with q.
  const int64_t lowest = FloorDiv(std::min(left_y, right_y), kSubpixelSteps);
  const int64_t highest = CeilDiv(std::max(left_y, right_y), kSubpixelSteps) + shape.width;
  if (lowest >= rows.low && highest <= rows.high) {
    uint8_t* p = PixelAt(surface, static_cast<int>(first), static_cast<int>(edge.q + 1));
    for (int64_t count = last - first + 1; count > 0; --count) {
      FillRun<B>(flat, p, shape.width, up);
      p += 4 + edge.Next() * up;
    }
    return;
  }
  for (int64_t column = first; column <= last; ++column, edge.Next()) {
    const int64_t low = std::max<int64_t>(edge.q + 1, rows.low);
    const int64_t high = std::min<int64_t>(edge.q + shape.width, rows.high);
    if (low <= high) {
      FillRun<B>(flat, PixelAt(surface, static_cast<int>(column), static_cast<int>(low)),
                 static_cast<int>(high - low + 1), up);
    }
  }
}

// Fills a y-major line's parallelogram row by row: rows between its two horizontal ends
// (the lower end included), and in each the `width` pixels from its left edge on, a
// centre on the left edge included.
template <TRasterBlend B>
void FillYMajor(const TRasterSurface& surface, const TRasterClip& clip,
                const TFlatBlend& flat, const TLineShape& shape) {
  int64_t low_x = shape.end0_x - shape.half, low_y = shape.end0_y;
  int64_t high_x = shape.end1_x - shape.half, high_y = shape.end1_y;
  if (low_y == high_y) return;
  if (low_y > high_y) {
    std::swap(low_x, high_x);
    std::swap(low_y, high_y);
  }
  const TRowRange rows = ClipRows(surface, clip);
  int64_t first = std::max<int64_t>(CeilDiv(low_y, kSubpixelSteps), rows.low);
  int64_t last = std::min<int64_t>(CeilDiv(high_y, kSubpixelSteps) - 1, rows.high);
  if (first > last) return;

  // Leftmost column of row M: ceil of the left edge's x there, stepped like FillXMajor.
  const int64_t run = high_y - low_y;
  const int64_t den = run * kSubpixelSteps;
  const int64_t drift = high_x - low_x;
  const int64_t num = low_x * run + drift * (first * kSubpixelSteps - low_y) - 1;
  TEdgeWalk edge(num, drift * kSubpixelSteps, den);

  // Unclipped rows, as in FillXMajor.
  const int64_t leftmost = FloorDiv(std::min(low_x, high_x), kSubpixelSteps);
  const int64_t rightmost = CeilDiv(std::max(low_x, high_x), kSubpixelSteps) + shape.width;
  if (leftmost >= clip.x0 && rightmost <= clip.x1 - 1) {
    uint8_t* p = PixelAt(surface, static_cast<int>(edge.q + 1), static_cast<int>(first));
    const ptrdiff_t up = -static_cast<ptrdiff_t>(surface.pitch);
    for (int64_t count = last - first + 1; count > 0; --count) {
      FillRun<B>(flat, p, shape.width, 4);
      p += edge.Next() * 4 + up;
    }
    return;
  }
  for (int64_t row = first; row <= last; ++row, edge.Next()) {
    const int64_t left = std::max<int64_t>(edge.q + 1, clip.x0);
    const int64_t right = std::min<int64_t>(edge.q + shape.width, clip.x1 - 1);
    if (left <= right) {
      FillRun<B>(flat, PixelAt(surface, static_cast<int>(left), static_cast<int>(row)),
                 static_cast<int>(right - left + 1), 4);
    }
  }
}

// --- Triangles

// A triangle snapped to the grid and wound counter-clockwise (y up).
struct TSnappedTriangle {
  int64_t x[3], y[3];
};

// Snaps a triangle given in window coordinates (y down) within the rasteriser's range;
// false when it has no area.
bool SnapTriangle(const TRasterSurface& surface, const float xy[6], TSnappedTriangle& tri) {
  const float height = static_cast<float>(surface.height);
  for (int i = 0; i < 3; ++i) {
    tri.x[i] = SnapCorner(xy[2 * i] - 0.5f);
    tri.y[i] = SnapCorner((height - xy[2 * i + 1]) - 0.5f);
  }
  const int64_t area = (tri.x[1] - tri.x[0]) * (tri.y[2] - tri.y[0]) -
                       (tri.x[2] - tri.x[0]) * (tri.y[1] - tri.y[0]);
  if (area == 0) return false;
  if (area < 0) {
    std::swap(tri.x[1], tri.x[2]);
    std::swap(tri.y[1], tri.y[2]);
  }
  return true;
}

// The part of a convex polygon (n corners, x and y in turn) on the inner side of the line
// `axis` = bound (inner: below it when `upper`), written to `out`; returns its corner count.
int CutPolygon(const double* in, int n, double* out, int axis, double bound, bool upper) {
  int count = 0;
  for (int i = 0; i < n; ++i) {
    const double* a = in + 2 * i;
    const double* b = in + 2 * ((i + 1) % n);
    const double da = upper ? bound - a[axis] : a[axis] - bound;  // >= 0 inside
    const double db = upper ? bound - b[axis] : b[axis] - bound;
    if (da >= 0) {
      out[2 * count] = a[0];
      out[2 * count + 1] = a[1];
      ++count;
    }
    if ((da >= 0) != (db >= 0)) {
      const double t = da / (da - db);
      out[2 * count] = a[0] + t * (b[0] - a[0]);
      out[2 * count + 1] = a[1] + t * (b[1] - a[1]);
      ++count;
    }
  }
  return count;
}

// --- Cutting at the window as the GL does
//
// A GL cuts a primitive that reaches past the window at the window's edges before it
// rasterises it, and a new corner it makes there lies wherever its arithmetic puts it: a
// hair off the exact edge, enough to decide a pixel centre that lies within that hair.
// The GL we compare with (Mesa) cuts in clip coordinates (the window spans -1 .. 1 on each
// axis), in single precision, against the right, left, top and bottom planes in turn,
// interpolating each new corner from the corner outside, and takes new corners back to the
// window through the viewport transform; corners it keeps stay where they were. The
// rasteriser cuts the same way, from window coordinates worked into clip coordinates as
// the GL's projection works the 2D layer's into them.
// Note: the 2D layer's coordinates are the window's unless a virtual resolution scales
// them; the GL then works from the unscaled ones, and the two may round apart.

// The clip coordinates of a window position (w = 1) and the planes it is outside of.
struct TClipCorner {
  float x, y;
  unsigned outside;  // bit p: outside plane p
};

struct TClipSpace {
  float to_x, to_y;        // window to clip: x to_x - 1, y to_y + 1
  float scale_x, scale_y;  // clip to window: c scale + half
  float half_x, half_y;

  explicit TClipSpace(const TRasterSurface& surface) {
    const float width = static_cast<float>(surface.width);
    const float height = static_cast<float>(surface.height);
    // The projection of a window width x height with y down, as the GL's matrix holds it.
    to_x = 2.0f / width;
    to_y = 2.0f / -height;
    // The viewport over the whole window, y down.
    scale_x = width / 2;
    half_x = width / 2;
    scale_y = -height / 2;
    half_y = height / 2;
  }

  TClipCorner Corner(float x, float y) const {
    TClipCorner corner;
    corner.x = x * to_x - 1.0f;
    corner.y = y * to_y + 1.0f;
    corner.outside = Outside(corner.x, corner.y);
    return corner;
  }
  static unsigned Outside(float x, float y) {
    return (x > 1.0f ? 1u : 0u) | (x < -1.0f ? 2u : 0u) | (y > 1.0f ? 4u : 0u) |
           (y < -1.0f ? 8u : 0u);
  }
  // The signed distance from a plane, positive inside: right, left, top, bottom.
  static float Distance(const TClipCorner& corner, int plane) {
    switch (plane) {
      case 0: return 1.0f - corner.x;
      case 1: return corner.x + 1.0f;
      case 2: return 1.0f - corner.y;
      default: return corner.y + 1.0f;
    }
  }
  // The corner at t from `out` towards `in`.
  static TClipCorner Between(const TClipCorner& out, const TClipCorner& in, float t) {
    TClipCorner corner;
    corner.x = out.x + t * (in.x - out.x);
    corner.y = out.y + t * (in.y - out.y);
    corner.outside = Outside(corner.x, corner.y);
    return corner;
  }
  void ToWindow(const TClipCorner& corner, float out[2]) const {
    out[0] = corner.x * scale_x + half_x;
    out[1] = corner.y * scale_y + half_y;
  }
};

// Whether a window position may be outside the GL's clip volume (on an edge it may round
// either way): the positions strictly inside the window never are.
inline bool MayBeOutside(const TRasterSurface& surface, float x, float y) {
  return !(x > 0 && x < static_cast<float>(surface.width) && y > 0 &&
           y < static_cast<float>(surface.height));
}

// The most corners a cut triangle keeps: one more per plane, and room for a corner on a
// plane, which the GL counts twice.
constexpr int kMaxCutCorners = 3 + 2 * 4;

// A corner of a cut polygon in clip coordinates, and in the window where the cut kept it.
struct TCutCorner {
  TClipCorner clip;
  float window[2];
  bool kept;
};

// A convex polygon's corners, with room to close the list on its first one.
struct TCutPolygon {
  TCutCorner corners[kMaxCutCorners + 1];
  int count = 0;
};

// Cuts a triangle at the window's planes as the GL does; the piece left, in window
// coordinates, goes to `xy` (2 per corner) and its corner count is returned: 0 when
// nothing is left, -1 when single precision cannot cut it (a distance beyond a float's
// range) or it has more corners than a convex piece can (corners on a plane, which the GL
// counts twice, in numbers no triangle has).
int CutTriangleLikeTheGL(const TClipSpace& space, const float triangle[6],
                         float xy[2 * kMaxCutCorners]) {
  TCutPolygon a, b;
  TCutPolygon* in = &a;
  TCutPolygon* out = &b;
  unsigned planes = 0, all = 15;
  for (int i = 0; i < 3; ++i) {
    TCutCorner& corner = in->corners[i];
    corner.clip = space.Corner(triangle[2 * i], triangle[2 * i + 1]);
    corner.window[0] = triangle[2 * i];
    corner.window[1] = triangle[2 * i + 1];
    corner.kept = true;
    planes |= corner.clip.outside;
    all &= corner.clip.outside;
  }
  in->count = 3;
  if (all != 0) return 0;  // wholly outside one plane
  for (int plane = 0; plane < 4 && in->count >= 3; ++plane) {
    if ((planes & (1u << plane)) == 0) continue;
    const int n = in->count;
    const TCutCorner* from = in->corners;
    // The list closes on its first corner, so the corners keep their order.
    in->corners[n] = from[0];
    float d_previous = TClipSpace::Distance(from[0].clip, plane);
    if (!std::isfinite(d_previous)) return -1;
    out->count = 0;
    for (int i = 1; i <= n; ++i) {
      const float d = TClipSpace::Distance(from[i].clip, plane);
      if (!std::isfinite(d)) return -1;
      if (out->count + 2 > kMaxCutCorners) return -1;
      if (d_previous >= 0) out->corners[out->count++] = from[i - 1];
      if (d * d_previous <= 0 && d - d_previous != 0) {
        // From the corner outside: going out, or coming back in.
        TCutCorner& corner = out->corners[out->count++];
        corner.clip = d < 0 ? TClipSpace::Between(from[i].clip, from[i - 1].clip,
                                                  d / (d - d_previous))
                            : TClipSpace::Between(from[i - 1].clip, from[i].clip,
                                                  d_previous / (d_previous - d));
        corner.kept = false;
      }
      d_previous = d;
    }
    std::swap(in, out);
  }
  if (in->count < 3) return 0;
  for (int i = 0; i < in->count; ++i) {
    const TCutCorner& corner = in->corners[i];
    if (corner.kept) {
      xy[2 * i] = corner.window[0];
      xy[2 * i + 1] = corner.window[1];
    } else {
      space.ToWindow(corner.clip, xy + 2 * i);
    }
  }
  return in->count;
}

// The frame around the surface that triangles too far for the GL's cut are cut at:
// x0, y0, x1, y1 in window coordinates (y down).
void GuardFrame(const TRasterSurface& surface, double frame[4]) {
  const double limit = kMaxCoordinate / 2;
  frame[0] = -kGuard;
  frame[1] = -kGuard;
  frame[2] = std::min<double>(surface.width, limit) + kGuard;
  frame[3] = std::min<double>(surface.height, limit) + kGuard;
}

// Calls draw(tri) with the triangle snapped; a triangle that reaches past the window is cut
// at it first and its piece drawn as the fan of triangles a convex polygon makes, whose
// shared edges the tie rule draws once. A corner that is not a finite number draws nothing.
template <class Draw>
void ForEachPiece(const TRasterSurface& surface, const float xy[6], Draw&& draw) {
  TSnappedTriangle tri;
  if (!MayBeOutside(surface, xy[0], xy[1]) && !MayBeOutside(surface, xy[2], xy[3]) &&
      !MayBeOutside(surface, xy[4], xy[5])) {
    if (SnapTriangle(surface, xy, tri)) draw(tri);
    return;
  }
  for (int i = 0; i < 6; ++i) {
    if (!std::isfinite(xy[i])) return;
  }
  // Cut as the GL cuts it. Its single precision fails a triangle that reaches far beyond
  // the window (the new corners may land anywhere): one it cannot cut, or whose cut
  // corners do not land on the window's edges, is cut in double at a frame around the
  // window instead, where the rounding of the cut can move no pixel.
  const TClipSpace space(surface);
  float cut[2 * kMaxCutCorners];
  int count = CutTriangleLikeTheGL(space, xy, cut);
  bool near = count >= 0;
  for (int i = 0; i < 2 * count; i += 2) {
    near = near && cut[i] >= -1 && cut[i] <= surface.width + 1.0f && cut[i + 1] >= -1 &&
           cut[i + 1] <= surface.height + 1.0f;
  }
  if (!near) {
    double frame[4];
    GuardFrame(surface, frame);
    // Each cut adds at most one corner to the three.
    double a[2 * 8], b[2 * 8];
    for (int i = 0; i < 6; ++i) a[i] = xy[i];
    count = CutPolygon(a, 3, b, 0, frame[0], false);
    count = CutPolygon(b, count, a, 0, frame[2], true);
    count = CutPolygon(a, count, b, 1, frame[1], false);
    count = CutPolygon(b, count, a, 1, frame[3], true);
    for (int i = 0; i < 2 * count; ++i) cut[i] = static_cast<float>(a[i]);
  }
  for (int k = 2; k < count; ++k) {
    const float piece[6] = {cut[0],         cut[1],     cut[2 * k - 2],
                            cut[2 * k - 1], cut[2 * k], cut[2 * k + 1]};
    if (SnapTriangle(surface, piece, tri)) draw(tri);
  }
}

// A segment's ends, and whether any of it is left after a cut.
struct TSegment {
  float x0, y0, x1, y1;
  bool left;
};

// Cuts a segment to the surface's bounds, in double and keeping its direction; nothing is
// left when no part of it is inside or an end is not a finite number. Note: the ends come
// and go by value, so the caller's stay in registers on its path that needs no cut.
[[gnu::noinline, gnu::cold]] TSegment CutSegment(const TRasterSurface& surface, float x0,
                                                  float y0, float x1, float y1) {
  TSegment cut{x0, y0, x1, y1, false};
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) {
    return cut;
  }
  const double dx = double{x1} - x0, dy = double{y1} - y0;
  double enter = 0, leave = 1;
  // p t <= q for each side, t along the segment.
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {double{x0}, surface.width - double{x0}, double{y0},
                       surface.height - double{y0}};
  for (int side = 0; side < 4; ++side) {
    if (p[side] == 0) {
      if (q[side] < 0) return cut;
    } else if (p[side] < 0) {
      enter = std::max(enter, q[side] / p[side]);
    } else {
      leave = std::min(leave, q[side] / p[side]);
    }
  }
  if (enter > leave) return cut;
  const double sx = x0, sy = y0;
  cut.x0 = static_cast<float>(sx + enter * dx);
  cut.y0 = static_cast<float>(sy + enter * dy);
  cut.x1 = static_cast<float>(sx + leave * dx);
  cut.y1 = static_cast<float>(sy + leave * dy);
  cut.left = true;
  return cut;
}

// Calls span(row_up, first, last) for every row of covered pixel centres inside the clip.
template <class Span>
void ScanTriangle(const TRasterSurface& surface, const TRasterClip& clip,
                  const TSnappedTriangle& tri, Span&& span) {
  const int64_t min_y = std::min({tri.y[0], tri.y[1], tri.y[2]});
  const int64_t max_y = std::max({tri.y[0], tri.y[1], tri.y[2]});
  const TRowRange rows = ClipRows(surface, clip);
  const int64_t first_row = std::max<int64_t>(CeilDiv(min_y, kSubpixelSteps), rows.low);
  const int64_t last_row = std::min<int64_t>(FloorDiv(max_y, kSubpixelSteps), rows.high);

  // Edge i -> j: e(P) = ex (Py - yi) - ey (Px - xi), positive inside. A centre on the edge
  // counts for a left edge (walked downwards) or a bottom edge (walked rightwards).
  int64_t ex[3], ey[3];
  bool inclusive[3];
  for (int i = 0; i < 3; ++i) {
    const int j = (i + 1) % 3;
    ex[i] = tri.x[j] - tri.x[i];
    ey[i] = tri.y[j] - tri.y[i];
    inclusive[i] = ey[i] < 0 || (ey[i] == 0 && ex[i] > 0);
  }
  for (int64_t row = first_row; row <= last_row; ++row) {
    int64_t first = clip.x0;
    int64_t last = clip.x1 - 1;
    const int64_t py = row * kSubpixelSteps;
    for (int i = 0; i < 3 && first <= last; ++i) {
      // e = a L + b with L the column: require e >= need.
      const int64_t a = -ey[i] * kSubpixelSteps;
      const int64_t b = ex[i] * (py - tri.y[i]) + ey[i] * tri.x[i];
      const int64_t need = (inclusive[i] ? 0 : 1) - b;
      if (a > 0) {
        first = std::max(first, CeilDiv(need, a));
      } else if (a < 0) {
        last = std::min(last, FloorDiv(-need, -a));
      } else if (need > 0) {
        last = first - 1;
      }
    }
    if (first <= last) span(static_cast<int>(row), static_cast<int>(first),
                            static_cast<int>(last));
  }
}

// --- Texture sampling

inline uint32_t Texel(const TRasterTexels& level, int x, int y) {
  x = std::clamp(x, 0, level.width - 1);
  y = std::clamp(y, 0, level.height - 1);
  return Load(level.texels + static_cast<ptrdiff_t>(y) * level.pitch + x * 4);
}

inline uint32_t SampleNearest(const TRasterTexels& level, float s, float t) {
  return Texel(level, static_cast<int>(std::floor(s * level.width)),
               static_cast<int>(std::floor(t * level.height)));
}

// Weighted mix of two pixels, weight w of b in 0..256.
inline uint32_t Mix(uint32_t a, uint32_t b, uint32_t w) {
  uint32_t result = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const uint32_t ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
    result |= (((ca * (256 - w) + cb * w) + 128) >> 8) << shift;
  }
  return result;
}

// Bilinear: the weights are rounded to the nearest 1/256 (as the GL we compare with rounds
// them; the GL leaves their precision to the implementation).
inline uint32_t SampleLinear(const TRasterTexels& level, float s, float t) {
  const float u = s * level.width - 0.5f;
  const float v = t * level.height - 0.5f;
  const float fu = std::floor(u), fv = std::floor(v);
  const int x = static_cast<int>(fu), y = static_cast<int>(fv);
  const uint32_t wu = static_cast<uint32_t>((u - fu) * 256.0f + 0.5f);
  const uint32_t wv = static_cast<uint32_t>((v - fv) * 256.0f + 0.5f);
  const uint32_t top = Mix(Texel(level, x, y), Texel(level, x + 1, y), wu);
  const uint32_t bottom = Mix(Texel(level, x, y + 1), Texel(level, x + 1, y + 1), wu);
  return Mix(top, bottom, wv);
}

// How a textured triangle samples: one level (or two, mixed) chosen once, since the
// mapping from pixels to texels is the same all over the triangle.
struct TSampling {
  int level0 = 0, level1 = 0;
  uint32_t level_mix = 0;  // weight of level1 in 0..256
  bool linear = false;
};

// log2 of a positive, finite float, straight between powers of two: exact at them and up
// to 0.086 low between.
double FastLog2(float x) {
  int exponent = 0;
  const float mantissa = std::frexp(x, &exponent);  // 0.5 .. 1
  return (exponent - 1) + (2.0 * mantissa - 1.0);
}

// The GL's level choice: lambda = log2 of the texels per pixel along the faster axis; at
// or below 0 the texture is magnified and level 0 serves; above it a mipmapped texture
// takes the two levels around lambda (filtered) or the nearest one.
// Note: the GL lets an implementation approximate lambda. This one is worked out as the
// GL we compare with (Mesa's llvmpipe) works it out, which the comparison of the two
// drivers pins down: from the squared lengths in single precision, halving a log2 that is
// straight between powers of two, and the weight of the second level cut to 1/256.
TSampling ChooseSampling(const TRasterTexture& texture, double ds_dx, double dt_dx,
                         double ds_dy, double dt_dy) {
  TSampling sampling;
  sampling.linear = texture.filtered;
  const TRasterTexels& base = texture.levels[0];
  const float ux = static_cast<float>(ds_dx * base.width);
  const float vx = static_cast<float>(dt_dx * base.height);
  const float uy = static_cast<float>(ds_dy * base.width);
  const float vy = static_cast<float>(dt_dy * base.height);
  const float rho_squared = std::max(ux * ux + vx * vx, uy * uy + vy * vy);
  // Note: a mapping too steep for a float picks the smallest level; one with no extent
  // (or not a number) magnifies.
  double lambda = 0;
  if (rho_squared > std::numeric_limits<float>::max()) {
    lambda = 64;
  } else if (rho_squared > 0) {
    lambda = 0.5 * FastLog2(rho_squared);
  }
  if (lambda <= 0 || texture.level_count <= 1) return sampling;
  const int top = texture.level_count - 1;
  if (texture.filtered) {
    const double whole = std::floor(lambda);
    sampling.level0 = std::min(static_cast<int>(whole), top);
    sampling.level1 = std::min(sampling.level0 + 1, top);
    sampling.level_mix = static_cast<uint32_t>((lambda - whole) * 256.0);
  } else {
    sampling.level0 = sampling.level1 = std::min(static_cast<int>(std::floor(lambda + 0.5)), top);
  }
  return sampling;
}

inline uint32_t Sample(const TRasterTexture& texture, const TSampling& sampling, float s,
                       float t) {
  // Coordinates beyond the texture clamp to its edge anyway; held to a small range (not a
  // number to its low end) they convert to texel numbers safely.
  s = std::fmin(std::fmax(s, -1.0f), 2.0f);
  t = std::fmin(std::fmax(t, -1.0f), 2.0f);
  const TRasterTexels& level0 = texture.levels[sampling.level0];
  if (!sampling.linear) return SampleNearest(level0, s, t);
  const uint32_t first = SampleLinear(level0, s, t);
  if (sampling.level_mix == 0 || sampling.level1 == sampling.level0) return first;
  return Mix(first, SampleLinear(texture.levels[sampling.level1], s, t), sampling.level_mix);
}

// The single guard between the clip rectangles callers give and the pixels: every function
// below that writes pixels first intersects its clip with the surface's bounds here, so no
// fault in a driver or front end can make it write outside the buffer. An empty result has
// x1 = x0 or y1 = y0.
[[gnu::always_inline]] inline TRasterClip Inside(const TRasterSurface& surface,
                                                 const TRasterClip& clip) {
  const int width = surface.pixels ? std::max(surface.width, 0) : 0;
  const int height = surface.pixels ? std::max(surface.height, 0) : 0;
  TRasterClip inside;
  inside.x0 = std::clamp(clip.x0, 0, width);
  inside.x1 = std::clamp(clip.x1, inside.x0, width);
  inside.y0 = std::clamp(clip.y0, 0, height);
  inside.y1 = std::clamp(clip.y1, inside.y0, height);
  return inside;
}

}  // namespace

TRasterClip ClipToSurface(const TRasterSurface& surface, int x, int y, int width,
                          int height) {
  TRasterClip clip;
  clip.x0 = std::max(x, 0);
  clip.y0 = std::max(y, 0);
  clip.x1 = static_cast<int>(std::min<int64_t>(int64_t{x} + std::max(width, 0), surface.width));
  clip.y1 =
      static_cast<int>(std::min<int64_t>(int64_t{y} + std::max(height, 0), surface.height));
  return clip;
}

void RasterClear(const TRasterSurface& surface, const TRasterClip& given,
                 const uint8_t rgba[4]) {
  const TRasterClip clip = Inside(surface, given);
  const uint32_t colour = Pack(rgba);
  for (int y = clip.y0; y < clip.y1; ++y) {
    uint8_t* row = surface.pixels + static_cast<ptrdiff_t>(y) * surface.pitch;
    for (int x = clip.x0; x < clip.x1; ++x) Store(row + x * 4, colour);
  }
}

void RasterPoint(const TRasterSurface& surface, const TRasterClip& given,
                 const TRasterPaint& paint, float x, float y) {
  const TRasterClip clip = Inside(surface, given);
  // A point outside the window is clipped away before it is snapped, so one just outside
  // is not snapped onto the edge pixel (not a number draws nothing too).
  if (!(x >= 0 && x <= static_cast<float>(surface.width) && y >= 0 &&
        y <= static_cast<float>(surface.height))) {
    return;
  }
  // The pixel whose square holds the snapped position.
  const int column = Snap(x) >> kSubpixelBits;
  const int row_up = Snap(static_cast<float>(surface.height) - y) >> kSubpixelBits;
  const int row = surface.height - 1 - row_up;
  if (column < clip.x0 || column >= clip.x1 || row < clip.y0 || row >= clip.y1) return;
  const TFlatBlend flat = FlatBlend(paint);
  if (!flat.draws) return;
  uint8_t* p = PixelAt(surface, column, row_up);
  WithBlend(flat, [&]<TRasterBlend B>() { Store(p, FlatPixel<B>(flat, Load(p))); });
}

void RasterLine(const TRasterSurface& surface, const TRasterClip& given,
                const TRasterPaint& paint, float x0, float y0, float x1, float y1,
                int width) {
  const TRasterClip clip = Inside(surface, given);
  if (clip.x0 >= clip.x1 || clip.y0 >= clip.y1) return;
  // A segment that leaves the window is cut at its edge, as a GL clips it to the view
  // volume: its new end decides its last pixel there. The cut is worked out in double, so
  // ends of any size (beyond the rasteriser's range too) are cut exactly enough.
  const float right = static_cast<float>(surface.width);
  const float bottom = static_cast<float>(surface.height);
  if (!(x0 >= 0 && x0 <= right && x1 >= 0 && x1 <= right && y0 >= 0 && y0 <= bottom &&
        y1 >= 0 && y1 <= bottom)) {
    const TSegment cut = CutSegment(surface, x0, y0, x1, y1);
    if (!cut.left) return;
    x0 = cut.x0;
    y0 = cut.y0;
    x1 = cut.x1;
    y1 = cut.y1;
  }
  width = std::clamp(width, 1, 255);
  const TFlatBlend flat = FlatBlend(paint);
  if (!flat.draws) return;
  const float height = static_cast<float>(surface.height);
  TLineShape shape;
  if (!LineShape(x0, height - y0, x1, height - y1, std::max(width, 1), shape)) return;
  WithBlend(flat, [&]<TRasterBlend B>() {
    if (shape.x_major) {
      FillXMajor<B>(surface, clip, flat, shape);
    } else {
      FillYMajor<B>(surface, clip, flat, shape);
    }
  });
}

void RasterTriangle(const TRasterSurface& surface, const TRasterClip& given,
                    const TRasterPaint& paint, const float xy[6]) {
  const TRasterClip clip = Inside(surface, given);
  if (clip.x0 >= clip.x1 || clip.y0 >= clip.y1) return;
  const TFlatBlend flat = FlatBlend(paint);
  if (!flat.draws) return;
  ForEachPiece(surface, xy, [&](const TSnappedTriangle& tri) {
    WithBlend(flat, [&]<TRasterBlend B>() {
      ScanTriangle(surface, clip, tri, [&](int row_up, int first, int last) {
        FillRun<B>(flat, PixelAt(surface, first, row_up), last - first + 1, 4);
      });
    });
  });
}

void RasterTexturedTriangle(const TRasterSurface& surface, const TRasterClip& given,
                            const TRasterPaint& paint, const float xy[6], const float st[6],
                            const TRasterTexture& texture) {
  const TRasterClip clip = Inside(surface, given);
  if (clip.x0 >= clip.x1 || clip.y0 >= clip.y1) return;
  if (texture.level_count < 1) return;
  // Texture coordinates are an affine function of the window position (y down), found
  // from the three corners: s = s0 + ds_dx (x - x0) + ds_dy (y - y0), likewise t.
  const double ax = double{xy[2]} - xy[0], ay = double{xy[3]} - xy[1];
  const double bx = double{xy[4]} - xy[0], by = double{xy[5]} - xy[1];
  const double det = ax * by - bx * ay;
  if (det == 0) return;
  const double s1 = double{st[2]} - st[0], s2 = double{st[4]} - st[0];
  const double t1 = double{st[3]} - st[1], t2 = double{st[5]} - st[1];
  const double ds_dx = (s1 * by - s2 * ay) / det, ds_dy = (s2 * ax - s1 * bx) / det;
  const double dt_dx = (t1 * by - t2 * ay) / det, dt_dy = (t2 * ax - t1 * bx) / det;
  const TSampling sampling = ChooseSampling(texture, ds_dx, dt_dx, ds_dy, dt_dy);
  const uint32_t colour = Pack(paint.rgba);
  const int height = surface.height;

  ForEachPiece(surface, xy, [&](const TSnappedTriangle& tri) {
    ScanTriangle(surface, clip, tri, [&](int row_up, int first, int last) {
      // Centre of the pixel, y down.
      const double y = (height - 1 - row_up) + 0.5 - xy[1];
      uint8_t* p = PixelAt(surface, first, row_up);
      for (int column = first; column <= last; ++column, p += 4) {
        const double x = column + 0.5 - xy[0];
        const float s = static_cast<float>(st[0] + ds_dx * x + ds_dy * y);
        const float t = static_cast<float>(st[1] + dt_dx * x + dt_dy * y);
        const uint32_t fragment = ModulatePixels(Sample(texture, sampling, s, t), colour);
        if (paint.blend == TRasterBlend::Mask && (fragment >> 24) < kMaskThreshold) continue;
        Store(p, BlendPixel(paint.blend, fragment, Load(p)));
      }
    });
  });
}

void RasterCopy(const TRasterSurface& surface, const TRasterClip& given, const uint8_t* rgba,
                int pitch, int width, int height, int x, int y) {
  const TRasterClip clip = Inside(surface, given);
  const int x0 = std::max(clip.x0, x);
  const int x1 = static_cast<int>(std::min<int64_t>(clip.x1, int64_t{x} + width));
  const int y0 = std::max(clip.y0, y);
  const int y1 = static_cast<int>(std::min<int64_t>(clip.y1, int64_t{y} + height));
  if (x0 >= x1 || y0 >= y1) return;
  for (int row = y0; row < y1; ++row) {
    std::memcpy(surface.pixels + static_cast<ptrdiff_t>(row) * surface.pitch + x0 * 4,
                rgba + (int64_t{row} - y) * pitch + (int64_t{x0} - x) * 4,
                static_cast<size_t>(x1 - x0) * 4);
  }
}
