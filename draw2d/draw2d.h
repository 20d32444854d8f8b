// 2D drawing front end: the per-context drawing state TVex2DGraphics, the current context
// and driver, the state setters and getters, the primitives, text and pixel grab.
// Every setter stores its value unchanged and forwards it to the driver at once; clamping
// happens only in the driver.
// Depends on the driver interface and the graphics module. State: CurrentGraphics,
// CurrentDriver, DefaultImageFont and the mask colour, in draw2d.cpp.
#pragma once

#include <cstdint>
#include <vector>

#include "draw2d/driver.h"

constexpr int BLEND_MASK = 1;      // BlendMask
constexpr int BLEND_SOLID = 2;     // BlendSolid
constexpr int BLEND_ALPHA = 3;     // BlendAlpha
constexpr int BLEND_ADDITIVE = 4;  // BlendAdditive
constexpr int BLEND_MULTIPLY = 5;  // BlendMultiply

class TImageFont;
class TImage;

class TVex2DGraphics : public TGraphics {
 public:
  TGraphicsDriver* Driver() override;
  int GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) override;
  int Close() override;
  int Visible() override;
  virtual void Validate();
  virtual void MakeCurrent();
  static void ClearCurrent();
  static TVex2DGraphics* Current();
  static Ref<TVex2DGraphics> Create(Ref<TGraphics> graphics, TVex2DDriver* driver);

  int32_t color_red = 255, color_green = 255, color_blue = 255;
  float color_alpha = 1.0f;
  int32_t clscolor_red = 0, clscolor_green = 0, clscolor_blue = 0;
  float line_width = 1.0f;
  float tform_rot = 0.0f;
  float tform_scale_x = 1.0f, tform_scale_y = 1.0f;
  float tform_ix = 1.0f, tform_iy = 0.0f, tform_jx = 0.0f, tform_jy = 1.0f;
  int32_t viewport_x = 0, viewport_y = 0, viewport_w = 0, viewport_h = 0;
  float origin_x = 0.0f, origin_y = 0.0f;
  float handle_x = 0.0f, handle_y = 0.0f;  // stored negated
  Ref<TImageFont> image_font;
  int32_t blend_mode = BLEND_MASK;
  float vres_width = 0.0f, vres_height = 0.0f;
  float vres_mousexscale = 1.0f, vres_mouseyscale = 1.0f;
  int32_t g_width = 0, g_height = 0;
  Ref<TGraphics> _graphics;
  TVex2DDriver* _driver = nullptr;
  int32_t _setup = 0;
};

extern TVex2DGraphics* CurrentGraphics;
extern TVex2DDriver* CurrentDriver;

void SetColor(int red, int green, int blue);
void GetColor(int& red, int& green, int& blue);
void SetAlpha(float alpha);
float GetAlpha();
void SetBlend(int mode);
int GetBlend();
void SetLineWidth(float width);
float GetLineWidth();
void SetClsColor(int red, int green, int blue);
void GetClsColor(int& red, int& green, int& blue);
void Cls();
void SetRotation(float degrees);
float GetRotation();
void SetScale(float x, float y);
void GetScale(float& x, float& y);
void SetRotationScale(float degrees, float x, float y);
void SetHandle(float x, float y);
void GetHandle(float& x, float& y);
void SetOrigin(float x, float y);
void GetOrigin(float& x, float& y);
void SetViewport(int x, int y, int width, int height);
void GetViewport(int& x, int& y, int& width, int& height);
void SetVirtualResolution(float width, float height);
void SetMaskColor(int red, int green, int blue);
void GetMaskColor(int& red, int& green, int& blue);

// The pointer in virtual units: polled-input readings times the virtual-resolution scales.
float VirtualMouseX();
float VirtualMouseY();
float VirtualMouseDeltaX();
float VirtualMouseDeltaY();
// Moves the pointer to a position given in virtual units.
void MoveVirtualMouse(float x, float y);

// Primitives.
void Plot(float x, float y);
void DrawRect(float x, float y, float width, float height);
void DrawLine(float x, float y, float x2, float y2, int drawLastPixel = 1);
void DrawOval(float x, float y, float width, float height);
void DrawPoly(const std::vector<float>& points);
void DrawPixmap(const Ref<TPixmap>& pixmap, int x, int y);
// Reads a rectangle of the drawing buffer (device pixels) into a new PIXFMT_RGBA32 pixmap.
Ref<TPixmap> GrabPixmap(int x, int y, int width, int height);

// Text and images (the font classes live in draw2d/font.h).
void DrawText(const String& text, float x, float y);
int TextWidth(const String& text);
int TextHeight();
void SetImageFont(const Ref<TImageFont>& font);
Ref<TImageFont> GetImageFont();
Ref<TImageFont> LoadImageFont(const Ref<Object>& url, int size, int style);
void DrawImage(const Ref<TImage>& image, float x, float y, int frame = 0);
void DrawImageRect(const Ref<TImage>& image, float x, float y, float width, float height,
                   int frame = 0);

// Starts the 2D module: registers the built-in font resource. Runs once.
void StartDraw2D();
