// Fonts: the abstract font and glyph of font loaders, the loader chain, and image fonts
// whose glyphs are images drawn one textured quad per character. The built-in 8 x 16 font
// is an image font made from the resource "corvanefont.bin".
// Depends on images and the built-in resources. State: the font loader chain, in font.cpp.
#pragma once

#include <vector>

#include "draw2d/image.h"

// A glyph as a font loader delivers it.
class TGlyph : public Object {
 public:
  virtual Ref<Object> Pixels() = 0;
  virtual float Advance() = 0;
  virtual void GetRect(int& x, int& y, int& width, int& height) = 0;
};

// A font as a font loader delivers it.
class TFont : public Object {
 public:
  virtual int Style() = 0;
  virtual int Height() = 0;
  virtual int CountGlyphs() = 0;
  virtual int CharToGlyph(int c) = 0;
  virtual Ref<TGlyph> LoadGlyph(int index) = 0;
};

// One link of the font loader chain.
class TFontLoader : public Object {
 public:
  virtual Ref<TFont> LoadFont(const Ref<Object>& url, int size, int style) = 0;
  TFontLoader* _succ = nullptr;
};

// Puts a loader at the head of the chain; it is asked first from then on. Not owned.
void AddFontLoader(TFontLoader* loader);
// Asks each loader from the head; the first font made wins. Null when none accepts.
Ref<TFont> LoadFont(const Ref<Object>& url, int size, int style);

class TImageGlyph : public Object {
 public:
  Ref<TImage> Pixels() { return _image; }
  float Advance() { return _advance; }
  void GetRect(int& x, int& y, int& width, int& height) {
    x = _x;
    y = _y;
    width = _w;
    height = _h;
  }

  Ref<TImage> _image;
  float _advance = 0.0f;
  int _x = 0, _y = 0, _w = 0, _h = 0;
};

class TImageFont : public Object {
 public:
  virtual int Style();
  virtual int Height();
  virtual int CountGlyphs();
  virtual int CharToGlyph(int c);
  virtual Ref<TImageGlyph> LoadGlyph(int index);
  // Draws text with its pen at (x, y), stepping along the transformed x axis.
  virtual void Draw(const String& text, float x, float y, float ix, float iy, float jx,
                    float jy);

  // An image font over a loaded font; null when no loader accepts the url.
  static Ref<TImageFont> Load(const Ref<Object>& url, int size, int style);
  // The built-in 8 x 16 font for the characters 32 to 127.
  static Ref<TImageFont> CreateDefault();

  Ref<TFont> _src_font;
  std::vector<Ref<TImageGlyph>> _glyphs;
  int _imageFlags = 0;
};

// Style bit that asks for smooth (filtered, mipmapped) glyph images.
constexpr int FONT_SMOOTH = 4;
