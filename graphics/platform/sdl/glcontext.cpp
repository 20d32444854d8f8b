// GL window and context layer on SDL2: SDL makes the window and the GL context that the
// native window system would. Used for every GL graphics context, on a display or, when
// none can be opened, on SDL's off-screen driver. Drawing goes to a framebuffer object the
// size of the window, copied to the window at each swap, so it survives presentation.
// State: the context list (newest first) and the current record.
#include "graphics/platform/sdl/glcontext.h"

#include <SDL.h>
#include <SDL_syswm.h>  // for the native handles of an attached window
#if defined(SDL_VIDEO_DRIVER_X11)
#include <X11/Xlib.h>  // for measuring a foreign window, whose resizes SDL never hears of
#endif
#include <GL/gl.h>
#include <GL/glext.h>  // for the framebuffer object types and constants

#include <algorithm>  // for std::min, std::max
#include <cstdint>
#include <cstdio>  // for std::snprintf of a GL status code
#include <string>

#include "graphics/graphics.h"  // for the GRAPHICS_ flag names
#include "graphics/platform/sdl/systemdriver.h"
#include "graphics/platform/sdl/present.h"
#include "graphics/system.h"
#include "runtime/object.h"
#include "runtime/runtime.h"
#include "runtime/text.h"

namespace {

constexpr char kDisplayModeError[] = "GLGraphicsDriver failed to set display mode";
constexpr int kKindAttached = 1;
constexpr int kKindDesktop = 2;
constexpr int kKindFullScreen = 3;
// SDL refuses windows wider or higher than this ("Window is too large.").
constexpr int kLargestWindowSide = 16384;

// Framebuffer object entry points, fetched once from the GL (core 3.0 names first, then
// the extension ones).
struct FramebufferCalls {
  bool looked_up = false;
  bool available = false;
  PFNGLGENFRAMEBUFFERSPROC GenFramebuffers = nullptr;
  PFNGLDELETEFRAMEBUFFERSPROC DeleteFramebuffers = nullptr;
  PFNGLBINDFRAMEBUFFERPROC BindFramebuffer = nullptr;
  PFNGLGENRENDERBUFFERSPROC GenRenderbuffers = nullptr;
  PFNGLDELETERENDERBUFFERSPROC DeleteRenderbuffers = nullptr;
  PFNGLBINDRENDERBUFFERPROC BindRenderbuffer = nullptr;
  PFNGLRENDERBUFFERSTORAGEPROC RenderbufferStorage = nullptr;
  PFNGLFRAMEBUFFERRENDERBUFFERPROC FramebufferRenderbuffer = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC CheckFramebufferStatus = nullptr;
  PFNGLBLITFRAMEBUFFERPROC BlitFramebuffer = nullptr;
  // Optional: tells a storage the GL could not allocate from other failures.
  PFNGLGETRENDERBUFFERPARAMETERIVPROC GetRenderbufferParameteriv = nullptr;
};

GLContextRecord* context_list = nullptr;
GLContextRecord* current_record = nullptr;
FramebufferCalls fbo;
int record_holds = 0;
GLContextRecord* closed_while_held = nullptr;  // linked through next
std::string failure_reason;  // why the last create or attach made no record

template <class Function>
void Fetch(Function& slot, const char* core, const char* extension) {
  slot = reinterpret_cast<Function>(SDL_GL_GetProcAddress(core));
  if (!slot) slot = reinterpret_cast<Function>(SDL_GL_GetProcAddress(extension));
}

// Needs a current context: some GL libraries hand out entry points only then.
void LookUpFramebufferCalls() {
  if (fbo.looked_up) return;
  fbo.looked_up = true;
  Fetch(fbo.GenFramebuffers, "glGenFramebuffers", "glGenFramebuffersEXT");
  Fetch(fbo.DeleteFramebuffers, "glDeleteFramebuffers", "glDeleteFramebuffersEXT");
  Fetch(fbo.BindFramebuffer, "glBindFramebuffer", "glBindFramebufferEXT");
  Fetch(fbo.GenRenderbuffers, "glGenRenderbuffers", "glGenRenderbuffersEXT");
  Fetch(fbo.DeleteRenderbuffers, "glDeleteRenderbuffers", "glDeleteRenderbuffersEXT");
  Fetch(fbo.BindRenderbuffer, "glBindRenderbuffer", "glBindRenderbufferEXT");
  Fetch(fbo.RenderbufferStorage, "glRenderbufferStorage", "glRenderbufferStorageEXT");
  Fetch(fbo.FramebufferRenderbuffer, "glFramebufferRenderbuffer",
        "glFramebufferRenderbufferEXT");
  Fetch(fbo.CheckFramebufferStatus, "glCheckFramebufferStatus",
        "glCheckFramebufferStatusEXT");
  Fetch(fbo.BlitFramebuffer, "glBlitFramebuffer", "glBlitFramebufferEXT");
  Fetch(fbo.GetRenderbufferParameteriv, "glGetRenderbufferParameteriv",
        "glGetRenderbufferParameterivEXT");
  fbo.available = fbo.GenFramebuffers && fbo.DeleteFramebuffers && fbo.BindFramebuffer &&
                  fbo.GenRenderbuffers && fbo.DeleteRenderbuffers && fbo.BindRenderbuffer &&
                  fbo.RenderbufferStorage && fbo.FramebufferRenderbuffer &&
                  fbo.CheckFramebufferStatus && fbo.BlitFramebuffer;
}

// Binds the record's drawing buffer for both drawing and reading, so clears, drawing and
// pixel reads of the 2D layer all reach it.
void BindDrawingBuffer(GLContextRecord* record) {
  if (!record->framebuffer) return;
  fbo.BindFramebuffer(GL_FRAMEBUFFER, record->framebuffer);
  glDrawBuffer(GL_COLOR_ATTACHMENT0);
  glReadBuffer(GL_COLOR_ATTACHMENT0);
}

std::string SizeText(int width, int height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

// The words for a size the graphics system will not make, with its limit.
std::string SizeRefused(int limit) {
  return "the graphics system refused that size (at most " + SizeText(limit, limit) + ")";
}

// Makes the off-screen drawing buffer of the record's size: RGBA when the flags ask for an
// alpha buffer, else RGB (read-back alpha is then 255); depth and stencil only when the
// flags ask for them. The record's context must be current. False, with failure_reason
// saying why, when the buffer cannot be made; true also when the GL has no framebuffer
// objects at all (drawing then goes to the window's back buffer).
bool MakeDrawingBuffer(GLContextRecord* record) {
  LookUpFramebufferCalls();
  if (!fbo.available) return true;
  GLint largest = 0;
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &largest);
  if (largest > 0 && (record->width > largest || record->height > largest)) {
    failure_reason = SizeRefused(largest);
    return false;
  }
  // Note: an accumulation buffer (flag 32) cannot be attached to a framebuffer object, so
  // this context has none; its flags say so instead of pretending.
  record->flags &= ~GRAPHICS_ACCUMBUFFER;
  while (glGetError() != GL_NO_ERROR) {
  }
  fbo.GenFramebuffers(1, &record->framebuffer);
  fbo.BindFramebuffer(GL_FRAMEBUFFER, record->framebuffer);
  fbo.GenRenderbuffers(1, &record->colorbuffer);
  fbo.BindRenderbuffer(GL_RENDERBUFFER, record->colorbuffer);
  const GLenum colour_format = (record->flags & GRAPHICS_ALPHABUFFER) ? GL_RGBA8 : GL_RGB8;
  fbo.RenderbufferStorage(GL_RENDERBUFFER, colour_format, record->width, record->height);
  // Note: some GLs report a storage they could not allocate only as a buffer of no size.
  GLint stored_width = record->width;
  if (fbo.GetRenderbufferParameteriv) {
    fbo.GetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_WIDTH, &stored_width);
  }
  fbo.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                              record->colorbuffer);
  if (record->flags & (GRAPHICS_DEPTHBUFFER | GRAPHICS_STENCILBUFFER)) {
    fbo.GenRenderbuffers(1, &record->depthbuffer);
    fbo.BindRenderbuffer(GL_RENDERBUFFER, record->depthbuffer);
    fbo.RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, record->width,
                            record->height);
    fbo.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                                record->depthbuffer);
    fbo.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                                record->depthbuffer);
  }
  fbo.BindRenderbuffer(GL_RENDERBUFFER, 0);
  const bool out_of_memory = glGetError() == GL_OUT_OF_MEMORY || stored_width == 0;
  const GLenum status = fbo.CheckFramebufferStatus(GL_FRAMEBUFFER);
  if (out_of_memory || status != GL_FRAMEBUFFER_COMPLETE) {
    // Note: a window's back buffer does not keep its drawing across presentation, so an
    // incomplete drawing buffer is a failure, not a reason to draw there instead.
    char code[16];
    std::snprintf(code, sizeof(code), "0x%04X", static_cast<unsigned>(status));
    failure_reason = out_of_memory ? "not enough memory for its " +
                                         SizeText(record->width, record->height) +
                                         " drawing buffer"
                                   : std::string("its drawing buffer is incomplete (status ") +
                                         code + ")";
    fbo.BindFramebuffer(GL_FRAMEBUFFER, 0);
    fbo.DeleteFramebuffers(1, &record->framebuffer);
    fbo.DeleteRenderbuffers(1, &record->colorbuffer);
    if (record->depthbuffer) fbo.DeleteRenderbuffers(1, &record->depthbuffer);
    record->framebuffer = record->colorbuffer = record->depthbuffer = 0;
    return false;
  }
  // A new buffer holds undefined pixels: start from black like a fresh window. Note: a
  // resized attached window gets its buffer while the drawing layer's scissor and clear
  // colour are set in the context; they are put back after the clear.
  GLboolean scissor = glIsEnabled(GL_SCISSOR_TEST);
  GLfloat clear_colour[4] = {0, 0, 0, 0};
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear_colour);
  glDisable(GL_SCISSOR_TEST);
  glClearColor(0, 0, 0, 1);
  GLbitfield planes = GL_COLOR_BUFFER_BIT;
  if (record->depthbuffer) planes |= GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT;
  glClear(planes);
  glClearColor(clear_colour[0], clear_colour[1], clear_colour[2], clear_colour[3]);
  if (scissor) glEnable(GL_SCISSOR_TEST);
  BindDrawingBuffer(record);
  return true;
}

void FreeDrawingBuffer(GLContextRecord* record) {
  if (!record->framebuffer) return;
  fbo.BindFramebuffer(GL_FRAMEBUFFER, 0);
  fbo.DeleteFramebuffers(1, &record->framebuffer);
  fbo.DeleteRenderbuffers(1, &record->colorbuffer);
  if (record->depthbuffer) fbo.DeleteRenderbuffers(1, &record->depthbuffer);
  record->framebuffer = record->colorbuffer = record->depthbuffer = 0;
}

// Pixel format request: one bit per asked-for buffer so the platform's nearest match
// decides the real sizes.
void RequestPixelFormat(int flags) {
  SDL_GL_ResetAttributes();
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, (flags & GRAPHICS_BACKBUFFER) ? 1 : 0);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 1);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 1);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 1);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, (flags & GRAPHICS_ALPHABUFFER) ? 1 : 0);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, (flags & GRAPHICS_DEPTHBUFFER) ? 1 : 0);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, (flags & GRAPHICS_STENCILBUFFER) ? 1 : 0);
  int accumulation = (flags & GRAPHICS_ACCUMBUFFER) ? 1 : 0;
  SDL_GL_SetAttribute(SDL_GL_ACCUM_RED_SIZE, accumulation);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_GREEN_SIZE, accumulation);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_BLUE_SIZE, accumulation);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_ALPHA_SIZE, accumulation);
}

// Context and drawing buffer for a record whose window exists; false when the platform
// refuses the context.
bool MakeContext(GLContextRecord* record) {
  record->context = SDL_GL_CreateContext(record->window);
  if (!record->context) {
    failure_reason = std::string("the GL context could not be made: ") + SDL_GetError();
    return false;
  }
  // SDL made the new context current; keep the module's notion in step.
  current_record = record;
  if (MakeDrawingBuffer(record)) return true;
  SDL_GL_MakeCurrent(nullptr, nullptr);
  current_record = nullptr;
  SDL_GL_DeleteContext(record->context);
  record->context = nullptr;
  return false;
}

void Unlink(GLContextRecord* record) {
  for (GLContextRecord** link = &context_list; *link; link = &(*link)->next) {
    if (*link == record) {
      *link = record->next;
      record->next = nullptr;
      return;
    }
  }
}

// Full screen at the record's size: the exact refresh rate first, then any.
bool SwitchDisplayMode(GLContextRecord* record) {
  SDL_DisplayMode want{};
  want.w = record->width;
  want.h = record->height;
  want.refresh_rate = record->hertz;
  SDL_DisplayMode found{};
  bool ok = SDL_GetClosestDisplayMode(0, &want, &found) != nullptr && found.w == want.w &&
            found.h == want.h;
  if (!ok && record->hertz != 0) {
    want.refresh_rate = 0;
    ok = SDL_GetClosestDisplayMode(0, &want, &found) != nullptr && found.w == want.w &&
         found.h == want.h;
  }
  if (!ok) return false;
  if (SDL_SetWindowDisplayMode(record->window, &found) != 0) return false;
  return SDL_SetWindowFullscreen(record->window, SDL_WINDOW_FULLSCREEN) == 0;
}

// The client size of a foreign window as the window system has it now. Note: a resized
// window gets a new drawing buffer of its new size (the old drawing is dropped).
void MeasureAttachedWindow(GLContextRecord* record) {
  int width = record->width;
  int height = record->height;
  SDL_GetWindowSize(record->window, &width, &height);
#if defined(SDL_VIDEO_DRIVER_X11)
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(record->window, &info) && info.subsystem == SDL_SYSWM_X11) {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(info.info.x11.display, info.info.x11.window, &attributes)) {
      width = attributes.width;
      height = attributes.height;
    }
  }
#endif
  if (width == record->width && height == record->height) return;
  record->width = width;
  record->height = height;
  if (!record->framebuffer) return;
  GLContextRecord* previous = current_record;
  if (SDL_GL_MakeCurrent(record->window, record->context) != 0) return;
  current_record = record;
  FreeDrawingBuffer(record);
  // Note: a buffer the new size cannot have leaves drawing in the window's back buffer;
  // nobody here could be told, and the attached window is the caller's to size.
  static_cast<void>(MakeDrawingBuffer(record));
  current_record = nullptr;
  SDL_GL_MakeCurrent(nullptr, nullptr);
  GLContextMakeCurrent(previous);
}

}  // namespace

namespace {

// A desktop (depth 0) or full-screen window of the given client size, with a GL context
// and drawing buffer, or, for a software window, with neither. Null when none can be made
// (GLContextFailure says why).
GLContextRecord* CreateWindowRecord(int width, int height, int depth, int hertz, int flags,
                                    bool software) {
  failure_reason.clear();
  if (width <= 0 || height <= 0) {
    failure_reason = "a window needs at least one pixel each way";
    return nullptr;
  }
  if (width > kLargestWindowSide || height > kLargestWindowSide) {
    failure_reason = SizeRefused(kLargestWindowSide);
    return nullptr;
  }
  if (!StartSDLVideo()) {
    failure_reason = "no video driver could be started, not even the off-screen one";
    return nullptr;
  }
  GLContextRecord* previous = current_record;
  auto* record = new GLContextRecord;
  record->kind = depth != 0 ? kKindFullScreen : kKindDesktop;
  record->depth = depth;
  record->hertz = hertz;
  record->flags = flags;
  record->software = software ? 1 : 0;
  int left = 0;
  int top = 0;
  if (record->kind == kKindDesktop) {
    // Centre the client area on the desktop, as the system does it.
    SDL_Rect desktop{0, 0, 0, 0};
    SDL_GetDisplayBounds(0, &desktop);
    left = (desktop.x + desktop.w) / 2 - width / 2;
    top = (desktop.y + desktop.h) / 2 - height / 2;
  }
  if (!software) RequestPixelFormat(flags);
  std::string title = TextToUtf8(AppTitle());
  // Fixed size: no resizable flag. Hidden until the record is listed, so its first
  // events already reach the translation.
  const Uint32 window_flags = SDL_WINDOW_HIDDEN | (software ? 0 : SDL_WINDOW_OPENGL);
  record->window = SDL_CreateWindow(title.c_str(), left, top, width, height, window_flags);
  if (!record->window) {
    failure_reason = std::string("the window could not be made: ") + SDL_GetError();
    delete record;
    return nullptr;
  }
  record->window_id = SDL_GetWindowID(record->window);
  if (software) {
    SDL_GetWindowSize(record->window, &record->width, &record->height);
  } else {
    SDL_GL_GetDrawableSize(record->window, &record->width, &record->height);
  }
  record->visible = SDLVideoOnDisplay();
  if (!software && !MakeContext(record)) {
    SDL_DestroyWindow(record->window);
    delete record;
    GLContextMakeCurrent(previous);
    return nullptr;
  }
  record->next = context_list;
  context_list = record;
  if (record->kind == kKindFullScreen && !SwitchDisplayMode(record)) {
    // Note: the refused window is closed before the error leaves, instead of staying
    // behind as an orphan that nothing can reach.
    GLContextClose(record);
    GLContextMakeCurrent(previous);
    throw TRuntimeError(kDisplayModeError);
  }
  SDL_ShowWindow(record->window);
  if (record->kind == kKindDesktop) SDL_SetWindowPosition(record->window, left, top);
  // Showing activates the window: its first events are handled inside this step.
  SystemPoll();
  GLContextMakeCurrent(previous);
  return record;
}

}  // namespace

GLContextRecord* GLContextCreate(int width, int height, int depth, int hertz, int flags) {
  return CreateWindowRecord(width, height, depth, hertz, flags, false);
}

GLContextRecord* GLContextCreateSoftware(int width, int height, int depth, int hertz,
                                         int flags) {
  return CreateWindowRecord(width, height, depth, hertz, flags, true);
}

bool GLContextShowPixels(GLContextRecord* record, const uint8_t* rgba, int pitch, int x,
                         int y, int width, int height) {
  if (!record || !record->software) return false;
  x = std::max(x, 0);
  y = std::max(y, 0);
  if (!record->presenter_made) {
    record->presenter_made = true;
    record->presenter = X11PresenterCreate(record->window);
  }
  if (record->presenter) {
    return X11PresenterShow(record->presenter, rgba, pitch, x, y, width, height);
  }
  SDL_Surface* surface = SDL_GetWindowSurface(record->window);
  if (!surface) return false;
  // Note: the window may be smaller than the buffer (a display that refused the size);
  // only what fits is shown.
  width = std::min(width, surface->w - x);
  height = std::min(height, surface->h - y);
  if (width <= 0 || height <= 0) return true;
  // RGBA bytes in memory are SDL's ABGR8888 on a little-endian machine, RGBA8888 on a
  // big-endian one.
  const Uint32 source_format =
      SDL_BYTEORDER == SDL_LIL_ENDIAN ? SDL_PIXELFORMAT_ABGR8888 : SDL_PIXELFORMAT_RGBA8888;
  if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return false;
  uint8_t* target = static_cast<uint8_t*>(surface->pixels) +
                    static_cast<ptrdiff_t>(y) * surface->pitch +
                    static_cast<ptrdiff_t>(x) * surface->format->BytesPerPixel;
  const int converted =
      SDL_ConvertPixels(width, height, source_format,
                        rgba + static_cast<ptrdiff_t>(y) * pitch + static_cast<ptrdiff_t>(x) * 4,
                        pitch, surface->format->format, target, surface->pitch);
  if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  if (converted != 0) return false;
  SDL_Rect changed{x, y, width, height};
  return SDL_UpdateWindowSurfaceRects(record->window, &changed, 1) == 0;
}

namespace {

// A record for an existing native (X11) window, with a GL context and drawing buffer on
// it, or, for a software window, with neither.
GLContextRecord* AttachWindowRecord(int widget, int flags, bool software) {
  failure_reason = "no window on a display to attach to";
  if (widget == 0 || !StartSDLVideo() || !SDLVideoOnDisplay()) return nullptr;
  failure_reason.clear();
  GLContextRecord* previous = current_record;
  SDL_SetHint(SDL_HINT_VIDEO_FOREIGN_WINDOW_OPENGL, software ? "0" : "1");
  if (!software) RequestPixelFormat(flags);
  SDL_Window* window =
      SDL_CreateWindowFrom(reinterpret_cast<void*>(static_cast<std::uintptr_t>(widget)));
  if (!window) {
    failure_reason = std::string("the window could not be taken over: ") + SDL_GetError();
    return nullptr;
  }
  auto* record = new GLContextRecord;
  record->kind = kKindAttached;
  record->flags = flags;
  record->window = window;
  record->window_id = SDL_GetWindowID(window);
  record->visible = 1;
  record->software = software ? 1 : 0;
  SDL_GetWindowSize(window, &record->width, &record->height);
  if (!software && !MakeContext(record)) {
    SDL_DestroyWindow(window);  // SDL's record only; the foreign window stays
    delete record;
    GLContextMakeCurrent(previous);
    return nullptr;
  }
  record->next = context_list;
  context_list = record;
  GLContextMakeCurrent(previous);
  return record;
}

}  // namespace

GLContextRecord* GLContextAttach(int widget, int flags) {
  return AttachWindowRecord(widget, flags, false);
}

GLContextRecord* GLContextAttachSoftware(int widget, int flags) {
  return AttachWindowRecord(widget, flags, true);
}

void GLContextSettings(GLContextRecord* record, int& width, int& height, int& depth,
                       int& hertz, int& flags) {
  if (record->kind == kKindAttached) MeasureAttachedWindow(record);
  width = record->width;
  height = record->height;
  depth = record->depth;
  hertz = record->hertz;
  flags = record->flags;
}

void GLContextSize(const GLContextRecord* record, int& width, int& height) {
  width = record->width;
  height = record->height;
}

int GLContextVisible(const GLContextRecord* record) { return record->visible; }

void GLContextMakeCurrent(GLContextRecord* record) {
  if (record == current_record) return;
  if (!record) {
    SDL_GL_MakeCurrent(nullptr, nullptr);
    current_record = nullptr;
    return;
  }
  if (record->software) {
    // Note: a software window has no GL context; any GL context made current before stays
    // bound to the thread but draws nowhere of ours.
    current_record = record;
    return;
  }
  if (SDL_GL_MakeCurrent(record->window, record->context) != 0) return;
  current_record = record;
  BindDrawingBuffer(record);
}

void GLContextClose(GLContextRecord* record) {
  if (!record) return;
  Unlink(record);
  SDLWindowClosing(record->window);
  GLContextRecord* keep = current_record == record ? nullptr : current_record;
  // The drawing buffer belongs to the record's context: free it there.
  if (record->context && SDL_GL_MakeCurrent(record->window, record->context) == 0) {
    current_record = record;
    FreeDrawingBuffer(record);
  }
  SDL_GL_MakeCurrent(nullptr, nullptr);
  current_record = nullptr;
  if (record->context) SDL_GL_DeleteContext(record->context);
  X11PresenterDestroy(record->presenter);
  record->presenter = nullptr;
  // Attached windows are not ours: only SDL's record of them goes.
  SDL_DestroyWindow(record->window);
  record->window = nullptr;
  record->context = nullptr;
  if (record_holds > 0) {
    record->closed = true;
    record->next = closed_while_held;
    closed_while_held = record;
  } else {
    delete record;
  }
  GLContextMakeCurrent(keep);
}

void GLContextHoldRecords() { ++record_holds; }

void GLContextReleaseRecords() {
  if (record_holds == 0 || --record_holds > 0) return;
  while (GLContextRecord* record = closed_while_held) {
    closed_while_held = record->next;
    delete record;
  }
}

void GLContextSetSwapInterval(int interval) { SDL_GL_SetSwapInterval(interval); }

void GLContextSwap(int sync) {
  GLContextRecord* record = current_record;
  if (!record || record->software) return;
  GLContextSetSwapInterval(sync ? 1 : 0);
  if (record->framebuffer) {
    // The copy is clipped by the scissor test: lift it for the copy only.
    GLboolean scissor = glIsEnabled(GL_SCISSOR_TEST);
    glDisable(GL_SCISSOR_TEST);
    fbo.BindFramebuffer(GL_READ_FRAMEBUFFER, record->framebuffer);
    fbo.BindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glDrawBuffer((record->flags & GRAPHICS_BACKBUFFER) ? GL_BACK : GL_FRONT);
    fbo.BlitFramebuffer(0, 0, record->width, record->height, 0, 0, record->width,
                        record->height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    SDL_GL_SwapWindow(record->window);
    BindDrawingBuffer(record);
    if (scissor) glEnable(GL_SCISSOR_TEST);
  } else {
    SDL_GL_SwapWindow(record->window);
  }
}

int GLContextEnumModes(int* table, int capacity) {
  if (!StartSDLVideo()) return 0;
  int count = 0;
  int modes = SDL_GetNumDisplayModes(0);
  for (int i = 0; i < modes && count < capacity; ++i) {
    SDL_DisplayMode mode{};
    if (SDL_GetDisplayMode(0, i, &mode) != 0) break;
    // Bits per pixel as stored: 32 for the usual 24-bit colour in 4 bytes.
    int bits = SDL_BYTESPERPIXEL(mode.format) * 8;
    if (bits < 16) continue;
    table[count * 4 + 0] = mode.w;
    table[count * 4 + 1] = mode.h;
    table[count * 4 + 2] = bits;
    table[count * 4 + 3] = mode.refresh_rate;
    ++count;
  }
  return count;
}

GLContextRecord* GLContextCurrent() { return current_record; }

const std::string& GLContextFailure() { return failure_reason; }

GLContextRecord* GLContextForWindowId(unsigned window_id) {
  if (window_id == 0) return nullptr;
  for (GLContextRecord* record = context_list; record; record = record->next) {
    if (record->window_id == window_id) return record;
  }
  return nullptr;
}

void GLWindowEvent(GLContextRecord* record, const SDL_Event& event) {
  if (record->closed || event.type != SDL_WINDOWEVENT) return;
  switch (event.window.event) {
    case SDL_WINDOWEVENT_FOCUS_LOST:
      // A full-screen window gives the display back and gets out of the way.
      if (record->kind == kKindFullScreen) {
        SDL_SetWindowFullscreen(record->window, 0);
        SDL_MinimizeWindow(record->window);
        GLContextSetSwapInterval(0);
      }
      break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      if (record->kind == kKindFullScreen &&
          !(SDL_GetWindowFlags(record->window) & SDL_WINDOW_FULLSCREEN)) {
        if (!SwitchDisplayMode(record)) throw TRuntimeError(kDisplayModeError);
      }
      break;
    default:
      // A close request leaves the window open: the AppTerminate event is all it does.
      break;
  }
}
