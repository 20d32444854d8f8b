// Drawn coordinates round where the drawing arithmetic says they do: an oval's corner is
// formed in double and rounded once to float32. A fused multiply-add (what -ffp-contract=fast,
// or -march with FMA units under some compilers' defaults, makes of `c + a * b`) skips the
// rounding of the product and moves such a corner by one step of its last bit, and with it
// the pixels at ties; the build forbids fusing, and these pinned corners notice when it
// happens anyway. (Built with -march=native -ffp-contract=fast, this test fails.)
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "draw2d/device.h"

namespace {

uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

struct TCorner {
  float x;
  double y;
};

std::vector<TCorner> OvalCorners(float x0, float y0, float x1, float y1) {
  std::vector<TCorner> corners;
  ForEachOvalPoint(x0, y0, x1, y1, [&](float x, double y) { corners.push_back({x, y}); });
  return corners;
}

TEST(Rounding, OvalCornersRoundTheProductBeforeTheSum) {
  // Ovals whose corner lies just where the two roundings part: centre + cos(angle) x radius
  // gives these bits only when cos(angle) x radius is rounded first.
  struct TCase {
    float x0, y0, x1, y1;
    size_t corner;
    uint32_t x_bits;
  };
  const TCase cases[] = {
      {0x1.f7d70ap+4f, 0x1.6e7aep+5f, 0x1.12c29p+6f, 0x1.b40a3cp+6f, 16, 0x422328f6u},
      {0x1.2851ecp+5f, 0x1.34f5c2p+4f, 0x1.2fc29p+6f, 0x1.b747acp+5f, 12, 0x423b0f5cu},
      {0x1.313334p+5f, 0x1.50ccccp+5f, 0x1.343334p+6f, 0x1.9cp+6f, 16, 0x423f8000u},
  };
  for (const TCase& c : cases) {
    const std::vector<TCorner> corners = OvalCorners(c.x0, c.y0, c.x1, c.y1);
    ASSERT_GT(corners.size(), c.corner);
    EXPECT_EQ(Bits(corners[c.corner].x), c.x_bits) << c.x0 << "," << c.y0;
  }
}

}  // namespace
