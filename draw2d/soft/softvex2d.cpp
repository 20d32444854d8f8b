// Software 2D driver ("Software"). The main thread works out each primitive's device
// vertices and paint exactly as the GL 2D driver hands them to its GL, records them as
// commands, and the raster thread rasterises them into the current context's buffer; for
// a context nobody can see, several raster threads draw the commands of different clip
// rectangles (a sheet's cells) at once, each pixel's in the recorded order.
// Anything that reads or shows the buffer (Flip on a visible window, GrabPixmap,
// DrawPixmap, a context switch) first waits until the queue has run; a window nobody can
// see is not shown, so its Flip does not wait.
// Depends on the 2D front end, the software graphics driver, the rasteriser and its queue,
// and the system module (to hand drawing over before a sleep).
// State: the device state of the current context and the raster queue; what a context has
// not shown yet is kept by the context.
#include "draw2d/soft/softvex2d.h"

#include <algorithm>  // for std::min, std::max
#include <chrono>
#include <cmath>      // for std::floor, std::isfinite, std::nan
#include <cstring>    // for std::memcpy
#include <memory>
#include <thread>     // for std::thread::hardware_concurrency

#include "draw2d/device.h"
#include "draw2d/soft/raster.h"
#include "draw2d/soft/rasterpool.h"
#include "draw2d/soft/rasterqueue.h"
#include "graphics/softgraphics.h"
#include "graphics/system.h"
#include "runtime/runtime.h"

namespace {

// The largest texture side a frame is made with, as common GLs allow.
constexpr int kMaxTextureSide = 16384;
// Line widths are whole pixels from 1 up to this.
constexpr int kMaxLineWidth = 255;
// The mask blend draws a flat colour whose alpha byte is at least this (alpha 0.5).
constexpr uint8_t kMaskAlpha = 128;

using Clock = std::chrono::steady_clock;

// Where recorded commands go: the raster queue's one thread, or, for a context nobody sees
// when more threads are asked for, the pool that draws the cells side by side. Either
// draws the same pixels; switching waits for what was recorded first.
class TRasterWork {
 public:
  TRasterCommand& Begin() { return pooled_ ? pool_.Begin() : ring_.Begin(); }
  void Commit() { pooled_ ? pool_.Commit() : ring_.Commit(); }
  void Push(const TRasterCommand& command) {
    pooled_ ? pool_.Push(command) : ring_.Push(command);
  }
  void Push(const TRasterCommand& command, const TRasterPayload& payload) {
    pooled_ ? pool_.Push(command, payload) : ring_.Push(command, payload);
  }
  void Flush() { pooled_ ? pool_.Flush() : ring_.Flush(); }
  void Drain() { pooled_ ? pool_.Drain() : ring_.Drain(); }
  void Drop() { pooled_ ? pool_.Drop() : ring_.Drop(); }
  void Stop() {
    ring_.Stop();
    pool_.Stop();
  }
  bool pooled() const { return pooled_; }
  // Takes the pool (with this many threads) or the queue; what was recorded must have run.
  void Choose(bool pooled, int threads) {
    if (pooled) pool_.SetThreads(threads);
    pooled_ = pooled;
  }

 private:
  TRasterQueue ring_;
  TRasterPool pool_;
  bool pooled_ = false;
};

class TSoftVex2DDriver;
TSoftVex2DDriver* the_driver = nullptr;
int draw_threads = 0;  // see SetSoftVex2DThreads
TSoftVex2DStats stats;

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

bool TextureSideFits(int width, int height) {
  return width <= kMaxTextureSide && height <= kMaxTextureSide;
}

TRasterBlend RasterBlendFor(int mode) {
  switch (mode) {
    case BLEND_MASK:
      return TRasterBlend::Mask;
    case BLEND_ALPHA:
      return TRasterBlend::Alpha;
    case BLEND_ADDITIVE:
      return TRasterBlend::Additive;
    case BLEND_MULTIPLY:
      return TRasterBlend::Multiply;
    default:  // BlendSolid, and every unnamed code
      return TRasterBlend::Solid;
  }
}

// A texture of an image frame: the same padded power-of-two pixmap (and mipmap levels) the
// GL driver uploads, kept in main memory for the raster thread to sample.
class TSoftImageFrame : public TImageFrame {
 public:
  ~TSoftImageFrame() override;
  void Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx, float sy,
            float sw, float sh) override;

  Ref<TPixmap> levels[kMaxTextureLevels];
  TRasterTexture texture;
  float uscale = 0.0f, vscale = 0.0f;
};

class TSoftVex2DDriver : public TVex2DDriver {
 public:
  String ToString() const override { return u"Software"; }

  // --- context plumbing
  std::vector<TGraphicsMode> GraphicsModes() override {
    return SoftGraphicsDriver()->GraphicsModes();
  }

  Ref<TGraphics> AttachGraphics(int widget, int flags) override {
    return Wrap(SoftGraphicsDriver()->AttachGraphics(widget, flags));
  }

  Ref<TGraphics> CreateGraphics(int width, int height, int depth, int hertz,
                                int flags) override {
    return Wrap(SoftGraphicsDriver()->CreateGraphics(width, height, depth, hertz, flags));
  }

  int SetGraphics(const Ref<TGraphics>& g) override {
    // Everything recorded for the previous context lands in its buffer first, and the
    // context keeps what it has not shown yet.
    FinishQueued();
    NoteDamage();
    if (!g) {
      TVex2DGraphics::ClearCurrent();
      current_ = nullptr;
      surface_ = {};  // the buffer may go with its context
      surface_memory_.reset();
      clip_ = {};
      return SoftGraphicsDriver()->SetGraphics(nullptr);
    }
    // Note: anything but a 2D context here is a usage error.
    auto& graphics = dynamic_cast<TVex2DGraphics&>(*g);
    const int result = SoftGraphicsDriver()->SetGraphics(graphics._graphics);
    current_ = &graphics;
    ResetDevice(graphics);
    graphics.MakeCurrent();
    return result;
  }

  int Flip(int sync) override {
    NoteDamage();
    if (!current_ || !current_->Visible()) return SoftGraphicsDriver()->Flip(sync);
    const auto start = Clock::now();
    queue_.Drain();
    const auto drained = Clock::now();
    const int result = SoftGraphicsDriver()->Flip(sync);
    ++stats.presents;
    stats.wait_ms += Milliseconds(drained - start);
    stats.show_ms += Milliseconds(Clock::now() - drained);
    return result;
  }

  Ref<TImageFrame> CreateFrameFromPixmap(const Ref<TPixmap>& pixmap, int flags) override;

  // --- state
  void SetBlend(int mode) override {
    blend_ = RasterBlendFor(mode);
    UpdatePaint();
  }
  void SetAlpha(float alpha) override {
    rgba_[3] = AlphaByte(alpha);
    UpdatePaint();
  }

  void SetColor(int red, int green, int blue) override {
    rgba_[0] = ColourByte(red);
    rgba_[1] = ColourByte(green);
    rgba_[2] = ColourByte(blue);
  }

  void SetClsColor(int red, int green, int blue) override {
    clear_rgba_[0] = ColourByte(red);
    clear_rgba_[1] = ColourByte(green);
    clear_rgba_[2] = ColourByte(blue);
    clear_rgba_[3] = 255;
  }

  void SetViewport(int x, int y, int width, int height) override {
    NoteDamage();
    // A viewport over the whole context clips nothing; any other clips to its rectangle,
    // and one of negative size holds no pixels.
    clip_ = ClipToSurface(surface_, x, y, width, height);
    TRasterCommand command = Command(TRasterOp::Clip);
    command.rect[0] = clip_.x0;
    command.rect[1] = clip_.y0;
    command.rect[2] = clip_.x1;
    command.rect[3] = clip_.y1;
    queue_.Push(command);
  }

  void SetTransform(float ix, float iy, float jx, float jy) override {
    transform_ = {ix, iy, jx, jy};
  }

  void SetLineWidth(float width) override {
    // Note: a width that is not above 0 (or not a number) draws one pixel wide, as the GL
    // driver makes it.
    if (!(width > 0.0f)) width = 1.0f;
    line_width_ = static_cast<int>(std::min(std::floor(std::max(width, 1.0f) + 0.5f),
                                            static_cast<float>(kMaxLineWidth)));
  }

  void Cls() override {
    TRasterCommand command = Command(TRasterOp::Clear);
    std::memcpy(command.rgba, clear_rgba_, 4);
    queue_.Push(command);
    drew_ = true;
  }

  // --- shapes
  void Plot(float x, float y) override {
    if (!paints_) return;
    TRasterCommand& command = Start(TRasterOp::Point);
    PixelPosition(x, y, command.xy);
    Finish();
  }

  void DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) override {
    if (!paints_) return;
    TRasterCommand& command = Start(TRasterOp::Line);
    Vertex(x0, y0, tx, ty, kPixelCentre, command.xy);
    Vertex(x1, y1, tx, ty, kPixelCentre, command.xy + 2);
    Finish();
  }

  // Note: this runs for every line of a sprite; the line and its pixel are one command,
  // written straight into the ring.
  void DrawLineAndPlot(float x0, float y0, float x1, float y1, float tx, float ty, float px,
                       float py) override {
    if (!paints_) return;
    TRasterCommand& command = Start(TRasterOp::LineAndPoint);
    Vertex(x0, y0, tx, ty, kPixelCentre, command.xy);
    Vertex(x1, y1, tx, ty, kPixelCentre, command.xy + 2);
    PixelPosition(px, py, command.xy + 4);
    Finish();
  }

  void DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) override {
    float corners[8];
    Vertex(x0, y0, tx, ty, 0, corners);
    Vertex(x1, y0, tx, ty, 0, corners + 2);
    Vertex(x1, y1, tx, ty, 0, corners + 4);
    Vertex(x0, y1, tx, ty, 0, corners + 6);
    Fan(corners, 4);
  }

  void DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) override {
    // Note: the polygon goes to the queue triangle by triangle as its corners are worked
    // out, so no corner list is allocated.
    float first[2], previous[2];
    int count = 0;
    ForEachOvalPoint(x0, y0, x1, y1, [&](float x, double y) {
      float corner[2];
      Vertex(x, y, tx, ty, 0, corner);
      if (count == 0) {
        std::memcpy(first, corner, sizeof first);
      } else if (count >= 2) {
        FanTriangle(first, previous, corner);
      }
      std::memcpy(previous, corner, sizeof previous);
      ++count;
    });
  }

  void DrawPoly(const std::vector<float>& points, float hx, float hy, float tx,
                float ty) override {
    if (points.size() < 6 || (points.size() & 1) != 0) return;
    float first[2], previous[2], corner[2];
    Vertex(double{points[0]} + hx, double{points[1]} + hy, tx, ty, 0, first);
    Vertex(double{points[2]} + hx, double{points[3]} + hy, tx, ty, 0, previous);
    for (size_t i = 4; i < points.size(); i += 2) {
      Vertex(double{points[i]} + hx, double{points[i + 1]} + hy, tx, ty, 0, corner);
      FanTriangle(first, previous, corner);
      std::memcpy(previous, corner, sizeof previous);
    }
  }

  // --- pixels
  void DrawPixmap(const Ref<TPixmap>& pixmap, int x, int y) override {
    if (!surface_.pixels || !pixmap || !pixmap->pixels) return;
    Ref<TPixmap> source = pixmap;
    if (source->format != PIXFMT_RGBA32) source = source->Convert(PIXFMT_RGBA32);
    // Note: copied here, on the recording thread, once what was recorded before has run.
    queue_.Drain();
    RasterCopy(surface_, clip_, source->pixels, source->pitch, source->width, source->height,
               x, y);
    drew_ = true;
  }

  Ref<TPixmap> GrabPixmap(int x, int y, int width, int height) override {
    Ref<TPixmap> grabbed = TPixmap::Create(width, height, PIXFMT_RGBA32, 4);
    if (!grabbed->pixels) return grabbed;
    queue_.Drain();
    grabbed->ClearPixels(0);
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = static_cast<int>(std::min<int64_t>(int64_t{x} + width, surface_.width));
    const int y1 = static_cast<int>(std::min<int64_t>(int64_t{y} + height, surface_.height));
    // A buffer without an alpha channel reads back opaque, as a GL's does.
    const bool keep_alpha = (CurrentGraphicsFlags() & GRAPHICS_ALPHABUFFER) != 0;
    for (int row = y0; row < y1; ++row) {
      const uint8_t* from = surface_.pixels + static_cast<ptrdiff_t>(row) * surface_.pitch;
      uint8_t* to = grabbed->pixels + (int64_t{row} - y) * grabbed->pitch;
      for (int column = x0; column < x1; ++column) {
        uint8_t* pixel = to + (int64_t{column} - x) * 4;
        std::memcpy(pixel, from + column * 4, 4);
        if (!keep_alpha) pixel[3] = 255;
      }
    }
    return grabbed;
  }

  void SetResolution(float width, float height) override {
    if (width == 0 || height == 0) {
      // Note: the GL driver loads the identity before it asks for the projection, and a GL
      // refuses an empty range, so the identity stays: -1..1 spans the window, y upwards.
      scale_x_ = surface_.width / 2.0;
      offset_x_ = surface_.width / 2.0;
      scale_y_ = -surface_.height / 2.0;
      offset_y_ = surface_.height / 2.0;
      scaled_ = true;
      return;
    }
    // A range that is not a finite number gives positions that are not either, which draw
    // nothing, as with a GL's projection made of them.
    const double nan = std::nan("");
    const bool finite = std::isfinite(width) && std::isfinite(height);
    scale_x_ = finite ? surface_.width / static_cast<double>(width) : nan;
    scale_y_ = finite ? surface_.height / static_cast<double>(height) : nan;
    offset_x_ = offset_y_ = 0.0;
    scaled_ = scale_x_ != 1.0 || scale_y_ != 1.0;
  }

  // Two textured triangles for an image frame's quad.
  void DrawTexturedQuad(const TRasterTexture& texture, const float corners[8],
                        const float st[8]) {
    static constexpr int kFan[2][3] = {{0, 1, 2}, {0, 2, 3}};
    for (const auto& triangle : kFan) {
      TRasterCommand command = Command(TRasterOp::TexturedTriangle);
      TRasterPayload payload;
      for (int k = 0; k < 3; ++k) {
        command.xy[2 * k] = corners[2 * triangle[k]];
        command.xy[2 * k + 1] = corners[2 * triangle[k] + 1];
        payload.st[2 * k] = st[2 * triangle[k]];
        payload.st[2 * k + 1] = st[2 * triangle[k] + 1];
      }
      payload.texture = &texture;
      queue_.Push(command, payload);
      drew_ = true;
    }
  }

  // A local point through the transform, as a device position.
  void Vertex(double lx, double ly, double tx, double ty, double offset, float out[2]) const {
    float x = 0, y = 0;
    TransformPoint(transform_, lx, ly, tx, ty, offset, x, y);
    Device(x, y, out);
  }

  // A pixel's window position (the front end placed it) at the pixel's centre, as a device
  // position.
  void PixelPosition(float x, float y, float out[2]) const {
    Device(static_cast<float>(x + kPixelCentre), static_cast<float>(y + kPixelCentre), out);
  }

  // Waits until every recorded command has run; while the program exits, drops them
  // instead, since nobody will see them.
  void FinishQueued() {
    if (ExitInProgress()) {
      queue_.Drop();
    } else {
      queue_.Drain();
    }
  }

  TRasterWork& queue() { return queue_; }

  // The number of raster threads from now on (0: one per core); see SetSoftVex2DThreads.
  void SetThreads(int threads) {
    FinishQueued();
    draw_threads = threads;
    if (!current_) return;
    const bool was_pooled = queue_.pooled();
    ChooseWork(*current_);
    if (queue_.pooled() == was_pooled) return;
    // The other way of drawing starts where this one left off.
    TRasterCommand command = Command(TRasterOp::Target);
    command.target = {surface_.pixels, surface_.pitch, surface_.width, surface_.height};
    queue_.Push(command);
    command = Command(TRasterOp::Clip);
    command.rect[0] = clip_.x0;
    command.rect[1] = clip_.y0;
    command.rect[2] = clip_.x1;
    command.rect[3] = clip_.y1;
    queue_.Push(command);
  }

 private:
  Ref<TGraphics> Wrap(Ref<TGraphics> context) {
    if (!context) return nullptr;
    return TVex2DGraphics::Create(context, this);
  }

  // Note: several threads draw only where nobody watches; a window shows every cell as it
  // fills, so one thread draws while the program works out the next lines.
  void ChooseWork(TVex2DGraphics& graphics) {
    int threads = draw_threads;
    if (threads <= 0) threads = static_cast<int>(std::thread::hardware_concurrency());
    queue_.Choose(threads > 1 && !graphics.Visible(), threads);
  }

  // Forgets the previous context's device state and points the raster thread at the new
  // context's buffer; MakeCurrent then replays the context's own state.
  void ResetDevice(TVex2DGraphics& graphics) {
    const TPixelBuffer buffer = SoftGraphicsBuffer(*graphics._graphics);
    surface_ = {buffer.pixels, buffer.pitch, buffer.width, buffer.height};
    // Note: the raster thread may still draw into the buffer after its context closed (at
    // process exit, with drawing queued); this copy keeps the pixels until it moves on.
    surface_memory_ = buffer.memory;
    clip_ = ClipToSurface(surface_, 0, 0, surface_.width, surface_.height);
    transform_ = {};
    rgba_[0] = rgba_[1] = rgba_[2] = rgba_[3] = 255;
    blend_ = TRasterBlend::Solid;
    UpdatePaint();
    line_width_ = 1;
    scale_x_ = scale_y_ = 1.0;
    offset_x_ = offset_y_ = 0.0;
    scaled_ = false;
    drew_ = false;
    ChooseWork(graphics);
    TRasterCommand command = Command(TRasterOp::Target);
    command.target = {surface_.pixels, surface_.pitch, surface_.width, surface_.height};
    queue_.Push(command);
  }

  // The operation and the current paint, in a command's head.
  void Paint(TRasterCommand& command, TRasterOp op) const {
    command.op = op;
    command.blend = blend_;
    command.width = static_cast<uint8_t>(line_width_);
    command.unused = 0;
    std::memcpy(command.rgba, rgba_, 4);
  }

  TRasterCommand Command(TRasterOp op) const {
    TRasterCommand command;
    Paint(command, op);
    return command;
  }

  // Whether flat shapes in the current paint can change a pixel: alpha 0 blended or added
  // leaves every pixel as it is (the sprite's faintest lines are such), and the mask blend
  // discards a flat colour with alpha below one half. Such shapes are not recorded.
  void UpdatePaint() {
    paints_ = !(((blend_ == TRasterBlend::Alpha || blend_ == TRasterBlend::Additive) &&
                 rgba_[3] == 0) ||
                (blend_ == TRasterBlend::Mask && rgba_[3] < kMaskAlpha));
  }

  // A command with the current paint in the ring's next slot; Finish records it.
  TRasterCommand& Start(TRasterOp op) {
    TRasterCommand& command = queue_.Begin();
    Paint(command, op);
    return command;
  }

  void Finish() {
    queue_.Commit();
    drew_ = true;
  }

  // Records a flat shape unless its paint cannot change a pixel.
  void Record(const TRasterCommand& command) {
    if (!paints_) return;
    queue_.Push(command);
    drew_ = true;
  }

  // A window position through the virtual resolution, in device pixels.
  void Device(float x, float y, float out[2]) const {
    if (scaled_) {
      x = static_cast<float>(x * scale_x_ + offset_x_);
      y = static_cast<float>(y * scale_y_ + offset_y_);
    }
    out[0] = x;
    out[1] = y;
  }

  void FanTriangle(const float a[2], const float b[2], const float c[2]) {
    TRasterCommand command = Command(TRasterOp::Triangle);
    const float* corners[3] = {a, b, c};
    for (int k = 0; k < 3; ++k) {
      command.xy[2 * k] = corners[k][0];
      command.xy[2 * k + 1] = corners[k][1];
    }
    Record(command);
  }

  // A convex polygon as the fan of triangles from its first corner, as a GL splits one.
  void Fan(const float* corners, int count) {
    for (int k = 2; k < count; ++k) {
      FanTriangle(corners, corners + 2 * (k - 1), corners + 2 * k);
    }
  }

  // Once something was drawn in the clip rectangle, the context is told that it changed;
  // the context keeps what it has not shown until a Flip shows it.
  void NoteDamage() {
    if (!drew_) return;
    drew_ = false;
    if (current_ && current_->_graphics) {
      SoftGraphicsDamage(*current_->_graphics, clip_.x0, clip_.y0, clip_.x1 - clip_.x0,
                         clip_.y1 - clip_.y0);
    }
  }

  TRasterWork queue_;
  TVex2DGraphics* current_ = nullptr;
  TRasterSurface surface_;
  std::shared_ptr<uint8_t> surface_memory_;  // see ResetDevice
  TRasterClip clip_;
  TDeviceTransform transform_;
  uint8_t rgba_[4] = {255, 255, 255, 255};
  uint8_t clear_rgba_[4] = {0, 0, 0, 255};
  TRasterBlend blend_ = TRasterBlend::Solid;
  bool paints_ = true;  // see UpdatePaint
  int line_width_ = 1;
  double scale_x_ = 1.0, scale_y_ = 1.0;
  double offset_x_ = 0.0, offset_y_ = 0.0;  // see SetResolution
  bool scaled_ = false;
  bool drew_ = false;  // something was drawn in clip_ since NoteDamage last ran
};

Ref<TImageFrame> TSoftVex2DDriver::CreateFrameFromPixmap(const Ref<TPixmap>& pixmap,
                                                        int flags) {
  if (!pixmap || pixmap->width <= 0 || pixmap->height <= 0) return nullptr;
  int tex_width = 0, tex_height = 0;
  FindTextureSize(pixmap->width, pixmap->height, TextureSideFits, tex_width, tex_height);
  int width = 0, height = 0;
  auto frame = std::make_shared<TSoftImageFrame>();
  frame->levels[0] = TexturePixmap(pixmap, tex_width, tex_height, width, height);
  int count = 1;
  if ((flags & IMAGEFLAG_MIPMAPPED) != 0) {
    while (count < kMaxTextureLevels &&
           (frame->levels[count - 1]->width > 1 || frame->levels[count - 1]->height > 1)) {
      frame->levels[count] = NextMipLevel(frame->levels[count - 1]);
      ++count;
    }
  }
  for (int i = 0; i < count; ++i) {
    const Ref<TPixmap>& level = frame->levels[i];
    frame->texture.levels[i] = {level->pixels, level->pitch, level->width, level->height};
  }
  frame->texture.level_count = count;
  frame->texture.filtered = (flags & IMAGEFLAG_FILTERED) != 0;
  frame->uscale = 1.0f / static_cast<float>(tex_width);
  frame->vscale = 1.0f / static_cast<float>(tex_height);
  return frame;
}

TSoftImageFrame::~TSoftImageFrame() {
  // Commands still queued may sample this texture.
  if (the_driver) the_driver->queue().Drain();
}

void TSoftImageFrame::Draw(float x0, float y0, float x1, float y1, float tx, float ty,
                           float sx, float sy, float sw, float sh) {
  const float s0 = sx * uscale, s1 = (sx + sw) * uscale;
  const float t0 = sy * vscale, t1 = (sy + sh) * vscale;
  float corners[8];
  the_driver->Vertex(x0, y0, tx, ty, 0, corners);
  the_driver->Vertex(x1, y0, tx, ty, 0, corners + 2);
  the_driver->Vertex(x1, y1, tx, ty, 0, corners + 4);
  the_driver->Vertex(x0, y1, tx, ty, 0, corners + 6);
  const float st[8] = {s0, t0, s1, t0, s1, t1, s0, t1};
  the_driver->DrawTexturedQuad(texture, corners, st);
}

}  // namespace

const TSoftVex2DStats& SoftVex2DStats() { return stats; }

void SetSoftVex2DThreads(int threads) {
  threads = std::max(threads, 0);
  // Note: a driver not made yet takes the number when it is.
  if (the_driver) {
    the_driver->SetThreads(threads);
  } else {
    draw_threads = threads;
  }
}

TVex2DDriver* SoftVex2DDriver() {
  // Driver singletons live for the whole process.
  if (!the_driver) the_driver = new TSoftVex2DDriver();
  return the_driver;
}

void StartSoftVex2D() {
  static bool started = false;
  if (started) return;
  started = true;
  StartDraw2D();
  SelectGraphicsDriver(SoftVex2DDriver(), GRAPHICS_BACKBUFFER);
  // A program that sleeps between drawing and showing it (the sheet's facet pauses) has
  // the raster thread draw meanwhile, instead of the next Flip waiting for it to wake and
  // catch up.
  SetBeforeSleep([] { the_driver->queue().Flush(); });
  // The raster thread ends with the program, after the windows have closed.
  AddExitAction([] { the_driver->queue().Stop(); });
}
