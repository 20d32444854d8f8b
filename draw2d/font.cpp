// Fonts: the loader chain and image fonts, including the built-in one.
// State: the head of the font loader chain.
#include "draw2d/font.h"

#include "draw2d/draw2d.h"
#include "draw2d/resources/resources.h"

namespace {

constexpr int kFirstChar = 32;
constexpr int kGlyphCount = 96;
constexpr int kCellWidth = 8;
constexpr int kCellHeight = 16;
constexpr uint32_t kInk = 0xFFFFFFFFu;  // opaque white; the texel is tinted by the colour

TFontLoader* font_loaders = nullptr;

}  // namespace

void AddFontLoader(TFontLoader* loader) {
  loader->_succ = font_loaders;
  font_loaders = loader;
}

Ref<TFont> LoadFont(const Ref<Object>& url, int size, int style) {
  for (TFontLoader* loader = font_loaders; loader; loader = loader->_succ) {
    if (Ref<TFont> font = loader->LoadFont(url, size, style)) return font;
  }
  return nullptr;
}

int TImageFont::Style() { return _src_font ? _src_font->Style() : 0; }

int TImageFont::Height() { return _src_font ? _src_font->Height() : kCellHeight; }

int TImageFont::CountGlyphs() { return static_cast<int>(_glyphs.size()); }

int TImageFont::CharToGlyph(int c) {
  if (_src_font) return _src_font->CharToGlyph(c);
  return (c >= kFirstChar && c < kFirstChar + kGlyphCount) ? c - kFirstChar : -1;
}

Ref<TImageGlyph> TImageFont::LoadGlyph(int index) {
  // Note: a loaded font may map a character past its own glyph count; such a character
  // has no glyph rather than reading outside the table.
  if (index < 0 || index >= CountGlyphs()) return nullptr;
  Ref<TImageGlyph>& slot = _glyphs[index];
  if (slot || !_src_font) return slot;
  Ref<TGlyph> source = _src_font->LoadGlyph(index);
  auto glyph = std::make_shared<TImageGlyph>();
  if (source) {
    glyph->_advance = source->Advance();
    source->GetRect(glyph->_x, glyph->_y, glyph->_w, glyph->_h);
    if (auto pixmap = std::dynamic_pointer_cast<TPixmap>(source->Pixels())) {
      glyph->_image = TImage::Load(pixmap->Copy(), _imageFlags, 0, 0, 0);
    }
  }
  slot = glyph;
  return slot;
}

void TImageFont::Draw(const String& text, float x, float y, float ix, float iy, float jx,
                      float jy) {
  for (char16_t c : text) {
    int n = CharToGlyph(c);
    // Characters without a glyph neither draw nor move the pen.
    if (n < 0) continue;
    Ref<TImageGlyph> glyph = LoadGlyph(n);
    if (!glyph) continue;
    if (glyph->_image) {
      if (Ref<TImageFrame> frame = glyph->_image->Frame(0)) {
        float w = static_cast<float>(glyph->_image->width);
        float h = static_cast<float>(glyph->_image->height);
        double gx = static_cast<double>(x) + static_cast<double>(glyph->_x) * ix +
                    static_cast<double>(glyph->_y) * iy;
        double gy = static_cast<double>(y) + static_cast<double>(glyph->_x) * jx +
                    static_cast<double>(glyph->_y) * jy;
        frame->Draw(0, 0, w, h, static_cast<float>(gx), static_cast<float>(gy), 0, 0, w, h);
      }
    }
    x = static_cast<float>(static_cast<double>(x) + static_cast<double>(glyph->_advance) * ix);
    y = static_cast<float>(static_cast<double>(y) + static_cast<double>(glyph->_advance) * jx);
  }
}

Ref<TImageFont> TImageFont::Load(const Ref<Object>& url, int size, int style) {
  Ref<TFont> source = LoadFont(url, size, style);
  if (!source) return nullptr;
  auto font = std::make_shared<TImageFont>();
  font->_src_font = source;
  font->_glyphs.resize(static_cast<size_t>(source->CountGlyphs()));
  if ((style & FONT_SMOOTH) != 0) font->_imageFlags = IMAGEFLAG_FILTERED | IMAGEFLAG_MIPMAPPED;
  return font;
}

Ref<TImageFont> TImageFont::CreateDefault() {
  StartDraw2D();
  auto font = std::make_shared<TImageFont>();
  font->_glyphs.resize(kGlyphCount);

  // All glyphs go into one strip first, then each glyph's image is a copy of its cell.
  Ref<TPixmap> strip = TPixmap::Create(kGlyphCount * kCellWidth, kCellHeight, PIXFMT_RGBA32, 4);
  const TResource* resource = FindResource(u"corvanefont.bin");
  const uint8_t* bytes = resource ? resource->bytes : corvanefont_bin.data();
  for (int y = 0; y < kCellHeight; ++y) {
    for (int j = 0; j < kGlyphCount; ++j) {
      uint8_t row = bytes[y * kGlyphCount + j];
      for (int k = 0; k < kCellWidth; ++k) {
        strip->WritePixel(j * kCellWidth + k, y, ((row >> k) & 1) ? kInk : 0u);
      }
    }
  }
  for (int j = 0; j < kGlyphCount; ++j) {
    auto glyph = std::make_shared<TImageGlyph>();
    glyph->_advance = static_cast<float>(kCellWidth);
    glyph->_w = kCellWidth;
    glyph->_h = kCellHeight;
    Ref<TPixmap> cell = strip->Window(j * kCellWidth, 0, kCellWidth, kCellHeight)->Copy();
    glyph->_image = TImage::Load(cell, 0, 0, 0, 0);
    font->_glyphs[j] = glyph;
  }
  return font;
}
