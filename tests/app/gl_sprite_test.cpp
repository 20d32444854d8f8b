// One sprite through the real OpenGL 2D driver, off-screen: read back, the cell is opaque
// black wherever no ring reaches, the sprite lies within its rings' extents, and nothing
// leaks out of the cell's viewport.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "app/sprite.h"
#include "draw2d/draw2d.h"
#include "draw2d/gl/glvex2d.h"
#include "graphics/glgraphics.h"
#include "graphics/graphics.h"
#include "graphics/system.h"
#include "pixmap/pixmap.h"
#include "random/random.h"
#include "support/environment.h"

namespace {

void NoPause(int) {}

TEST(GLSprite, SpriteStaysInsideItsRingsAndItsCell) {
  UnsetEnvironment("DISPLAY");
  UnsetEnvironment("WAYLAND_DISPLAY");
  StartRandom();
  StartGLGraphics();
  StartDraw2D();
  StartGLVex2D();
  TVex2DDriver* driver = GLVex2DDriver();
  if (!driver) GTEST_SKIP() << "no GL 2D driver";
  SelectGraphicsDriver(driver, 2);
  Ref<TGraphics> window = OpenGraphics(128, 64, 0, 60, 0);
  if (!window) GTEST_SKIP() << "no GL context available";

  // The right-hand cell of a two-cell sheet, painted with the key colour first.
  sprite_boundary_sleep = NoPause;
  SeedRandom(4660);
  hue_counter = 0;
  Cls();
  ResetDrawState();
  SetViewport(64, 0, 64, 64);
  SetOrigin(64, 0);
  cell_width = cell_height = 64;
  SetColor(255, 0, 255);
  DrawRect(0, 0, 64, 64);
  ResetDrawState();
  SpriteShape shape;
  DrawSprite(shape);
  SetViewport(0, 0, 128, 64);
  SetOrigin(0, 0);
  Ref<TPixmap> sheet = GrabPixmap(0, 0, 128, 64);
  ASSERT_TRUE(sheet);
  sprite_boundary_sleep = SleepMillis;

  float widest = 0;
  for (int i = 1; i <= shape.ring_count; ++i) widest = std::max(widest, shape.ring_radius[i]);
  const float reach = widest * 32 + shape.line_width + 1;  // half-width plus the line's own
  const float top = shape.ring_level[1] * 64 - shape.line_width - 1;
  const float bottom = shape.ring_level[shape.ring_count] * 64 + shape.line_width + 1;

  int coloured = 0, stray = 0, left_cell_marks = 0, keyed = 0;
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 128; ++x) {
      const uint32_t p = PixmapReadPixel(sheet, x, y);
      ASSERT_EQ(p >> 24, 0xFFu);
      const bool lit = (p & 0xFFFFFF) != 0;
      keyed += (p & 0xFFFFFF) == 0xFF00FF;
      if (x < 64) {
        left_cell_marks += lit;
        continue;
      }
      const float cx = x - 64 + 0.5f, cy = y + 0.5f;
      const bool inside = std::fabs(cx - 32) <= reach && cy >= top && cy <= bottom;
      coloured += lit;
      stray += lit && !inside;
    }
  }
  EXPECT_EQ(keyed, 0);            // the black fill covered the key colour
  EXPECT_EQ(left_cell_marks, 0);  // the viewport kept the sprite in its cell
  EXPECT_EQ(stray, 0);
  EXPECT_GT(coloured, 500);
  // Hue 0: red and green, never blue.
  for (int y = 0; y < 64; ++y) {
    for (int x = 64; x < 128; ++x) ASSERT_EQ(PixmapReadPixel(sheet, x, y) & 0xFF, 0u);
  }
}

}  // namespace
