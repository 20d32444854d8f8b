// GDI presentation of software windows: SetDIBitsToDevice from a small staging band.
// State: the staging band (main thread only).
#include "graphics/platform/win32/present.h"

#include <windows.h>

#include <algorithm>  // for std::min, std::max
#include <vector>

namespace {

// Bytes converted and sent at a time: the band stays small whatever the window's size.
constexpr size_t kBandBytes = 256 * 1024;
constexpr int kBytesPerPixel = 4;

std::vector<uint32_t> band;

}  // namespace

bool GDIShowPixels(HDC__* device_context, const uint8_t* rgba, int pitch, int x, int y,
                   int width, int height) {
  if (!device_context) return false;
  if (width <= 0 || height <= 0) return true;
  const int band_rows = static_cast<int>(
      std::max<size_t>(1, kBandBytes / (static_cast<size_t>(width) * kBytesPerPixel)));
  band.resize(static_cast<size_t>(width) * std::min(band_rows, height));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  for (int top = 0; top < height; top += band_rows) {
    const int rows = std::min(band_rows, height - top);
    uint32_t* out = band.data();
    for (int row = 0; row < rows; ++row) {
      const uint8_t* in = rgba + static_cast<ptrdiff_t>(y + top + row) * pitch +
                          static_cast<ptrdiff_t>(x) * kBytesPerPixel;
      for (int i = 0; i < width; ++i, in += kBytesPerPixel) {
        // A 32-bit DIB pixel is 0x00RRGGBB (bytes blue, green, red, unused).
        *out++ = uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | uint32_t{in[2]};
      }
    }
    // Note: a negative height makes the band top-down, row 0 first, like the buffer.
    info.bmiHeader.biHeight = -rows;
    if (SetDIBitsToDevice(device_context, x, y + top, static_cast<DWORD>(width),
                          static_cast<DWORD>(rows), 0, 0, 0, static_cast<UINT>(rows),
                          band.data(), &info, DIB_RGB_COLORS) == 0) {
      return false;
    }
  }
  GdiFlush();
  return true;
}
