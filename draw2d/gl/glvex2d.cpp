// OpenGL 2D driver ("OpenGL"): the 2D layer's render driver over the GL graphics driver.
// It exists so the front end can draw with OpenGL 1.1 immediate mode wherever a GL context
// can be made (on a desktop or on the off-screen video driver), and it is selected at
// start-up unless a later 2D driver takes over.
// Depends on the 2D front end, the GL graphics driver and pixmaps.
// State: the device state cache shared by all GL contexts (transform, colour bytes, blend,
// bound texture, texturing flag) and the textures waiting to be deleted.
#include "draw2d/gl/glvex2d.h"

#include <GL/gl.h>
#include <GL/glext.h>  // for GL_CLAMP_TO_EDGE beyond OpenGL 1.1

#include <algorithm>  // for std::clamp
#include <cstdint>
#include <cstring>    // for std::memcpy of whole rows
#include <vector>

#include "draw2d/device.h"
#include "draw2d/gl/glimageframe.h"
#include "graphics/glgraphics.h"

namespace {

// Device state: the caches are forgotten by ResetGLContext whenever a context becomes
// current, and everything is then set again by the context's replayed state.
TDeviceTransform transform;
uint8_t color4ub[4] = {255, 255, 255, 255};  // red, green, blue, alpha
int applied_blend = 0;                       // 0: none applied since the last reset
GLuint bound_texture = 0;
bool texturing = false;

// Textures of the current generation whose frames are gone, deleted at the next creation.
// Note: frames held by other modules' statics die at process exit, possibly after this
// file's statics, so the list is never destroyed.
std::vector<GLuint>& PendingDeletions() {
  static auto* list = new std::vector<GLuint>();
  return *list;
}
int pending_generation = 0;

TGLVex2DStats stats;

void SetTexturing(bool enable) {
  if (texturing == enable) return;
  texturing = enable;
  ++stats.texturing_switches;
  if (enable) {
    glEnable(GL_TEXTURE_2D);
  } else {
    glDisable(GL_TEXTURE_2D);
  }
}

void BindTexture(GLuint name) {
  if (bound_texture == name) return;
  bound_texture = name;
  ++stats.texture_binds;
  glBindTexture(GL_TEXTURE_2D, name);
}

// Emits a local point through the transform, translated (and shifted by `offset`).
inline void TransformedVertex(double lx, double ly, double tx, double ty,
                              double offset = 0.0) {
  float x = 0, y = 0;
  TransformPoint(transform, lx, ly, tx, ty, offset, x, y);
  glVertex2f(x, y);
}

// Whether the GL can hold an RGBA texture of this size, asked through the proxy target.
bool ProxyAccepts(int width, int height) {
  glTexImage2D(GL_PROXY_TEXTURE_2D, 0, 4, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
               nullptr);
  GLint accepted = 0;
  glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &accepted);
  return accepted != 0;
}

class TGLVex2DDriver : public TVex2DDriver {
 public:
  String ToString() const override { return u"OpenGL"; }

  TGLVex2DDriver* Create() { return GLGraphicsDriver() ? this : nullptr; }

  // Forgets the cached device state and sets the projection for the whole context.
  void ResetGLContext(TVex2DGraphics& graphics) {
    int width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
    graphics.GetSettings(width, height, depth, hertz, flags);
    applied_blend = 0;
    bound_texture = 0;
    texturing = false;
    glDisable(GL_TEXTURE_2D);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, width, height, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glViewport(0, 0, width, height);
  }

  // --- context plumbing
  std::vector<TGraphicsMode> GraphicsModes() override {
    return GLGraphicsDriver()->GraphicsModes();
  }

  Ref<TGraphics> AttachGraphics(int widget, int flags) override {
    Ref<TGraphics> context = GLGraphicsDriver()->AttachGraphics(widget, flags);
    if (!context) return nullptr;
    return TVex2DGraphics::Create(context, this);
  }

  Ref<TGraphics> CreateGraphics(int width, int height, int depth, int hertz,
                                int flags) override {
    Ref<TGraphics> context =
        GLGraphicsDriver()->CreateGraphics(width, height, depth, hertz, flags);
    if (!context) return nullptr;
    return TVex2DGraphics::Create(context, this);
  }

  int SetGraphics(const Ref<TGraphics>& g) override {
    if (!g) {
      TVex2DGraphics::ClearCurrent();
      return GLGraphicsDriver()->SetGraphics(nullptr);
    }
    // Note: anything but a 2D context here is a usage error.
    auto& graphics = dynamic_cast<TVex2DGraphics&>(*g);
    int result = GLGraphicsDriver()->SetGraphics(graphics._graphics);
    ResetGLContext(graphics);
    graphics.MakeCurrent();
    return result;
  }

  int Flip(int sync) override { return GLGraphicsDriver()->Flip(sync); }

  Ref<TImageFrame> CreateFrameFromPixmap(const Ref<TPixmap>& pixmap, int flags) override {
    return TGLImageFrame::CreateFromPixmap(pixmap, flags);
  }

  // --- state
  void SetBlend(int mode) override {
    if (mode == applied_blend) return;
    applied_blend = mode;
    ++stats.blend_changes;
    switch (mode) {
      case BLEND_MASK:
        glDisable(GL_BLEND);
        glEnable(GL_ALPHA_TEST);
        glAlphaFunc(GL_GEQUAL, 0.5f);
        break;
      case BLEND_ALPHA:
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glDisable(GL_ALPHA_TEST);
        break;
      case BLEND_ADDITIVE:
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE);
        glDisable(GL_ALPHA_TEST);
        break;
      case BLEND_MULTIPLY:
        glEnable(GL_BLEND);
        glBlendFunc(GL_DST_COLOR, GL_ZERO);
        glDisable(GL_ALPHA_TEST);
        break;
      default:  // BlendSolid, and every unnamed code
        glDisable(GL_BLEND);
        glDisable(GL_ALPHA_TEST);
        break;
    }
  }

  void SetAlpha(float alpha) override {
    color4ub[3] = AlphaByte(alpha);
    glColor4ubv(color4ub);
  }

  void SetColor(int red, int green, int blue) override {
    color4ub[0] = ColourByte(red);
    color4ub[1] = ColourByte(green);
    color4ub[2] = ColourByte(blue);
    glColor4ubv(color4ub);
  }

  void SetClsColor(int red, int green, int blue) override {
    glClearColor(ColourByte(red) / 255.0f, ColourByte(green) / 255.0f,
                 ColourByte(blue) / 255.0f, 1.0f);
  }

  void SetViewport(int x, int y, int width, int height) override {
    int context_height = CurrentGraphicsHeight();
    if (x == 0 && y == 0 && width == CurrentGraphicsWidth() && height == context_height) {
      glDisable(GL_SCISSOR_TEST);
      return;
    }
    glEnable(GL_SCISSOR_TEST);
    // Worked out in 64 bits and held to the context, so no int arguments overflow. Note:
    // the GL refuses a negative size and would keep clipping to the previous rectangle;
    // such a viewport holds no pixels.
    const int64_t context_width = CurrentGraphicsWidth();
    const int64_t x0 = std::clamp<int64_t>(x, 0, context_width);
    const int64_t x1 = std::clamp<int64_t>(int64_t{x} + width, x0, context_width);
    const int64_t y0 = std::clamp<int64_t>(y, 0, context_height);
    const int64_t y1 = std::clamp<int64_t>(int64_t{y} + height, y0, context_height);
    // Top-down rectangle flipped into GL's bottom-up window coordinates.
    glScissor(static_cast<GLint>(x0), static_cast<GLint>(context_height - y1),
              static_cast<GLsizei>(x1 - x0), static_cast<GLsizei>(y1 - y0));
  }

  void SetTransform(float ix, float iy, float jx, float jy) override {
    transform = {ix, iy, jx, jy};
  }

  void SetLineWidth(float width) override {
    // Note: the GL refuses widths that are not above 0 and keeps the previous one; such a
    // width rounds to 0, which the wide-line rule counts as 1.
    glLineWidth(width > 0.0f ? width : 1.0f);
  }

  void Cls() override { glClear(GL_COLOR_BUFFER_BIT); }

  // --- shapes
  void Plot(float x, float y) override {
    SetTexturing(false);
    glBegin(GL_POINTS);
    glVertex2f(static_cast<float>(x + kPixelCentre), static_cast<float>(y + kPixelCentre));
    glEnd();
  }

  void DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) override {
    SetTexturing(false);
    glBegin(GL_LINES);
    TransformedVertex(x0, y0, tx, ty, kPixelCentre);
    TransformedVertex(x1, y1, tx, ty, kPixelCentre);
    glEnd();
  }

  void DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) override {
    SetTexturing(false);
    glBegin(GL_QUADS);
    TransformedVertex(x0, y0, tx, ty);
    TransformedVertex(x1, y0, tx, ty);
    TransformedVertex(x1, y1, tx, ty);
    TransformedVertex(x0, y1, tx, ty);
    glEnd();
  }

  void DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) override {
    SetTexturing(false);
    glBegin(GL_POLYGON);
    ForEachOvalPoint(x0, y0, x1, y1, [&](float x, double y) { TransformedVertex(x, y, tx, ty); });
    glEnd();
  }

  void DrawPoly(const std::vector<float>& points, float hx, float hy, float tx,
                float ty) override {
    if (points.size() < 6 || (points.size() & 1) != 0) return;
    SetTexturing(false);
    glBegin(GL_POLYGON);
    for (size_t i = 0; i < points.size(); i += 2) {
      TransformedVertex(static_cast<double>(points[i]) + hx,
                        static_cast<double>(points[i + 1]) + hy, tx, ty);
    }
    glEnd();
  }

  // --- pixels
  void DrawPixmap(const Ref<TPixmap>& pixmap, int x, int y) override {
    if (!pixmap) return;
    int blend = applied_blend;
    SetTexturing(false);
    SetBlend(BLEND_SOLID);
    Ref<TPixmap> source = pixmap;
    if (source->format != PIXFMT_RGBA32) source = source->Convert(PIXFMT_RGBA32);
    glPixelZoom(1.0f, -1.0f);
    glRasterPos2i(0, 0);
    // Moves the raster position by window pixels from the context's top-left corner.
    glBitmap(0, 0, 0, 0, static_cast<float>(x), -static_cast<float>(y), nullptr);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, source->pitch / 4);
    glDrawPixels(source->width, source->height, GL_RGBA, GL_UNSIGNED_BYTE, source->pixels);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelZoom(1.0f, 1.0f);
    SetBlend(blend);
  }

  Ref<TPixmap> GrabPixmap(int x, int y, int width, int height) override {
    int blend = applied_blend;
    SetBlend(BLEND_SOLID);
    Ref<TPixmap> read = TPixmap::Create(width, height, PIXFMT_RGBA32, 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    // Note: the bottom row is worked out in 64 bits; a rectangle beyond what an int holds
    // reads nothing.
    const int64_t bottom_row = int64_t{CurrentGraphicsHeight()} - height - y;
    if (bottom_row < INT32_MIN || bottom_row > INT32_MAX) {
      read->ClearPixels(0);
      SetBlend(blend);
      return read;
    }
    glReadPixels(x, static_cast<GLint>(bottom_row), width, height, GL_RGBA,
                 GL_UNSIGNED_BYTE, read->pixels);
    // GL reads bottom row first; callers get row 0 on top. Note: the rows are swapped in
    // place through one row of scratch, so a grab needs the memory of one image, not two.
    std::vector<uint8_t> row(static_cast<std::size_t>(read->pitch));
    // Note: a grab zero pixels wide has no rows to swap (and no memory to swap them in).
    for (int top = 0, bottom = height - 1; read->pitch > 0 && top < bottom; ++top, --bottom) {
      uint8_t* upper = read->PixelPtr(0, top);
      uint8_t* lower = read->PixelPtr(0, bottom);
      std::memcpy(row.data(), upper, row.size());
      std::memcpy(upper, lower, row.size());
      std::memcpy(lower, row.data(), row.size());
    }
    SetBlend(blend);
    return read;
  }

  void SetResolution(float width, float height) override {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, width, height, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
  }
};

}  // namespace

// ---------------------------------------------------------------------------------------
// TGLImageFrame

namespace {

// A new texture name; names left by frames of this generation go now.
GLuint NewTextureName() {
  GLuint name = 0;
  glGenTextures(1, &name);
  if (graphicsGeneration == pending_generation) {
    for (GLuint old : PendingDeletions()) {
      if (bound_texture == old) bound_texture = 0;
      glDeleteTextures(1, &old);
      ++stats.textures_deleted;
    }
  }
  PendingDeletions().clear();
  pending_generation = graphicsGeneration;
  return name;
}

// Edge clamping and the filters the image flags ask for, on the bound texture.
void SetTextureParameters(int flags) {
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  const bool mipmapped = (flags & IMAGEFLAG_MIPMAPPED) != 0;
  if ((flags & IMAGEFLAG_FILTERED) != 0) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                    mipmapped ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
  } else {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                    mipmapped ? GL_NEAREST_MIPMAP_NEAREST : GL_NEAREST);
  }
}

// Allocates level 0 of the bound texture and, mipmapped, every level down to 1 x 1.
void AllocateTextureLevels(int tex_width, int tex_height, bool mipmapped) {
  int level = 0, w = tex_width, h = tex_height;
  for (;;) {
    glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    if (!mipmapped || (w == 1 && h == 1)) break;
    if (w > 1) w /= 2;
    if (h > 1) h /= 2;
    ++level;
  }
}

// Uploads level 0 and, mipmapped, each halved level down to 1 x 1.
void UploadTextureLevels(Ref<TPixmap> level_pixmap, bool mipmapped) {
  for (int level = 0;; ++level) {
    glPixelStorei(GL_UNPACK_ROW_LENGTH, level_pixmap->pitch / BytesPerPixel[level_pixmap->format]);
    glTexSubImage2D(GL_TEXTURE_2D, level, 0, 0, level_pixmap->width, level_pixmap->height,
                    GL_RGBA, GL_UNSIGNED_BYTE, level_pixmap->pixels);
    if (!mipmapped || (level_pixmap->width == 1 && level_pixmap->height == 1)) break;
    level_pixmap = NextMipLevel(level_pixmap);
  }
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

}  // namespace

Ref<TGLImageFrame> TGLImageFrame::CreateFromPixmap(const Ref<TPixmap>& pixmap, int flags) {
  // Note: an empty pixmap has no last row or column to pad with; it gets no texture.
  if (pixmap->width <= 0 || pixmap->height <= 0) return nullptr;
  int tex_width = 0, tex_height = 0;
  FindTextureSize(pixmap->width, pixmap->height, ProxyAccepts, tex_width, tex_height);
  int width = 0, height = 0;
  Ref<TPixmap> source = TexturePixmap(pixmap, tex_width, tex_height, width, height);

  const GLuint name = NewTextureName();
  BindTexture(name);
  SetTextureParameters(flags);
  const bool mipmapped = (flags & IMAGEFLAG_MIPMAPPED) != 0;
  AllocateTextureLevels(tex_width, tex_height, mipmapped);
  UploadTextureLevels(source, mipmapped);

  auto frame = std::make_shared<TGLImageFrame>();
  frame->name = static_cast<int>(name);
  frame->uscale = 1.0f / static_cast<float>(tex_width);
  frame->vscale = 1.0f / static_cast<float>(tex_height);
  frame->u1 = static_cast<float>(width) * frame->uscale;
  frame->v1 = static_cast<float>(height) * frame->vscale;
  frame->seq = graphicsGeneration;
  return frame;
}

TGLImageFrame::~TGLImageFrame() {
  // Note: a frame of an older generation belongs to a context that is gone with its names.
  if (name != 0 && seq == pending_generation) {
    PendingDeletions().push_back(static_cast<GLuint>(name));
  }
}

void TGLImageFrame::Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx,
                         float sy, float sw, float sh) {
  BindTexture(static_cast<GLuint>(name));
  SetTexturing(true);
  float s0 = sx * uscale, s1 = (sx + sw) * uscale;
  float t0 = sy * vscale, t1 = (sy + sh) * vscale;
  glBegin(GL_QUADS);
  glTexCoord2f(s0, t0);
  TransformedVertex(x0, y0, tx, ty);
  glTexCoord2f(s1, t0);
  TransformedVertex(x1, y0, tx, ty);
  glTexCoord2f(s1, t1);
  TransformedVertex(x1, y1, tx, ty);
  glTexCoord2f(s0, t1);
  TransformedVertex(x0, y1, tx, ty);
  glEnd();
}

// ---------------------------------------------------------------------------------------

TVex2DDriver* GLVex2DDriver() {
  // Driver singletons live for the whole process.
  static TGLVex2DDriver* driver = (new TGLVex2DDriver())->Create();
  return driver;
}

const TGLVex2DStats& GLVex2DStats() { return stats; }

void StartGLVex2D() {
  static bool started = false;
  if (started) return;
  started = true;
  StartDraw2D();
  StartGLGraphics();
  if (TVex2DDriver* driver = GLVex2DDriver()) SelectGraphicsDriver(driver, GRAPHICS_BACKBUFFER);
}
