// OpenGL graphics driver: GL contexts made by the platform layer (graphics/platform/
// glcontext), presented with a buffer swap. Depends on the graphics module.
// State: the driver singleton.
#include "graphics/glgraphics.h"

#include "graphics/platform/glcontext.h"

namespace {

constexpr int kDefaultGLFlags = GRAPHICS_BACKBUFFER;
// Display modes asked for at the most.
constexpr int kModeTableSize = 1024;

}  // namespace

// The same for every platform: the platform fills the table, this turns it into modes.
std::vector<TGraphicsMode> DisplayGraphicsModes() {
  static int table[kModeTableSize * 4];
  const int count = GLContextEnumModes(table, kModeTableSize);
  std::vector<TGraphicsMode> modes(count);
  for (int i = 0; i < count; ++i) {
    modes[i] = {table[i * 4], table[i * 4 + 1], table[i * 4 + 2], table[i * 4 + 3]};
  }
  return modes;
}

// A GL context; _context is the platform record, null once closed.
class TGLGraphics : public TGraphics {
 public:
  explicit TGLGraphics(GLContextRecord* record) : _context(record) {}
  ~TGLGraphics() override { Close(); }
  TGraphicsDriver* Driver() override { return GLGraphicsDriver(); }
  int GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) override {
    if (!_context) {
      width = height = depth = hertz = flags = 0;
      return 0;
    }
    GLContextSettings(_context, width, height, depth, hertz, flags);
    return 1;
  }
  int Close() override {
    if (_context) GLContextClose(_context);
    _context = nullptr;
    return 0;
  }
  int Visible() override { return _context ? GLContextVisible(_context) : 0; }

  GLContextRecord* _context;
};

class TGLGraphicsDriver : public TGraphicsDriver {
 public:
  std::vector<TGraphicsMode> GraphicsModes() override { return DisplayGraphicsModes(); }
  Ref<TGraphics> AttachGraphics(int widget, int flags) override {
    GLContextRecord* record = GLContextAttach(widget, flags);
    if (!record) {
      SetGraphicsFailure(GLContextFailure());
      return nullptr;
    }
    return std::make_shared<TGLGraphics>(record);
  }
  Ref<TGraphics> CreateGraphics(int width, int height, int depth, int hertz,
                                int flags) override {
    GLContextRecord* record = GLContextCreate(width, height, depth, hertz, flags);
    if (!record) {
      SetGraphicsFailure(GLContextFailure());
      return nullptr;
    }
    return std::make_shared<TGLGraphics>(record);
  }
  int SetGraphics(const Ref<TGraphics>& g) override {
    auto* gl = dynamic_cast<TGLGraphics*>(g.get());
    GLContextMakeCurrent(gl ? gl->_context : nullptr);
    return 0;
  }
  int Flip(int sync) override {
    GLContextSwap(sync);
    return 0;
  }
};

TGraphicsDriver* GLGraphicsDriver() {
  // Kept for the life of the process, like every driver.
  static TGLGraphicsDriver* driver = new TGLGraphicsDriver;
  return driver;
}

Ref<TGraphics> OpenGLGraphics(int width, int height, int depth, int hertz, int flags) {
  SelectGraphicsDriver(GLGraphicsDriver(), kDefaultGLFlags);
  return OpenGraphics(width, height, depth, hertz, flags);
}

void StartGLGraphics() {
  static bool started = false;
  if (started) return;
  started = true;
  StartGraphics();
  SelectGraphicsDriver(GLGraphicsDriver(), kDefaultGLFlags);
}
