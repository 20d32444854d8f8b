// Software graphics driver: each context is a platform window (graphics/platform/glcontext,
// made without GL) and a pixel buffer in main memory; Flip copies the part of the buffer
// marked changed into the window.
// Depends on the graphics module and graphics/platform. State: the driver singleton and
// the context made current through it.
#include "graphics/softgraphics.h"

#include <algorithm>  // for std::min, std::max
#include <cstdlib>    // for std::calloc, std::free
#include <memory>
#include <new>        // for std::bad_alloc
#include <string>

#include "graphics/platform/glcontext.h"

namespace {

constexpr int kBytesPerPixel = 4;

struct FreeDeleter {
  void operator()(uint8_t* pixels) const { std::free(pixels); }
};

// A software context: the window record and the buffer it shows.
class TSoftGraphics : public TGraphics {
 public:
  explicit TSoftGraphics(GLContextRecord* record) : record_(record) {}
  ~TSoftGraphics() override { Close(); }

  TGraphicsDriver* Driver() override { return SoftGraphicsDriver(); }

  int GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) override {
    if (!record_) {
      width = height = depth = hertz = flags = 0;
      return 0;
    }
    GLContextSettings(record_, width, height, depth, hertz, flags);
    return 1;
  }

  int Close() override;
  int Visible() override { return record_ ? GLContextVisible(record_) : 0; }

  // The buffer, made (black) when there is none of the window's size yet.
  TPixelBuffer Buffer() {
    if (!record_) return {};
    int width = 0, height = 0;
    GLContextSize(record_, width, height);
    if (buffer_.width != width || buffer_.height != height) {
      const size_t pitch = static_cast<size_t>(width) * kBytesPerPixel;
      // Note: calloc hands out zeroed pages that cost nothing until drawn on, so a large
      // sheet drawn off-screen pays only for what it touches.
      uint8_t* pixels =
          static_cast<uint8_t*>(std::calloc(static_cast<size_t>(height), pitch));
      if (!pixels) throw std::bad_alloc();
      buffer_ = {pixels, static_cast<int>(pitch), width, height,
                 std::shared_ptr<uint8_t>(pixels, FreeDeleter())};
      Damage(0, 0, buffer_.width, buffer_.height);
    }
    return buffer_;
  }

  void Damage(int x, int y, int width, int height) {
    const int x1 = std::min(x + width, buffer_.width), y1 = std::min(y + height, buffer_.height);
    x = std::max(x, 0);
    y = std::max(y, 0);
    if (x >= x1 || y >= y1) return;
    if (damage_x1_ <= damage_x0_) {
      damage_x0_ = x, damage_y0_ = y, damage_x1_ = x1, damage_y1_ = y1;
      return;
    }
    damage_x0_ = std::min(damage_x0_, x);
    damage_y0_ = std::min(damage_y0_, y);
    damage_x1_ = std::max(damage_x1_, x1);
    damage_y1_ = std::max(damage_y1_, y1);
  }

  // Shows what changed since the last time, when somebody can see it.
  void Show() {
    if (damage_x1_ > damage_x0_ && record_ && GLContextVisible(record_) && buffer_.pixels) {
      GLContextShowPixels(record_, buffer_.pixels, buffer_.pitch, damage_x0_, damage_y0_,
                          damage_x1_ - damage_x0_, damage_y1_ - damage_y0_);
    }
    damage_x0_ = damage_y0_ = damage_x1_ = damage_y1_ = 0;
  }

  GLContextRecord* record() const { return record_; }

 private:
  GLContextRecord* record_;
  TPixelBuffer buffer_;
  int damage_x0_ = 0, damage_y0_ = 0, damage_x1_ = 0, damage_y1_ = 0;
};

TSoftGraphics* current = nullptr;

class TSoftGraphicsDriver : public TGraphicsDriver {
 public:
  std::vector<TGraphicsMode> GraphicsModes() override { return DisplayGraphicsModes(); }

  Ref<TGraphics> AttachGraphics(int widget, int flags) override {
    return WithBuffer(GLContextAttachSoftware(widget, flags));
  }

  Ref<TGraphics> CreateGraphics(int width, int height, int depth, int hertz,
                                int flags) override {
    return WithBuffer(GLContextCreateSoftware(width, height, depth, hertz, flags));
  }

  int SetGraphics(const Ref<TGraphics>& g) override {
    current = dynamic_cast<TSoftGraphics*>(g.get());
    GLContextMakeCurrent(current ? current->record() : nullptr);
    return 0;
  }

  int Flip(int) override {
    if (current) current->Show();
    return 0;
  }

 private:
  // A context for the window with its buffer made now, or null (GraphicsFailure says why).
  static Ref<TGraphics> WithBuffer(GLContextRecord* record) {
    if (!record) {
      SetGraphicsFailure(GLContextFailure());
      return nullptr;
    }
    auto context = std::make_shared<TSoftGraphics>(record);
    try {
      context->Buffer();
    } catch (const std::bad_alloc&) {
      int width = 0, height = 0;
      GLContextSize(record, width, height);
      SetGraphicsFailure("not enough memory for its " + std::to_string(width) + " x " +
                         std::to_string(height) + " drawing buffer");
      context->Close();
      return nullptr;
    }
    return context;
  }
};

int TSoftGraphics::Close() {
  if (current == this) current = nullptr;
  if (record_) GLContextClose(record_);
  record_ = nullptr;
  buffer_ = {};
  return 0;
}

}  // namespace

TGraphicsDriver* SoftGraphicsDriver() {
  // Kept for the life of the process, like every driver.
  static TSoftGraphicsDriver* driver = new TSoftGraphicsDriver;
  return driver;
}

TPixelBuffer SoftGraphicsBuffer(TGraphics& graphics) {
  auto* soft = dynamic_cast<TSoftGraphics*>(&graphics);
  return soft ? soft->Buffer() : TPixelBuffer{};
}

void SoftGraphicsDamage(TGraphics& graphics, int x, int y, int width, int height) {
  if (auto* soft = dynamic_cast<TSoftGraphics*>(&graphics)) soft->Damage(x, y, width, height);
}
