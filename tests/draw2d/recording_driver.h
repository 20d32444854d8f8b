// Recording 2D driver for tests: logs every driver call with its arguments instead of
// drawing, so tests can check what the front end (and anything drawing through it) asks of
// a driver without a GL context.
//
//   TRecordingDriver recorder;
//   SelectGraphicsDriver(&recorder, 2);
//   OpenGraphics(64, 64, 0, 60, 0);   // contexts are small fake TGraphics of that size
//   DrawLine(0, 0, 4, 0, 1);
//   recorder.Count(DrawOp::DrawLine)  // 1
//
// Records are small fixed-size structs (an op code and up to six floats), so a sprite's
// worth of ~115,000 calls costs a few megabytes and no allocation per call beyond the
// vector's growth. Integers are stored as floats (exact below 2^24).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "draw2d/draw2d.h"
#include "graphics/graphics.h"
#include "pixmap/pixmap.h"

enum class DrawOp : uint8_t {
  CreateGraphics,   // width, height, depth, hertz, flags
  AttachGraphics,   // widget, flags
  SetGraphics,      // 1 with a context, 0 with null
  Flip,             // sync
  CreateFrame,      // pixmap width, pixmap height, flags
  SetBlend,         // mode
  SetAlpha,         // alpha
  SetColor,         // red, green, blue
  SetClsColor,      // red, green, blue
  SetViewport,      // x, y, width, height
  SetTransform,     // ix, iy, jx, jy
  SetLineWidth,     // width
  Cls,              //
  Plot,             // x, y
  DrawLine,         // x0, y0, x1, y1, tx, ty
  DrawRect,         // x0, y0, x1, y1, tx, ty
  DrawOval,         // x0, y0, x1, y1, tx, ty
  DrawPoly,         // value count, hx, hy, tx, ty, index of the first value in poly_values
  DrawPixmap,       // pixmap width, pixmap height, x, y
  GrabPixmap,       // x, y, width, height
  SetResolution,    // width, height
  FrameDraw,        // x0, y0, x1, y1, tx, ty (always followed by FrameSource)
  FrameSource,      // sx, sy, sw, sh, frame serial number
};

struct DrawRecord {
  DrawOp op;
  float a[6];
};

class TRecordingDriver;

// The platform context a recording driver hands out: only a size.
class TRecordingGraphics : public TGraphics {
 public:
  TRecordingGraphics(TGraphicsDriver* driver, int width, int height, int depth, int hertz,
                     int flags)
      : driver_(driver), width_(width), height_(height), depth_(depth), hertz_(hertz),
        flags_(flags) {}
  TGraphicsDriver* Driver() override { return driver_; }
  int GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) override {
    width = width_;
    height = height_;
    depth = depth_;
    hertz = hertz_;
    flags = flags_;
    return 0;
  }
  int Close() override {
    closed = true;
    return 0;
  }
  // Lets a test pretend the window was resized.
  void Resize(int width, int height) {
    width_ = width;
    height_ = height;
  }
  bool closed = false;

 private:
  TGraphicsDriver* driver_;
  int width_, height_, depth_, hertz_, flags_;
};

// A texture stand-in: its Draw calls are logged in the driver that made it.
class TRecordingFrame : public TImageFrame {
 public:
  TRecordingFrame(TRecordingDriver* driver, int serial, Ref<TPixmap> pixmap)
      : driver_(driver), serial(serial), pixmap(std::move(pixmap)) {}
  inline void Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx,
                   float sy, float sw, float sh) override;
  TRecordingDriver* driver_;
  int serial;
  Ref<TPixmap> pixmap;
};

class TRecordingDriver : public TVex2DDriver {
 public:
  // --- the log
  std::vector<DrawRecord> records;
  std::vector<float> poly_values;  // DrawPoly point arrays, one after another

  void Log(DrawOp op, float a0 = 0, float a1 = 0, float a2 = 0, float a3 = 0, float a4 = 0,
           float a5 = 0) {
    records.push_back(DrawRecord{op, {a0, a1, a2, a3, a4, a5}});
  }
  void Clear() {
    records.clear();
    poly_values.clear();
  }
  size_t Count(DrawOp op) const {
    size_t n = 0;
    for (const DrawRecord& r : records) n += (r.op == op);
    return n;
  }
  // The last record of the kind, or null.
  const DrawRecord* Last(DrawOp op) const {
    for (size_t i = records.size(); i-- > 0;) {
      if (records[i].op == op) return &records[i];
    }
    return nullptr;
  }
  // Every record of the kind, in call order.
  std::vector<DrawRecord> All(DrawOp op) const {
    std::vector<DrawRecord> found;
    for (const DrawRecord& r : records) {
      if (r.op == op) found.push_back(r);
    }
    return found;
  }
  // Just the op codes, in call order (for checking sequences).
  std::vector<DrawOp> Ops() const {
    std::vector<DrawOp> ops;
    ops.reserve(records.size());
    for (const DrawRecord& r : records) ops.push_back(r.op);
    return ops;
  }

  // --- knobs for tests
  // Size of contexts made by AttachGraphics.
  int attach_width = 320, attach_height = 240;
  // When set, GrabPixmap returns a copy of this rectangle of it; otherwise a new pixmap of
  // the requested size filled with grab_fill (packed ARGB).
  Ref<TPixmap> grab_source;
  uint32_t grab_fill = 0xFF000000u;
  // When false, CreateFrameFromPixmap makes no frame (a driver that cannot texture).
  bool make_frames = true;
  // The platform contexts handed out, newest last.
  std::vector<Ref<TRecordingGraphics>> contexts;

  // --- TGraphicsDriver
  std::vector<TGraphicsMode> GraphicsModes() override {
    return {TGraphicsMode{640, 480, 32, 60}, TGraphicsMode{800, 600, 32, 60}};
  }
  Ref<TGraphics> AttachGraphics(int widget, int flags) override {
    Log(DrawOp::AttachGraphics, static_cast<float>(widget), static_cast<float>(flags));
    auto platform = std::make_shared<TRecordingGraphics>(this, attach_width, attach_height,
                                                         0, 0, flags);
    contexts.push_back(platform);
    return TVex2DGraphics::Create(platform, this);
  }
  Ref<TGraphics> CreateGraphics(int width, int height, int depth, int hertz,
                                int flags) override {
    Log(DrawOp::CreateGraphics, static_cast<float>(width), static_cast<float>(height),
        static_cast<float>(depth), static_cast<float>(hertz), static_cast<float>(flags));
    auto platform =
        std::make_shared<TRecordingGraphics>(this, width, height, depth, hertz, flags);
    contexts.push_back(platform);
    return TVex2DGraphics::Create(platform, this);
  }
  int SetGraphics(const Ref<TGraphics>& g) override {
    Log(DrawOp::SetGraphics, g ? 1.0f : 0.0f);
    if (!g) {
      TVex2DGraphics::ClearCurrent();
      return 0;
    }
    // Same order as a real driver: the device state is fresh, then the state is replayed.
    static_cast<TVex2DGraphics&>(*g).MakeCurrent();
    return 0;
  }
  int Flip(int sync) override {
    Log(DrawOp::Flip, static_cast<float>(sync));
    return 0;
  }

  // --- TVex2DDriver
  Ref<TImageFrame> CreateFrameFromPixmap(const Ref<TPixmap>& pixmap, int flags) override {
    Log(DrawOp::CreateFrame, static_cast<float>(pixmap->width),
        static_cast<float>(pixmap->height), static_cast<float>(flags));
    if (!make_frames) return nullptr;
    return std::make_shared<TRecordingFrame>(this, ++frame_serial_, pixmap);
  }
  void SetBlend(int mode) override { Log(DrawOp::SetBlend, static_cast<float>(mode)); }
  void SetAlpha(float alpha) override { Log(DrawOp::SetAlpha, alpha); }
  void SetColor(int red, int green, int blue) override {
    Log(DrawOp::SetColor, static_cast<float>(red), static_cast<float>(green),
        static_cast<float>(blue));
  }
  void SetClsColor(int red, int green, int blue) override {
    Log(DrawOp::SetClsColor, static_cast<float>(red), static_cast<float>(green),
        static_cast<float>(blue));
  }
  void SetViewport(int x, int y, int width, int height) override {
    Log(DrawOp::SetViewport, static_cast<float>(x), static_cast<float>(y),
        static_cast<float>(width), static_cast<float>(height));
  }
  void SetTransform(float ix, float iy, float jx, float jy) override {
    Log(DrawOp::SetTransform, ix, iy, jx, jy);
  }
  void SetLineWidth(float width) override { Log(DrawOp::SetLineWidth, width); }
  void Cls() override { Log(DrawOp::Cls); }
  void Plot(float x, float y) override { Log(DrawOp::Plot, x, y); }
  void DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) override {
    Log(DrawOp::DrawLine, x0, y0, x1, y1, tx, ty);
  }
  void DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) override {
    Log(DrawOp::DrawRect, x0, y0, x1, y1, tx, ty);
  }
  void DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) override {
    Log(DrawOp::DrawOval, x0, y0, x1, y1, tx, ty);
  }
  void DrawPoly(const std::vector<float>& points, float hx, float hy, float tx,
                float ty) override {
    Log(DrawOp::DrawPoly, static_cast<float>(points.size()), hx, hy, tx, ty,
        static_cast<float>(poly_values.size()));
    poly_values.insert(poly_values.end(), points.begin(), points.end());
  }
  void DrawPixmap(const Ref<TPixmap>& pixmap, int x, int y) override {
    Log(DrawOp::DrawPixmap, static_cast<float>(pixmap->width),
        static_cast<float>(pixmap->height), static_cast<float>(x), static_cast<float>(y));
  }
  Ref<TPixmap> GrabPixmap(int x, int y, int width, int height) override {
    Log(DrawOp::GrabPixmap, static_cast<float>(x), static_cast<float>(y),
        static_cast<float>(width), static_cast<float>(height));
    if (grab_source) return grab_source->Window(x, y, width, height)->Copy();
    Ref<TPixmap> pixmap = TPixmap::Create(width, height, PIXFMT_RGBA32, 4);
    pixmap->ClearPixels(grab_fill);
    return pixmap;
  }
  void SetResolution(float width, float height) override {
    Log(DrawOp::SetResolution, width, height);
  }

 private:
  int frame_serial_ = 0;
};

inline void TRecordingFrame::Draw(float x0, float y0, float x1, float y1, float tx, float ty,
                                  float sx, float sy, float sw, float sh) {
  driver_->Log(DrawOp::FrameDraw, x0, y0, x1, y1, tx, ty);
  driver_->Log(DrawOp::FrameSource, sx, sy, sw, sh, static_cast<float>(serial));
}
