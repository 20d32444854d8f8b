// The built-in font resource and its metrics, the default image font made from it, the
// resource table, and image fonts over fonts from the loader chain.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "draw2d/draw2d.h"
#include "draw2d/font.h"
#include "draw2d/resources/resources.h"
#include "support/environment.h"

namespace {

const uint8_t* FontBytes() {
  UnsetEnvironment("DISPLAY");  // the graphics module may start SDL: never on a real display
  StartDraw2D();
  const TResource* font = FindResource(u"corvanefont.bin");
  EXPECT_NE(font, nullptr);
  return font ? font->bytes : nullptr;
}

uint8_t Row(char16_t c, int y) { return FontBytes()[y * 96 + (c - 32)]; }

// First and last inked row of a glyph, or -1, -1 for a blank one.
std::pair<int, int> InkedRows(char16_t c) {
  int first = -1, last = -1;
  for (int y = 0; y < 16; ++y) {
    if (Row(c, y) != 0) {
      if (first < 0) first = y;
      last = y;
    }
  }
  return {first, last};
}

TEST(BuiltinFont, ResourceIsRegisteredWithItsSize) {
  FontBytes();
  const TResource* font = FindResource(u"corvanefont.bin");
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(font->size, 1536u);
  EXPECT_EQ(FindResource(u"CorvaneFont.bin"), nullptr);
  EXPECT_EQ(FindResource(u"missing.bin"), nullptr);
}

TEST(BuiltinFont, CapitalAHasTheFormatsExampleRows) {
  const uint8_t expected[16] = {0x00, 0x00, 0x7C, 0xC6, 0xC6, 0xC6, 0xFE, 0xC6,
                                0xC6, 0xC6, 0xC6, 0x00, 0x00, 0x00, 0x00, 0x00};
  for (int y = 0; y < 16; ++y) EXPECT_EQ(Row(u'A', y), expected[y]) << "row " << y;
}

TEST(BuiltinFont, SpaceIsBlankAndNoGlyphInksColumnZeroOrRowsBelowTwelve) {
  EXPECT_EQ(InkedRows(u' '), std::make_pair(-1, -1));
  for (char16_t c = 32; c < 128; ++c) {
    for (int y = 0; y < 16; ++y) ASSERT_EQ(Row(c, y) & 1, 0) << "column 0 of " << int(c);
    for (int y = 13; y < 16; ++y) ASSERT_EQ(Row(c, y), 0) << "row " << y << " of " << int(c);
  }
}

TEST(BuiltinFont, CapitalsAndDigitsFillRowsTwoToTen) {
  for (char16_t c : std::u16string(u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789")) {
    EXPECT_EQ(InkedRows(c), std::make_pair(2, 10)) << char(c);
  }
}

TEST(BuiltinFont, LowerCaseSitsOnTheXHeightAndDescendsToRowTwelve) {
  for (char16_t c : std::u16string(u"acemnorsuvwxz")) {
    EXPECT_EQ(InkedRows(c), std::make_pair(5, 10)) << char(c);
  }
  for (char16_t c : std::u16string(u"bdfhkl")) {
    EXPECT_EQ(InkedRows(c), std::make_pair(2, 10)) << char(c);
  }
  for (char16_t c : std::u16string(u"gpqy")) {
    EXPECT_EQ(InkedRows(c), std::make_pair(5, 12)) << char(c);
  }
  EXPECT_EQ(InkedRows(u'j').second, 12);
}

TEST(BuiltinFont, BracketsAndBarSpanRowsOneToTwelve) {
  for (char16_t c : std::u16string(u"()[]{}|")) {
    EXPECT_EQ(InkedRows(c), std::make_pair(1, 12)) << char(c);
  }
}

TEST(BuiltinFont, EveryPrintableGlyphHasInkAndADesignOfItsOwn) {
  std::set<std::string> designs;
  for (char16_t c = 33; c < 128; ++c) {
    std::string design;
    for (int y = 0; y < 16; ++y) design += static_cast<char>(Row(c, y));
    EXPECT_NE(InkedRows(c).first, -1) << int(c);
    designs.insert(design);
  }
  EXPECT_EQ(designs.size(), 95u);
}

TEST(BuiltinFont, DefaultImageFontHoldsOneOpaqueWhiteGlyphImagePerCharacter) {
  Ref<TImageFont> font = TImageFont::CreateDefault();
  EXPECT_EQ(font->CountGlyphs(), 96);
  EXPECT_EQ(font->Height(), 16);
  EXPECT_EQ(font->Style(), 0);
  EXPECT_EQ(font->CharToGlyph(u'A'), 33);
  EXPECT_EQ(font->CharToGlyph(31), -1);
  EXPECT_EQ(font->CharToGlyph(128), -1);
  EXPECT_EQ(font->CharToGlyph(127), 95);
  for (char16_t c : std::u16string(u"A}g")) {
    Ref<TImageGlyph> glyph = font->LoadGlyph(font->CharToGlyph(c));
    ASSERT_NE(glyph, nullptr);
    EXPECT_EQ(glyph->Advance(), 8.0f);
    int x, y, w, h;
    glyph->GetRect(x, y, w, h);
    EXPECT_EQ(x + y, 0);
    EXPECT_EQ(w, 8);
    EXPECT_EQ(h, 16);
    Ref<TImage> image = glyph->Pixels();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 8);
    EXPECT_EQ(image->height, 16);
    EXPECT_EQ(image->flags, 0);
    const Ref<TPixmap>& pixels = image->pixmaps[0];
    for (int py = 0; py < 16; ++py) {
      for (int px = 0; px < 8; ++px) {
        uint32_t expected = ((Row(c, py) >> px) & 1) ? 0xFFFFFFFFu : 0u;
        ASSERT_EQ(pixels->ReadPixel(px, py), expected) << char(c) << px << "," << py;
      }
    }
  }
}

TEST(Resources, RegisteringANameAgainReplacesItsBytes) {
  static const uint8_t first[2] = {1, 2};
  static const uint8_t second[3] = {3, 4, 5};
  RegisterResource(u"test.bin", first, sizeof(first));
  RegisterResource(u"test.bin", second, sizeof(second));
  const TResource* found = FindResource(u"test.bin");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->bytes, second);
  EXPECT_EQ(found->size, 3u);
}

// --- image fonts over loaded fonts

class TTwoGlyphFont : public TFont {
 public:
  int Style() override { return 7; }
  int Height() override { return 11; }
  int CountGlyphs() override { return 2; }
  // 'z' maps past the glyph table, as a faulty font file might.
  int CharToGlyph(int c) override {
    return c == 'x' ? 0 : (c == 'y' ? 1 : (c == 'z' ? 9 : -1));
  }
  Ref<TGlyph> LoadGlyph(int index) override;
  int loads = 0;
};

class TPixmapGlyph : public TGlyph {
 public:
  Ref<Object> Pixels() override { return pixmap; }
  float Advance() override { return 5.5f; }
  void GetRect(int& x, int& y, int& width, int& height) override {
    x = 1;
    y = -2;
    width = pixmap ? pixmap->width : 0;
    height = pixmap ? pixmap->height : 0;
  }
  Ref<TPixmap> pixmap;
};

Ref<TGlyph> TTwoGlyphFont::LoadGlyph(int index) {
  ++loads;
  auto glyph = std::make_shared<TPixmapGlyph>();
  if (index == 0) glyph->pixmap = TPixmap::Create(3, 4, PIXFMT_RGBA32);
  return glyph;
}

class TNamedLoader : public TFontLoader {
 public:
  explicit TNamedLoader(String name) : name_(std::move(name)) {}
  Ref<TFont> LoadFont(const Ref<Object>& url, int, int) override {
    ++asked;
    if (!url || url->ToString() != name_) return nullptr;
    last = std::make_shared<TTwoGlyphFont>();
    return last;
  }
  int asked = 0;
  std::shared_ptr<TTwoGlyphFont> last;

 private:
  String name_;
};

TEST(ImageFont, LoaderChainIsAskedNewestFirstAndGlyphsLoadOnce) {
  static TNamedLoader older(u"two.fnt");
  static TNamedLoader newer(u"other.fnt");
  AddFontLoader(&older);
  AddFontLoader(&newer);
  Ref<TImageFont> font =
      TImageFont::Load(std::make_shared<TStringObject>(u"two.fnt"), 12, FONT_SMOOTH);
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(newer.asked, 1);
  EXPECT_EQ(older.asked, 1);
  EXPECT_EQ(font->CountGlyphs(), 2);
  EXPECT_EQ(font->Height(), 11);
  EXPECT_EQ(font->Style(), 7);
  EXPECT_EQ(font->_imageFlags, IMAGEFLAG_FILTERED | IMAGEFLAG_MIPMAPPED);
  EXPECT_EQ(font->CharToGlyph('y'), 1);
  EXPECT_EQ(font->CharToGlyph('A'), -1);

  Ref<TImageGlyph> x = font->LoadGlyph(0);
  EXPECT_EQ(font->LoadGlyph(0), x);
  EXPECT_EQ(older.last->loads, 1);
  EXPECT_EQ(x->Advance(), 5.5f);
  int gx, gy, gw, gh;
  x->GetRect(gx, gy, gw, gh);
  EXPECT_EQ(gx, 1);
  EXPECT_EQ(gy, -2);
  EXPECT_EQ(gw, 3);
  EXPECT_EQ(gh, 4);
  ASSERT_NE(x->Pixels(), nullptr);
  EXPECT_EQ(x->Pixels()->flags, IMAGEFLAG_FILTERED | IMAGEFLAG_MIPMAPPED);
  // A glyph without pixels still advances but has no image.
  EXPECT_EQ(font->LoadGlyph(1)->Pixels(), nullptr);

  // A glyph index outside the table is no glyph.
  EXPECT_EQ(font->LoadGlyph(font->CharToGlyph('z')), nullptr);
  EXPECT_EQ(font->LoadGlyph(-1), nullptr);

  Ref<TImageFont> plain =
      TImageFont::Load(std::make_shared<TStringObject>(u"two.fnt"), 12, 0);
  EXPECT_EQ(plain->_imageFlags, 0);
  EXPECT_EQ(TImageFont::Load(std::make_shared<TStringObject>(u"none.fnt"), 12, 0), nullptr);
}

}  // namespace
