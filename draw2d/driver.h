// 2D driver interface: the operations every 2D render driver offers, in their fixed slot
// order, and the drawable texture a driver makes from a pixmap.
// Depends on the graphics module and pixmaps. Keeps no state.
#pragma once

#include <vector>

#include "graphics/graphics.h"
#include "pixmap/pixmap.h"

constexpr int IMAGEFLAG_FILTERED = 2;
constexpr int IMAGEFLAG_MIPMAPPED = 4;

// One drawable texture of an image.
class TImageFrame : public Object {
 public:
  // Draws source rectangle (sx, sy, sw, sh) onto local (x0, y0)-(x1, y1) moved by (tx, ty),
  // through the driver's current transform.
  virtual void Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx,
                    float sy, float sw, float sh) = 0;
};

// A 2D render driver is itself a graphics driver whose contexts are TVex2DGraphics.
// What the front end relies on:
// - CreateGraphics and AttachGraphics wrap the platform context they obtain with
//   TVex2DGraphics::Create and return the wrapper (null when there is no platform context).
// - SetGraphics(null) calls TVex2DGraphics::ClearCurrent. SetGraphics(g) makes g's platform
//   context current, resets the driver's device state and then calls g.MakeCurrent(), which
//   makes g the 2D layer's current context and replays its drawing state into the driver:
//   the driver, not the graphics module, is what makes a 2D context current.
// - Drawing between two Flips accumulates: Flip presents it and keeps it, and GrabPixmap
//   reads everything drawn before it, whenever the driver actually draws.
class TVex2DDriver : public TGraphicsDriver {
 public:
  virtual Ref<TImageFrame> CreateFrameFromPixmap(const Ref<TPixmap>& pixmap, int flags) = 0;
  virtual void SetBlend(int mode) = 0;
  virtual void SetAlpha(float alpha) = 0;
  virtual void SetColor(int red, int green, int blue) = 0;
  virtual void SetClsColor(int red, int green, int blue) = 0;
  virtual void SetViewport(int x, int y, int width, int height) = 0;
  virtual void SetTransform(float ix, float iy, float jx, float jy) = 0;
  virtual void SetLineWidth(float width) = 0;
  virtual void Cls() = 0;
  virtual void Plot(float x, float y) = 0;
  virtual void DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) = 0;
  virtual void DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) = 0;
  virtual void DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) = 0;
  virtual void DrawPoly(const std::vector<float>& points, float hx, float hy, float tx,
                        float ty) = 0;
  virtual void DrawPixmap(const Ref<TPixmap>& pixmap, int x, int y) = 0;
  virtual Ref<TPixmap> GrabPixmap(int x, int y, int width, int height) = 0;
  virtual void SetResolution(float width, float height) = 0;
  // A line and then its closing pixel at (px, py), in the same paint: what DrawLine and
  // then Plot draw, which is what this does unless a driver draws both in one go.
  virtual void DrawLineAndPlot(float x0, float y0, float x1, float y1, float tx, float ty,
                               float px, float py) {
    DrawLine(x0, y0, x1, y1, tx, ty);
    Plot(px, py);
  }
};
