// X11 presentation of software windows: XPutImage from a small staging band, no round trip.
// State: none but the presenters handed out.
#include "graphics/platform/sdl/present.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <algorithm>  // for std::min, std::max
#include <vector>

#if defined(SDL_VIDEO_DRIVER_X11)
#include <X11/Xlib.h>
#include <X11/Xutil.h>  // for XInitImage

namespace {

// Bytes converted and sent at a time: a band this size (256 KiB) keeps the staging buffer
// small whatever the window's size, and is one request the server takes in a piece.
constexpr size_t kBandBytes = 256 * 1024;
constexpr int kBytesPerPixel = 4;

bool HostIsLittleEndian() { return SDL_BYTEORDER == SDL_LIL_ENDIAN; }

}  // namespace

struct X11Presenter {
  Display* display = nullptr;
  Window window = 0;
  GC gc = nullptr;
  Visual* visual = nullptr;
  int depth = 0;
  std::vector<uint32_t> band;
};

X11Presenter* X11PresenterCreate(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) {
    return nullptr;
  }
  XWindowAttributes attributes{};
  if (!XGetWindowAttributes(info.info.x11.display, info.info.x11.window, &attributes)) {
    return nullptr;
  }
  const Visual* visual = attributes.visual;
  // Note: one pixel is then one 32-bit value 0x??RRGGBB in any byte order, which Xlib
  // swaps for a server of the other order. A DirectColor visual (Xvfb's default) takes
  // the same values, through the ramp SDL gave the window's colormap, as SDL's own
  // surface sends them.
  if (!visual || (visual->c_class != TrueColor && visual->c_class != DirectColor) ||
      (attributes.depth != 24 && attributes.depth != 32) || visual->red_mask != 0xFF0000 ||
      visual->green_mask != 0x00FF00 || visual->blue_mask != 0x0000FF) {
    return nullptr;
  }
  GC gc = XCreateGC(info.info.x11.display, info.info.x11.window, 0, nullptr);
  if (!gc) return nullptr;
  auto* presenter = new X11Presenter;
  presenter->display = info.info.x11.display;
  presenter->window = info.info.x11.window;
  presenter->gc = gc;
  presenter->visual = attributes.visual;
  presenter->depth = attributes.depth;
  return presenter;
}

void X11PresenterDestroy(X11Presenter* presenter) {
  if (!presenter) return;
  XFreeGC(presenter->display, presenter->gc);
  delete presenter;
}

bool X11PresenterShow(X11Presenter* presenter, const uint8_t* rgba, int pitch, int x, int y,
                      int width, int height) {
  if (!presenter) return false;
  if (width <= 0 || height <= 0) return true;
  const int band_rows = static_cast<int>(
      std::max<size_t>(1, kBandBytes / (static_cast<size_t>(width) * kBytesPerPixel)));
  presenter->band.resize(static_cast<size_t>(width) * std::min(band_rows, height));
  // Note: a 32-bit visual may carry alpha in the top byte (a compositor's ARGB visual);
  // the buffer is opaque, so it is set there and ignored by a 24-bit one.
  constexpr uint32_t kOpaque = 0xFF000000u;
  for (int top = 0; top < height; top += band_rows) {
    const int rows = std::min(band_rows, height - top);
    uint32_t* out = presenter->band.data();
    for (int row = 0; row < rows; ++row) {
      const uint8_t* in = rgba + static_cast<ptrdiff_t>(y + top + row) * pitch +
                          static_cast<ptrdiff_t>(x) * kBytesPerPixel;
      for (int i = 0; i < width; ++i, in += kBytesPerPixel) {
        *out++ = kOpaque | uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | uint32_t{in[2]};
      }
    }
    XImage image{};
    image.width = width;
    image.height = rows;
    image.format = ZPixmap;
    image.data = reinterpret_cast<char*>(presenter->band.data());
    image.byte_order = HostIsLittleEndian() ? LSBFirst : MSBFirst;
    image.bitmap_unit = 32;
    image.bitmap_bit_order = image.byte_order;
    image.bitmap_pad = 32;
    image.depth = presenter->depth;
    image.bytes_per_line = width * kBytesPerPixel;
    image.bits_per_pixel = 32;
    image.red_mask = presenter->visual->red_mask;
    image.green_mask = presenter->visual->green_mask;
    image.blue_mask = presenter->visual->blue_mask;
    if (!XInitImage(&image)) return false;
    // Xlib has copied the band into its output (or sent it) when this returns, so the band
    // can be filled again at once.
    XPutImage(presenter->display, presenter->window, presenter->gc, &image, 0, 0, x, y + top,
              static_cast<unsigned>(width), static_cast<unsigned>(rows));
  }
  XFlush(presenter->display);
  return true;
}

#else  // no X11 in this SDL: every window keeps SDL's surface

struct X11Presenter {};

X11Presenter* X11PresenterCreate(SDL_Window*) { return nullptr; }
void X11PresenterDestroy(X11Presenter*) {}
bool X11PresenterShow(X11Presenter*, const uint8_t*, int, int, int, int, int) { return false; }

#endif
