// 2D drawing front end: the per-context state record, the current context and driver, the
// state setters and getters, the virtual mouse and the primitives' front-end half.
// Depends on the graphics module (settings cache, Flip, polled mouse input) and the 2D
// driver in force.
// State: CurrentGraphics, CurrentDriver, DefaultImageFont and the mask colour.
#include "draw2d/draw2d.h"

#include <cmath>  // for std::sin, std::cos, std::floor

#include "draw2d/font.h"
#include "draw2d/image.h"
#include "draw2d/resources/resources.h"
#include "graphics/input.h"   // mouse readings for the virtual mouse
#include "graphics/system.h"  // MoveMouse
#include "pixmap/pixmap.h"
#include "runtime/degrees.h"

TVex2DGraphics* CurrentGraphics = nullptr;
TVex2DDriver* CurrentDriver = nullptr;

namespace {

Ref<TImageFont> DefaultImageFont;
int mask_red = 0, mask_green = 0, mask_blue = 0;

// Rebuilds the 2x2 matrix from rotation and scale and hands it to the driver.
void UpdateTransform(TVex2DGraphics* g) {
  double radians = static_cast<double>(g->tform_rot) * kDegToRad;
  // Note: the sine goes through float32 before it is scaled, the cosine does not.
  double s = static_cast<float>(std::sin(radians));
  double c = std::cos(radians);
  g->tform_ix = static_cast<float>(c * g->tform_scale_x);
  g->tform_iy = static_cast<float>(-s * g->tform_scale_y);
  g->tform_jx = static_cast<float>(s * g->tform_scale_x);
  g->tform_jy = static_cast<float>(c * g->tform_scale_y);
  CurrentDriver->SetTransform(g->tform_ix, g->tform_iy, g->tform_jx, g->tform_jy);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TVex2DGraphics

TGraphicsDriver* TVex2DGraphics::Driver() { return _driver; }

int TVex2DGraphics::GetSettings(int& width, int& height, int& depth, int& hertz,
                                int& flags) {
  if (!_graphics) {
    width = height = depth = hertz = flags = 0;
    return 0;
  }
  return _graphics->GetSettings(width, height, depth, hertz, flags);
}

int TVex2DGraphics::Visible() { return _graphics ? _graphics->Visible() : 0; }

int TVex2DGraphics::Close() {
  if (!_graphics) return 0;
  int result = _graphics->Close();
  _graphics = nullptr;
  _driver = nullptr;
  return result;
}

void TVex2DGraphics::Validate() {
  int width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
  _graphics->GetSettings(width, height, depth, hertz, flags);
  if (width != g_width || height != g_height) {
    // A context whose size changed loses its virtual resolution.
    g_width = width;
    g_height = height;
    vres_width = static_cast<float>(width);
    vres_height = static_cast<float>(height);
    vres_mousexscale = 1.0f;
    vres_mouseyscale = 1.0f;
  }
  // Replayed through the public setters so each value reaches the driver; the viewport
  // follows the virtual resolution so it is converted with the fresh scales.
  ::SetVirtualResolution(vres_width, vres_height);
  ::SetBlend(blend_mode);
  ::SetColor(color_red, color_green, color_blue);
  ::SetAlpha(color_alpha);
  ::SetClsColor(clscolor_red, clscolor_green, clscolor_blue);
  ::SetLineWidth(line_width);
  ::SetRotation(tform_rot);
  ::SetScale(tform_scale_x, tform_scale_y);
  ::SetViewport(viewport_x, viewport_y, viewport_w, viewport_h);
  ::SetOrigin(origin_x, origin_y);
  ::SetHandle(-handle_x, -handle_y);
  ::SetImageFont(image_font);
}

void TVex2DGraphics::MakeCurrent() {
  CurrentGraphics = this;
  CurrentDriver = _driver;
  Validate();
  if (_setup == 0) {
    // Both buffers of a fresh context start out in the clear colour.
    ::Cls();
    ::Flip(0);
    ::Cls();
    ::Flip(0);
    _setup = 1;
  }
}

void TVex2DGraphics::ClearCurrent() {
  CurrentGraphics = nullptr;
  CurrentDriver = nullptr;
}

TVex2DGraphics* TVex2DGraphics::Current() { return CurrentGraphics; }

Ref<TVex2DGraphics> TVex2DGraphics::Create(Ref<TGraphics> graphics, TVex2DDriver* driver) {
  int width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
  graphics->GetSettings(width, height, depth, hertz, flags);
  if (!DefaultImageFont) DefaultImageFont = TImageFont::CreateDefault();

  auto g = std::make_shared<TVex2DGraphics>();
  g->viewport_w = width;
  g->viewport_h = height;
  g->image_font = DefaultImageFont;
  g->vres_width = static_cast<float>(width);
  g->vres_height = static_cast<float>(height);
  g->g_width = width;
  g->g_height = height;
  g->_graphics = std::move(graphics);
  g->_driver = driver;
  return g;
}

// ---------------------------------------------------------------------------------------
// State setters and getters: stored unchanged, forwarded at once.

void SetColor(int red, int green, int blue) {
  CurrentGraphics->color_red = red;
  CurrentGraphics->color_green = green;
  CurrentGraphics->color_blue = blue;
  CurrentDriver->SetColor(red, green, blue);
}

void GetColor(int& red, int& green, int& blue) {
  red = CurrentGraphics->color_red;
  green = CurrentGraphics->color_green;
  blue = CurrentGraphics->color_blue;
}

void SetAlpha(float alpha) {
  CurrentGraphics->color_alpha = alpha;
  CurrentDriver->SetAlpha(alpha);
}

float GetAlpha() { return CurrentGraphics->color_alpha; }

void SetBlend(int mode) {
  CurrentGraphics->blend_mode = mode;
  CurrentDriver->SetBlend(mode);
}

int GetBlend() { return CurrentGraphics->blend_mode; }

void SetLineWidth(float width) {
  CurrentGraphics->line_width = width;
  CurrentDriver->SetLineWidth(width);
}

float GetLineWidth() { return CurrentGraphics->line_width; }

void SetClsColor(int red, int green, int blue) {
  CurrentGraphics->clscolor_red = red;
  CurrentGraphics->clscolor_green = green;
  CurrentGraphics->clscolor_blue = blue;
  CurrentDriver->SetClsColor(red, green, blue);
}

void GetClsColor(int& red, int& green, int& blue) {
  red = CurrentGraphics->clscolor_red;
  green = CurrentGraphics->clscolor_green;
  blue = CurrentGraphics->clscolor_blue;
}

// Clears the viewport to the clear colour.
void Cls() { CurrentDriver->Cls(); }

void SetRotation(float degrees) {
  CurrentGraphics->tform_rot = degrees;
  UpdateTransform(CurrentGraphics);
}

float GetRotation() { return CurrentGraphics->tform_rot; }

void SetScale(float x, float y) {
  CurrentGraphics->tform_scale_x = x;
  CurrentGraphics->tform_scale_y = y;
  UpdateTransform(CurrentGraphics);
}

void GetScale(float& x, float& y) {
  x = CurrentGraphics->tform_scale_x;
  y = CurrentGraphics->tform_scale_y;
}

void SetRotationScale(float degrees, float x, float y) {
  CurrentGraphics->tform_rot = degrees;
  CurrentGraphics->tform_scale_x = x;
  CurrentGraphics->tform_scale_y = y;
  UpdateTransform(CurrentGraphics);
}

void SetHandle(float x, float y) {
  CurrentGraphics->handle_x = -x;
  CurrentGraphics->handle_y = -y;
}

void GetHandle(float& x, float& y) {
  x = -CurrentGraphics->handle_x;
  y = -CurrentGraphics->handle_y;
}

void SetOrigin(float x, float y) {
  CurrentGraphics->origin_x = x;
  CurrentGraphics->origin_y = y;
}

void GetOrigin(float& x, float& y) {
  x = CurrentGraphics->origin_x;
  y = CurrentGraphics->origin_y;
}

// A viewport edge in virtual units as a device pixel edge: the float32 quotient by the
// scale, floored, held to 0..limit (a quotient that is not a number, as an empty virtual
// resolution makes, counts as 0).
int DeviceEdge(int64_t edge, float scale, int limit) {
  const double device = std::floor(static_cast<float>(edge) / scale);
  if (!(device > 0)) return 0;
  return device < limit ? static_cast<int>(device) : limit;
}

// Stores the viewport in virtual units and clips the driver to it in device pixels.
void SetViewport(int x, int y, int width, int height) {
  TVex2DGraphics* g = CurrentGraphics;
  g->viewport_x = x;
  g->viewport_y = y;
  g->viewport_w = width;
  g->viewport_h = height;
  const float xs = g->vres_mousexscale, ys = g->vres_mouseyscale;
  const int context_width = CurrentGraphicsWidth(), context_height = CurrentGraphicsHeight();
  // The far edges are summed in 64 bits and every edge is held to the context, so no int
  // arguments overflow and the driver gets a rectangle it can show.
  const int x0 = DeviceEdge(x, xs, context_width);
  const int y0 = DeviceEdge(y, ys, context_height);
  const int x1 = DeviceEdge(int64_t{x} + width, xs, context_width);
  const int y1 = DeviceEdge(int64_t{y} + height, ys, context_height);
  CurrentDriver->SetViewport(x0, y0, x1 - x0, y1 - y0);
}

void GetViewport(int& x, int& y, int& width, int& height) {
  x = CurrentGraphics->viewport_x;
  y = CurrentGraphics->viewport_y;
  width = CurrentGraphics->viewport_w;
  height = CurrentGraphics->viewport_h;
}

// Makes the whole context span 0..width by 0..height.
void SetVirtualResolution(float width, float height) {
  TVex2DGraphics* g = CurrentGraphics;
  g->vres_width = width;
  g->vres_height = height;
  g->vres_mousexscale = static_cast<float>(width / static_cast<float>(CurrentGraphicsWidth()));
  g->vres_mouseyscale =
      static_cast<float>(height / static_cast<float>(CurrentGraphicsHeight()));
  CurrentDriver->SetResolution(width, height);
}

void SetMaskColor(int red, int green, int blue) {
  mask_red = red;
  mask_green = green;
  mask_blue = blue;
}

void GetMaskColor(int& red, int& green, int& blue) {
  red = mask_red;
  green = mask_green;
  blue = mask_blue;
}

// ---------------------------------------------------------------------------------------
// Virtual mouse: device pixels scaled by the factors SetVirtualResolution last worked out.

float VirtualMouseX() {
  return static_cast<float>(MousePosX()) * CurrentGraphics->vres_mousexscale;
}

float VirtualMouseY() {
  return static_cast<float>(MousePosY()) * CurrentGraphics->vres_mouseyscale;
}

float VirtualMouseDeltaX() {
  return static_cast<float>(MouseDeltaX()) * CurrentGraphics->vres_mousexscale;
}

float VirtualMouseDeltaY() {
  return static_cast<float>(MouseDeltaY()) * CurrentGraphics->vres_mouseyscale;
}

void MoveVirtualMouse(float x, float y) {
  // Note: real-to-integer conversion truncates toward zero, as everywhere.
  MoveMouse(static_cast<int>(x / CurrentGraphics->vres_mousexscale),
            static_cast<int>(y / CurrentGraphics->vres_mouseyscale));
}

// ---------------------------------------------------------------------------------------
// Primitives. Note: these run up to 144,040 times per sprite; nothing here may allocate.

// Sets one pixel; only the origin applies.
void Plot(float x, float y) {
  const TVex2DGraphics* g = CurrentGraphics;
  CurrentDriver->Plot(static_cast<float>(static_cast<double>(x) + g->origin_x),
                      static_cast<float>(static_cast<double>(y) + g->origin_y));
}

// Fills a width x height rectangle whose handle point lands on (x, y).
void DrawRect(float x, float y, float width, float height) {
  const TVex2DGraphics* g = CurrentGraphics;
  double hx = g->handle_x, hy = g->handle_y;
  CurrentDriver->DrawRect(static_cast<float>(hx), static_cast<float>(hy),
                          static_cast<float>(hx + width), static_cast<float>(hy + height),
                          static_cast<float>(static_cast<double>(x) + g->origin_x),
                          static_cast<float>(static_cast<double>(y) + g->origin_y));
}

// Draws a line from (x, y) to (x2, y2), and with drawLastPixel its end pixel too.
void DrawLine(float x, float y, float x2, float y2, int drawLastPixel) {
  const TVex2DGraphics* g = CurrentGraphics;
  double hx = g->handle_x, hy = g->handle_y;
  float a = static_cast<float>(hx + x2 - x);
  float b = static_cast<float>(hy + y2 - y);
  float tx = static_cast<float>(static_cast<double>(x) + g->origin_x);
  float ty = static_cast<float>(static_cast<double>(y) + g->origin_y);
  if (drawLastPixel == 0) {
    CurrentDriver->DrawLine(static_cast<float>(hx), static_cast<float>(hy), a, b, tx, ty);
  } else {
    // The closing pixel is placed by the front end, through the same transform, so that the
    // driver's half-pixel offset lands it on the segment's end vertex.
    double px = static_cast<double>(a) * g->tform_ix + static_cast<double>(b) * g->tform_iy +
                x + g->origin_x;
    double py = static_cast<double>(a) * g->tform_jx + static_cast<double>(b) * g->tform_jy +
                y + g->origin_y;
    CurrentDriver->DrawLineAndPlot(static_cast<float>(hx), static_cast<float>(hy), a, b, tx, ty,
                                   static_cast<float>(px), static_cast<float>(py));
  }
}

// Fills the ellipse inscribed in a width x height rectangle whose handle point is (x, y).
void DrawOval(float x, float y, float width, float height) {
  const TVex2DGraphics* g = CurrentGraphics;
  double hx = g->handle_x, hy = g->handle_y;
  CurrentDriver->DrawOval(static_cast<float>(hx), static_cast<float>(hy),
                          static_cast<float>(hx + width), static_cast<float>(hy + height),
                          static_cast<float>(static_cast<double>(x) + g->origin_x),
                          static_cast<float>(static_cast<double>(y) + g->origin_y));
}

// Fills a convex polygon given as x, y pairs relative to the origin.
void DrawPoly(const std::vector<float>& points) {
  const TVex2DGraphics* g = CurrentGraphics;
  CurrentDriver->DrawPoly(points, g->handle_x, g->handle_y, g->origin_x, g->origin_y);
}

// Copies a pixmap unscaled to device pixel (x, y).
void DrawPixmap(const Ref<TPixmap>& pixmap, int x, int y) {
  CurrentDriver->DrawPixmap(pixmap, x, y);
}

Ref<TPixmap> GrabPixmap(int x, int y, int width, int height) {
  return CurrentDriver->GrabPixmap(x, y, width, height);
}

// ---------------------------------------------------------------------------------------
// Text and images.

// Draws text with the context's image font; the handle point of the block lands on (x, y).
void DrawText(const String& text, float x, float y) {
  const TVex2DGraphics* g = CurrentGraphics;
  double px = static_cast<double>(x) + g->origin_x +
              static_cast<double>(g->handle_x) * g->tform_ix +
              static_cast<double>(g->handle_y) * g->tform_iy;
  double py = static_cast<double>(y) + g->origin_y +
              static_cast<double>(g->handle_x) * g->tform_jx +
              static_cast<double>(g->handle_y) * g->tform_jy;
  g->image_font->Draw(text, static_cast<float>(px), static_cast<float>(py), g->tform_ix,
                      g->tform_iy, g->tform_jx, g->tform_jy);
}

// Sum of the glyph advances of the text, unscaled.
int TextWidth(const String& text) {
  TImageFont* font = CurrentGraphics->image_font.get();
  int width = 0;
  for (char16_t c : text) {
    int n = font->CharToGlyph(c);
    if (n < 0) continue;
    Ref<TImageGlyph> glyph = font->LoadGlyph(n);
    float advance = glyph ? glyph->Advance() : 0.0f;
    width = static_cast<int>(advance + static_cast<float>(width));
  }
  return width;
}

int TextHeight() { return CurrentGraphics->image_font->Height(); }

void SetImageFont(const Ref<TImageFont>& font) {
  CurrentGraphics->image_font = font ? font : DefaultImageFont;
}

Ref<TImageFont> GetImageFont() { return CurrentGraphics->image_font; }

Ref<TImageFont> LoadImageFont(const Ref<Object>& url, int size, int style) {
  return TImageFont::Load(url, size, style);
}

// Draws a frame of an image with the image's own handle at (x, y).
void DrawImage(const Ref<TImage>& image, float x, float y, int frame) {
  DrawImageRect(image, x, y, static_cast<float>(image->width),
                static_cast<float>(image->height), frame);
}

// Draws a frame of an image stretched over width x height, the image's handle at (x, y).
void DrawImageRect(const Ref<TImage>& image, float x, float y, float width, float height,
                   int frame) {
  const TVex2DGraphics* g = CurrentGraphics;
  Ref<TImageFrame> drawable = image->Frame(frame);
  if (!drawable) return;
  float x0 = -image->handle_x, y0 = -image->handle_y;
  drawable->Draw(x0, y0, static_cast<float>(static_cast<double>(x0) + width),
                 static_cast<float>(static_cast<double>(y0) + height),
                 static_cast<float>(static_cast<double>(x) + g->origin_x),
                 static_cast<float>(static_cast<double>(y) + g->origin_y), 0.0f, 0.0f,
                 static_cast<float>(image->width), static_cast<float>(image->height));
}

// ---------------------------------------------------------------------------------------

void StartDraw2D() {
  static bool started = false;
  if (started) return;
  started = true;
  StartGraphics();
  StartPixmap();
  RegisterBuiltinResources();
}
