// OpenGL 2D driver against a real GL context (Mesa's software renderer on SDL's off-screen
// video driver when there is no display): shapes, colour bytes, blend modes and their cache,
// scissor, pixmap blit and read-back, textures and the built-in font, read back pixel for
// pixel with GrabPixmap.
#include <gtest/gtest.h>

#include <cmath>    // for std::nanf, std::isnan
#include <string>

#include "draw2d/clean_state.h"
#include "draw2d/draw2d.h"
#include "draw2d/font.h"
#include "draw2d/gl/glimageframe.h"
#include "draw2d/gl/glvex2d.h"
#include "draw2d/resources/resources.h"
#include "graphics/graphics.h"
#include "support/environment.h"

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr uint32_t kBlack = 0xFF000000u;
constexpr uint32_t kWhite = 0xFFFFFFFFu;

// Declared before every other GL test, so that it makes the module's first start.
TEST(GLStart, SelectsTheGLDriverWithDefaultFlagsTwo) {
  UnsetEnvironment("DISPLAY");
  StartGLVex2D();
  ASSERT_NE(GLVex2DDriver(), nullptr);
  EXPECT_EQ(CurrentGraphicsDriver(), GLVex2DDriver());
  EXPECT_EQ(DefaultGraphicsFlags(), 2);
  EXPECT_EQ(CurrentGraphics, nullptr);
}

class GLDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    UnsetEnvironment("DISPLAY");  // always the off-screen context, display or not
    StartGLVex2D();
    ASSERT_NE(GLVex2DDriver(), nullptr);
    // Selecting the driver bumps the generation, so frames made by other tests' drivers
    // are not reused here.
    SelectGraphicsDriver(GLVex2DDriver(), 2);
    // Never destroyed: closing a GL context during static destruction, after the GL
    // library's own statics are gone, crashes.
    static Ref<TGraphics>& context =
        *new Ref<TGraphics>(CreateGraphics(kWidth, kHeight, 0, 0, 0));
    ASSERT_NE(context, nullptr);
    SetGraphics(context);
    this->context = context;
    StartCleanPicture(kWidth, kHeight);
  }

  Ref<TGraphics> context;

  static Ref<TPixmap> Screen() { return GrabPixmap(0, 0, kWidth, kHeight); }

  // The rectangle as rows of '#' (pixel differs from black) and '.' (black).
  static std::string Picture(int x0, int y0, int width, int height) {
    Ref<TPixmap> screen = Screen();
    std::string picture;
    for (int y = y0; y < y0 + height; ++y) {
      for (int x = x0; x < x0 + width; ++x) {
        picture += screen->ReadPixel(x, y) == kBlack ? '.' : '#';
      }
      picture += '\n';
    }
    return picture;
  }

  // Number of non-black pixels on the whole screen.
  static int InkCount() {
    Ref<TPixmap> screen = Screen();
    int count = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) count += screen->ReadPixel(x, y) != kBlack;
    }
    return count;
  }

  static uint32_t At(int x, int y) { return Screen()->ReadPixel(x, y); }
  static int Red(uint32_t argb) { return (argb >> 16) & 255; }
  static int Green(uint32_t argb) { return (argb >> 8) & 255; }
  static int Blue(uint32_t argb) { return argb & 255; }
};

// --- read-back

TEST_F(GLDriver, DriverNamesItselfAndWrapsGLContexts) {
  EXPECT_EQ(GLVex2DDriver()->ToString(), u"OpenGL");
  EXPECT_EQ(CurrentDriver, GLVex2DDriver());
  EXPECT_EQ(CurrentGraphics->Driver(), GLVex2DDriver());
  EXPECT_EQ(CurrentGraphicsWidth(), kWidth);
  int w, h, depth, hertz, flags;
  CurrentGraphics->GetSettings(w, h, depth, hertz, flags);
  EXPECT_EQ(w, kWidth);
  EXPECT_EQ(h, kHeight);
  EXPECT_EQ(flags & GRAPHICS_BACKBUFFER, GRAPHICS_BACKBUFFER);  // the driver's default flags
}

TEST_F(GLDriver, GrabReturnsTopRowFirstWithOpaqueAlpha) {
  SetClsColor(10, 20, 30);
  Cls();
  SetColor(200, 100, 50);
  DrawRect(0, 0, 1, 1);
  Ref<TPixmap> screen = Screen();
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(screen->format, PIXFMT_RGBA32);
  EXPECT_EQ(screen->width, kWidth);
  EXPECT_EQ(screen->height, kHeight);
  EXPECT_EQ(screen->pitch, kWidth * 4);
  const uint8_t* top_left = screen->PixelPtr(0, 0);
  EXPECT_EQ(top_left[0], 200);
  EXPECT_EQ(top_left[1], 100);
  EXPECT_EQ(top_left[2], 50);
  EXPECT_EQ(top_left[3], 255);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      if (x == 0 && y == 0) continue;
      ASSERT_EQ(screen->ReadPixel(x, y), 0xFF0A141Eu) << x << "," << y;
    }
  }
}

TEST_F(GLDriver, GrabOfARectangleReadsDevicePixelsWhateverTheOrigin) {
  SetColor(255, 0, 0);
  DrawRect(5, 7, 1, 1);
  SetOrigin(20, 20);
  SetVirtualResolution(kWidth / 2, kHeight / 2);
  Ref<TPixmap> part = GrabPixmap(5, 7, 3, 2);
  SetVirtualResolution(kWidth, kHeight);
  ASSERT_EQ(part->width, 3);
  ASSERT_EQ(part->height, 2);
  EXPECT_EQ(part->ReadPixel(0, 0), 0xFFFF0000u);
  EXPECT_EQ(part->ReadPixel(1, 0), kBlack);
  EXPECT_EQ(part->ReadPixel(0, 1), kBlack);
}

TEST_F(GLDriver, GrabTurnsEveryRowRightWayUpForOddAndEvenHeights) {
  // Each row its own red, so any row left in place or swapped twice shows.
  for (int y = 0; y < 7; ++y) {
    SetColor(10 + 30 * y, 0, 0);
    DrawRect(0, static_cast<float>(y), 4, 1);
  }
  for (int height : {1, 2, 3, 6, 7}) {
    Ref<TPixmap> part = GrabPixmap(1, 0, 2, height);
    ASSERT_EQ(part->height, height);
    for (int y = 0; y < height; ++y) {
      EXPECT_EQ(Red(part->ReadPixel(0, y)), 10 + 30 * y) << "height " << height << " row " << y;
      EXPECT_EQ(part->ReadPixel(1, y), part->ReadPixel(0, y)) << "height " << height;
    }
  }
}

// --- colour, alpha and blending

TEST_F(GLDriver, ColourIsClampedToBytes) {
  SetColor(-10, 128, 999);
  DrawRect(0, 0, 1, 1);
  EXPECT_EQ(At(0, 0), 0xFF0080FFu);
  int r, g, b;
  GetColor(r, g, b);
  EXPECT_EQ(r, -10);
  EXPECT_EQ(b, 999);
}

TEST_F(GLDriver, AlphaByteIsTruncatedFromTheFloatProduct) {
  // Red over black with BlendAlpha leaves the alpha byte itself in the red channel.
  SetBlend(BLEND_ALPHA);
  SetColor(255, 0, 0);
  const float alphas[] = {0.1f, 0.0075f, 0.0115f, 1.0f, 1.5f, -0.5f, std::nanf("")};
  const int bytes[] = {25, 1, 2, 255, 255, 0, 0};
  for (int i = 0; i < 7; ++i) {
    SetAlpha(alphas[i]);
    DrawRect(static_cast<float>(i), 0, 1, 1);
  }
  Ref<TPixmap> screen = Screen();
  for (int i = 0; i < 7; ++i) EXPECT_EQ(Red(screen->ReadPixel(i, 0)), bytes[i]) << alphas[i];
  EXPECT_TRUE(std::isnan(GetAlpha()));
}

TEST_F(GLDriver, BlendModesFollowTheTable) {
  SetClsColor(200, 200, 100);
  Cls();
  SetColor(128, 255, 0);
  SetAlpha(0.5f);  // byte 127
  SetBlend(0);     // unnamed: solid
  DrawRect(0, 0, 1, 1);
  SetBlend(99);
  DrawRect(1, 0, 1, 1);
  SetBlend(BLEND_MULTIPLY);
  DrawRect(2, 0, 1, 1);
  SetBlend(BLEND_ADDITIVE);
  DrawRect(3, 0, 1, 1);
  SetBlend(BLEND_ALPHA);
  DrawRect(4, 0, 1, 1);
  SetBlend(BLEND_MASK);
  DrawRect(5, 0, 1, 1);  // alpha 127/255 is below one half: discarded
  SetAlpha(0.6f);
  DrawRect(6, 0, 1, 1);  // kept, unblended
  Ref<TPixmap> s = Screen();
  EXPECT_EQ(s->ReadPixel(0, 0), 0xFF80FF00u);
  EXPECT_EQ(s->ReadPixel(1, 0), 0xFF80FF00u);
  uint32_t multiplied = s->ReadPixel(2, 0);  // 200 x 128 / 255, 200, 0
  EXPECT_NEAR(Red(multiplied), 100, 1);
  EXPECT_NEAR(Green(multiplied), 200, 1);
  EXPECT_EQ(Blue(multiplied), 0);
  uint32_t added = s->ReadPixel(3, 0);  // 200 + 64, clamped; 200 + 127; 100
  EXPECT_EQ(Red(added), 255);
  EXPECT_EQ(Green(added), 255);
  EXPECT_NEAR(Blue(added), 100, 1);
  uint32_t mixed = s->ReadPixel(4, 0);  // half and half
  EXPECT_NEAR(Red(mixed), 164, 2);
  EXPECT_NEAR(Green(mixed), 227, 2);
  EXPECT_NEAR(Blue(mixed), 50, 2);
  EXPECT_EQ(s->ReadPixel(5, 0), 0xFFC8C864u);
  EXPECT_EQ(s->ReadPixel(6, 0), 0xFF80FF00u);
}

TEST_F(GLDriver, RepeatedBlendModeAndTextureReachTheGLOnce) {
  SetBlend(BLEND_ALPHA);
  int changes = GLVex2DStats().blend_changes;
  SetBlend(BLEND_ALPHA);
  EXPECT_EQ(GLVex2DStats().blend_changes, changes);
  SetBlend(BLEND_ADDITIVE);
  EXPECT_EQ(GLVex2DStats().blend_changes, changes + 1);

  DrawText(u"A", 0, 0);
  int binds = GLVex2DStats().texture_binds;
  int switches = GLVex2DStats().texturing_switches;
  DrawText(u"AAAA", 0, 0);
  EXPECT_EQ(GLVex2DStats().texture_binds, binds);
  EXPECT_EQ(GLVex2DStats().texturing_switches, switches);
  DrawRect(0, 0, 1, 1);  // turns texturing off once
  DrawRect(0, 0, 1, 1);
  EXPECT_EQ(GLVex2DStats().texturing_switches, switches + 1);
}

// --- viewport

TEST_F(GLDriver, ViewportClipsDrawingAndCls) {
  SetViewport(8, 4, 16, 10);
  SetClsColor(0, 0, 255);
  Cls();
  SetColor(255, 0, 0);
  DrawRect(0, 0, kWidth, kHeight);
  Ref<TPixmap> s = Screen();
  EXPECT_EQ(s->ReadPixel(8, 4), 0xFFFF0000u);
  EXPECT_EQ(s->ReadPixel(23, 13), 0xFFFF0000u);
  EXPECT_EQ(s->ReadPixel(7, 4), kBlack);
  EXPECT_EQ(s->ReadPixel(24, 13), kBlack);
  EXPECT_EQ(s->ReadPixel(8, 3), kBlack);
  EXPECT_EQ(s->ReadPixel(8, 14), kBlack);

  // One row short of the whole context still clips: the bottom row stays.
  SetViewport(0, 0, kWidth, kHeight - 1);
  SetClsColor(0, 255, 0);
  Cls();
  s = Screen();
  EXPECT_EQ(s->ReadPixel(0, kHeight - 2), 0xFF00FF00u);
  EXPECT_EQ(s->ReadPixel(8, kHeight - 1), kBlack);

  // A viewport of negative size holds nothing; the previous rectangle does not stay.
  SetViewport(8, 4, 16, 10);
  SetViewport(30, 20, -4, 5);
  SetClsColor(255, 255, 255);
  Cls();
  DrawRect(0, 0, kWidth, kHeight);
  s = Screen();
  EXPECT_EQ(s->ReadPixel(8, 4), 0xFF00FF00u);
  EXPECT_EQ(s->ReadPixel(27, 22), 0xFF00FF00u);

  // The whole context switches clipping off.
  SetClsColor(0, 255, 0);
  SetViewport(0, 0, kWidth, kHeight);
  Cls();
  EXPECT_EQ(At(kWidth - 1, kHeight - 1), 0xFF00FF00u);
}

TEST_F(GLDriver, VirtualResolutionStretchesOverTheContext) {
  SetVirtualResolution(kWidth / 2, kHeight / 2);
  DrawRect(1, 1, 2, 1);
  SetVirtualResolution(kWidth, kHeight);
  EXPECT_EQ(Picture(0, 0, 8, 5),
            "........\n"
            "........\n"
            "..####..\n"
            "..####..\n"
            "........\n");
}

// --- shapes

TEST_F(GLDriver, RectFillsExactlyItsPixelsWhateverItsWinding) {
  DrawRect(0, 0, 3, 2);
  std::string expected =
      "###.\n"
      "###.\n"
      "....\n";
  EXPECT_EQ(Picture(0, 0, 4, 3), expected);
  Cls();
  DrawRect(3, 2, -3, -2);
  EXPECT_EQ(Picture(0, 0, 4, 3), expected);
  Cls();
  DrawRect(1, 1, 0, 5);
  EXPECT_EQ(InkCount(), 0);
}

TEST_F(GLDriver, LineCoversItsStartAndTheClosingPixelItsEnd) {
  DrawLine(0, 0, 4, 0, 0);
  DrawLine(0, 2, 4, 2, 1);
  DrawLine(2, 4, 2, 4, 1);
  EXPECT_EQ(Picture(0, 0, 6, 5),
            "####..\n"
            "......\n"
            "#####.\n"
            "......\n"
            "..#...\n");
}

TEST_F(GLDriver, DiagonalLineWithClosingPixel) {
  // Pixel-centre heights 1.5, 1.83, 2.17, 2.5, 2.83, 3.17: no ties for the rasteriser.
  DrawLine(1, 1, 7, 3, 1);
  EXPECT_EQ(Picture(0, 0, 9, 5),
            ".........\n"
            ".##......\n"
            "...###...\n"
            "......##.\n"
            ".........\n");
}

TEST_F(GLDriver, WideLineIsCentredButItsClosingPixelIsOne) {
  SetLineWidth(3);
  DrawLine(0, 5, 10, 5, 1);
  EXPECT_EQ(Picture(0, 3, 12, 5),
            "............\n"
            "##########..\n"
            "###########.\n"
            "##########..\n"
            "............\n");
}

TEST_F(GLDriver, LineWidthsBelowOneDrawOnePixelWide) {
  SetLineWidth(3);
  SetLineWidth(0);  // the GL refuses 0 and would keep drawing 3 wide
  DrawLine(0, 2, 4, 2, 0);
  SetLineWidth(-2);
  DrawLine(0, 5, 4, 5, 0);
  SetLineWidth(0.4f);  // rounds to 0, which counts as 1
  DrawLine(0, 8, 4, 8, 0);
  EXPECT_EQ(GetLineWidth(), 0.4f);
  EXPECT_EQ(Picture(0, 1, 5, 9),
            ".....\n"
            "####.\n"
            ".....\n"
            ".....\n"
            "####.\n"
            ".....\n"
            ".....\n"
            "####.\n"
            ".....\n");
}

TEST_F(GLDriver, OriginMovesShapesAndPointsButNotPixmaps) {
  SetOrigin(10, 5);
  DrawRect(0, 0, 2, 2);
  Plot(3, 0);
  Ref<TPixmap> p = TPixmap::Create(1, 1, PIXFMT_RGBA32);
  p->WritePixel(0, 0, kWhite);
  DrawPixmap(p, 0, 0);
  EXPECT_EQ(Picture(0, 0, 14, 8),
            "#.............\n"
            "..............\n"
            "..............\n"
            "..............\n"
            "..............\n"
            "..........##.#\n"
            "..........##..\n"
            "..............\n");
}

TEST_F(GLDriver, HandleIsTheShapesPointPlacedAtThePosition) {
  SetHandle(2, 2);
  DrawRect(10, 10, 4, 4);
  Plot(5, 5);
  EXPECT_EQ(Picture(4, 4, 10, 10),
            "..........\n"
            ".#........\n"
            "..........\n"
            "..........\n"
            "....####..\n"
            "....####..\n"
            "....####..\n"
            "....####..\n"
            "..........\n"
            "..........\n");
}

TEST_F(GLDriver, RotationTurnsRectsClockwiseAboutTheHandle) {
  SetRotation(90);
  DrawRect(10, 10, 4, 2);
  EXPECT_EQ(Picture(7, 9, 5, 6),
            ".....\n"
            ".##..\n"
            ".##..\n"
            ".##..\n"
            ".##..\n"
            ".....\n");
}

TEST_F(GLDriver, OvalIsAConvexPolygonInsideItsBox) {
  DrawOval(0, 0, 16, 16);
  Ref<TPixmap> s = Screen();
  EXPECT_NE(s->ReadPixel(8, 8), kBlack);
  EXPECT_NE(s->ReadPixel(0, 8), kBlack);   // the rightmost and leftmost vertices' row
  EXPECT_NE(s->ReadPixel(15, 7), kBlack);
  EXPECT_NE(s->ReadPixel(7, 0), kBlack);
  EXPECT_NE(s->ReadPixel(8, 15), kBlack);
  EXPECT_EQ(s->ReadPixel(0, 0), kBlack);
  EXPECT_EQ(s->ReadPixel(15, 15), kBlack);
  EXPECT_EQ(s->ReadPixel(1, 1), kBlack);
  EXPECT_EQ(s->ReadPixel(16, 8), kBlack);
  // Left-right and top-bottom symmetry of the 16-gon.
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      ASSERT_EQ(s->ReadPixel(x, y) != kBlack, s->ReadPixel(15 - x, y) != kBlack) << x << y;
      ASSERT_EQ(s->ReadPixel(x, y) != kBlack, s->ReadPixel(x, 15 - y) != kBlack) << x << y;
    }
  }
  Cls();
  DrawOval(0, 0, 4, 4);
  EXPECT_EQ(Picture(0, 0, 5, 5),
            ".##..\n"
            "####.\n"
            "####.\n"
            ".##..\n"
            ".....\n");
}

TEST_F(GLDriver, PolyPointsAreRelativeToTheOriginAndShortListsDrawNothing) {
  SetOrigin(2, 1);
  DrawPoly({0, 0, 4, 0, 4, 3, 0, 3});
  EXPECT_EQ(Picture(0, 0, 7, 5),
            ".......\n"
            "..####.\n"
            "..####.\n"
            "..####.\n"
            ".......\n");
  Cls();
  DrawPoly({0, 0, 4, 0});
  DrawPoly({0, 0, 4, 0, 4, 3, 0});
  EXPECT_EQ(InkCount(), 0);
}

// --- pixmaps

TEST_F(GLDriver, DrawPixmapCopiesRowsDownwardsSolidAndRestoresTheBlend) {
  Ref<TPixmap> p = TPixmap::Create(3, 2, PIXFMT_RGBA32);
  const uint32_t colours[2][3] = {{0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu},
                                  {0x80FFFFFFu, 0xFF102030u, 0x00FFFF00u}};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) p->WritePixel(x, y, colours[y][x]);
  }
  SetBlend(BLEND_ALPHA);
  SetColor(0, 0, 0);
  SetAlpha(0.5f);
  DrawPixmap(p, 5, 6);
  Ref<TPixmap> s = Screen();
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(s->ReadPixel(5 + x, 6 + y) & 0x00FFFFFFu, colours[y][x] & 0x00FFFFFFu);
    }
  }
  EXPECT_EQ(s->ReadPixel(4, 6), kBlack);
  EXPECT_EQ(s->ReadPixel(8, 7), kBlack);
  // Alpha blending is back: a half-white square over black comes out grey.
  SetColor(255, 255, 255);
  DrawRect(0, 0, 1, 1);
  EXPECT_NEAR(Red(At(0, 0)), 127, 1);
}

TEST_F(GLDriver, DrawPixmapConvertsOtherFormats) {
  Ref<TPixmap> p = TPixmap::Create(2, 1, PIXFMT_BGR24);
  p->WritePixel(0, 0, 0xFF112233u);
  p->WritePixel(1, 0, 0xFF445566u);
  DrawPixmap(p, 0, 0);
  EXPECT_EQ(At(0, 0), 0xFF112233u);
  EXPECT_EQ(At(1, 0), 0xFF445566u);
}

// --- textures

TEST_F(GLDriver, FiveByThreePixmapGetsAnEightByFourTexturePaddedAtItsEdges) {
  Ref<TPixmap> p = TPixmap::Create(5, 3, PIXFMT_RGBA32);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) {
      p->WritePixel(x, y, 0xFF000000u | static_cast<uint32_t>((x * 40 + 10) << 16) |
                              static_cast<uint32_t>((y * 80 + 10) << 8));
    }
  }
  Ref<TImageFrame> made = CurrentDriver->CreateFrameFromPixmap(p, 0);
  auto frame = std::dynamic_pointer_cast<TGLImageFrame>(made);
  ASSERT_NE(frame, nullptr);
  EXPECT_NE(frame->name, 0);
  EXPECT_EQ(frame->seq, graphicsGeneration);
  EXPECT_EQ(frame->uscale, 0.125f);
  EXPECT_EQ(frame->vscale, 0.25f);
  EXPECT_EQ(frame->u1, 0.625f);
  EXPECT_EQ(frame->v1, 0.75f);
  EXPECT_EQ(frame->u0, 0.0f);

  // Drawing the whole texture shows the pixmap, its last column and row repeated once.
  frame->Draw(0, 0, 8, 4, 0, 0, 0, 0, 8, 4);
  Ref<TPixmap> s = Screen();
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) ASSERT_EQ(s->ReadPixel(x, y), p->ReadPixel(x, y));
    EXPECT_EQ(s->ReadPixel(5, y), p->ReadPixel(4, y));
    EXPECT_EQ(s->ReadPixel(6, y), kBlack);
  }
  for (int x = 0; x < 5; ++x) EXPECT_EQ(s->ReadPixel(x, 3), p->ReadPixel(x, 2));
  EXPECT_EQ(s->ReadPixel(5, 3), p->ReadPixel(4, 2));
}

TEST(TextureSize, RaisedToPowersOfTwoThenHalvedUntilAccepted) {
  int w = 0, h = 0;
  FindTextureSize(5, 3, [](int, int) { return true; }, w, h);
  EXPECT_EQ(w, 8);
  EXPECT_EQ(h, 4);
  FindTextureSize(1, 64, [](int, int) { return true; }, w, h);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 64);
  // Both sides above 1 halve together, a side at 1 stays.
  FindTextureSize(300, 20, [](int a, int b) { return a <= 64 && b <= 64; }, w, h);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 4);
  FindTextureSize(1, 1000, [](int a, int b) { return a * b <= 256; }, w, h);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 256);
  try {
    FindTextureSize(3, 3, [](int, int) { return false; }, w, h);
    FAIL() << "no size accepted, yet no error";
  } catch (const TRuntimeError& error) {
    EXPECT_STREQ(error.what(), "Unable to calculate tex size");
  }
}

TEST_F(GLDriver, EmptyPixmapGetsNoFrame) {
  EXPECT_EQ(CurrentDriver->CreateFrameFromPixmap(TPixmap::Create(0, 3, PIXFMT_RGBA32), 0),
            nullptr);
  Ref<TImage> image = TImage::Load(TPixmap::Create(4, 0, PIXFMT_RGBA32), 0, 0, 0, 0);
  DrawImage(image, 0, 0);
  EXPECT_EQ(InkCount(), 0);
}

TEST_F(GLDriver, FilteredMipmappedFrameDrawsAtFullSize) {
  Ref<TPixmap> p = TPixmap::Create(5, 3, PIXFMT_RGBA32);
  p->ClearPixels(0xFF40C080u);
  auto frame = std::dynamic_pointer_cast<TGLImageFrame>(
      CurrentDriver->CreateFrameFromPixmap(p, IMAGEFLAG_FILTERED | IMAGEFLAG_MIPMAPPED));
  ASSERT_NE(frame, nullptr);
  frame->Draw(0, 0, 5, 3, 2, 2, 0, 0, 5, 3);
  EXPECT_EQ(At(4, 3), 0xFF40C080u);
  EXPECT_EQ(At(1, 1), kBlack);
}

TEST_F(GLDriver, TexturesOfGoneFramesAreDeletedOnlyWithinTheirGeneration) {
  Ref<TPixmap> p = TPixmap::Create(2, 2, PIXFMT_RGBA32);
  p->ClearPixels(kWhite);
  Ref<TImageFrame> a = CurrentDriver->CreateFrameFromPixmap(p, 0);
  Ref<TImageFrame> b = CurrentDriver->CreateFrameFromPixmap(p, 0);
  a.reset();
  b.reset();
  int deleted = GLVex2DStats().textures_deleted;
  Ref<TImageFrame> c = CurrentDriver->CreateFrameFromPixmap(p, 0);
  EXPECT_EQ(GLVex2DStats().textures_deleted, deleted + 2);

  // Once the generation has moved on, the names of older frames are dropped, not deleted.
  SelectGraphicsDriver(GLVex2DDriver(), 2);
  SetGraphics(context);
  c.reset();
  Ref<TImageFrame> d = CurrentDriver->CreateFrameFromPixmap(p, 0);
  EXPECT_EQ(GLVex2DStats().textures_deleted, deleted + 2);
  d->Draw(0, 0, 2, 2, 0, 0, 0, 0, 2, 2);  // the new name is bound and usable
  EXPECT_EQ(At(1, 1), kWhite);
}

TEST_F(GLDriver, TexelsAreTintedByColourAndAlpha) {
  Ref<TPixmap> p = TPixmap::Create(1, 1, PIXFMT_RGBA32);
  p->WritePixel(0, 0, kWhite);
  Ref<TImage> image = TImage::Load(p, 0, 0, 0, 0);
  SetColor(255, 128, 0);
  DrawImage(image, 3, 3);
  EXPECT_EQ(At(3, 3), 0xFFFF8000u);
}

// --- the built-in font

// Whether bit k of row y of the glyph for character c is ink in the resource.
bool FontInk(char16_t c, int k, int y) {
  const TResource* font = FindResource(u"corvanefont.bin");
  return ((font->bytes[y * 96 + (c - 32)] >> k) & 1) != 0;
}

TEST_F(GLDriver, TextDrawsTheResourceGlyphsInTheirCells) {
  SetBlend(BLEND_ALPHA);
  DrawText(u"AB", 4, 10);
  Ref<TPixmap> s = Screen();
  for (int y = 0; y < 16; ++y) {
    for (int k = 0; k < 8; ++k) {
      ASSERT_EQ(s->ReadPixel(4 + k, 10 + y), FontInk(u'A', k, y) ? kWhite : kBlack) << k << y;
      ASSERT_EQ(s->ReadPixel(12 + k, 10 + y), FontInk(u'B', k, y) ? kWhite : kBlack) << k << y;
    }
  }
  EXPECT_EQ(s->ReadPixel(3, 14), kBlack);
  EXPECT_EQ(s->ReadPixel(20, 14), kBlack);
}

TEST_F(GLDriver, ScaledTextDoublesEveryGlyphPixel) {
  SetBlend(BLEND_MASK);
  SetColor(0, 255, 0);
  SetScale(2, 2);
  DrawText(u"Q", 0, 0);
  Ref<TPixmap> s = Screen();
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 16; ++x) {
      ASSERT_EQ(s->ReadPixel(x, y), FontInk(u'Q', x / 2, y / 2) ? 0xFF00FF00u : kBlack);
    }
  }
}

TEST_F(GLDriver, SolidBlendWritesTheWholeCellAndAlphaBlendTheInkOnly) {
  SetClsColor(0, 0, 200);
  Cls();
  SetBlend(BLEND_SOLID);
  DrawText(u" ", 0, 0);  // background texels: black
  SetBlend(BLEND_ALPHA);
  DrawText(u" ", 8, 0);  // nothing visible
  Ref<TPixmap> s = Screen();
  EXPECT_EQ(s->ReadPixel(3, 8) & 0x00FFFFFFu, 0u);
  EXPECT_EQ(s->ReadPixel(11, 8), 0xFF0000C8u);
}

}  // namespace
