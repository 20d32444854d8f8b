// Pixmaps: blocks of pixels in main memory in one of twelve formats, single-pixel access in
// packed ARGB, row conversion through RGBA, windows, copies, mirror/flip, key-out, the
// loader chain, and resizing.
// Depends on the runtime core and streams (loading). State: the format tables and the
// loader list, kept in pixmap.cpp.
#pragma once

#include <cstdint>
#include <memory>  // for std::enable_shared_from_this

#include "runtime/object.h"

constexpr int PIXFMT_NONE = 0;
constexpr int PIXFMT_GREY8 = 1;
constexpr int PIXFMT_ALPHA8 = 2;
constexpr int PIXFMT_BGR24 = 3;
constexpr int PIXFMT_RGB24 = 4;
constexpr int PIXFMT_BGRA32 = 5;
constexpr int PIXFMT_RGBA32 = 6;
constexpr int PIXFMT_RED8 = 7;
constexpr int PIXFMT_GREEN8 = 8;
constexpr int PIXFMT_BLUE8 = 9;
constexpr int PIXFMT_ALPHAMASK8 = 10;
constexpr int PIXFMT_INTENSITY8 = 11;
constexpr int PIXFMT_LUMINANCE8 = 12;

// The most bytes the pixels of one pixmap can take: sizes are 32-bit ints (2 GiB less one
// byte).
constexpr long long kPixmapByteLimit = 2147483647;

// Per-format tables, index 0-12.
extern const int BytesPerPixel[13];
extern const int AlphaBitsPerPixel[13];
extern const int RedBitsPerPixel[13];
extern const int GreenBitsPerPixel[13];
extern const int BlueBitsPerPixel[13];

class TStream;

// A pixmap is always held by Ref; the mixin lets Window hand its children a counted
// reference to the parent.
class TPixmap : public Object, public std::enable_shared_from_this<TPixmap> {
 public:
  ~TPixmap() override;
  virtual uint8_t* PixelPtr(int x, int y);
  virtual Ref<TPixmap> Window(int x, int y, int width, int height);
  virtual Ref<TPixmap> Copy();
  virtual void Paste(const Ref<TPixmap>& source, int x, int y);
  virtual Ref<TPixmap> Convert(int format);
  virtual uint32_t ReadPixel(int x, int y);
  virtual void WritePixel(int x, int y, uint32_t argb);
  // Note: raises TOutOfMemoryError (a std::bad_alloc) when the pixel memory cannot be had,
  // and TRuntimeError for a negative size, an align below 1, an unknown format, or a size
  // beyond 2^31 bytes. A pixmap with no pixels (width or height 0) is valid and has null
  // pixels.
  static Ref<TPixmap> Create(int width, int height, int format, int align = 4);
  static Ref<TPixmap> CreateStatic(void* pixels, int width, int height, int pitch, int format);
  virtual void ClearPixels(uint32_t argb);

  uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int pitch = 0;
  int format = 0;
  int capacity = 0;  // bytes owned at pixels; -1 when the memory is not owned
  Ref<Object> _source;  // kept alive while this pixmap views its memory
};

// One link of the loader chain; constructing one puts it at the head of the chain.
class TPixmapLoader : public Object {
 public:
  TPixmapLoader();
  // Leaves the chain, so a loader that goes away is never tried again.
  ~TPixmapLoader() override;
  virtual Ref<TPixmap> LoadPixmap(const Ref<TStream>& stream) = 0;
  TPixmapLoader* _succ = nullptr;
};

// Row routines: one format dispatch per row.
void ExpandRowToRGBA(const uint8_t* source, uint8_t* destination, int sourceFormat, int count);
void ReduceRowFromRGBA(const uint8_t* source, uint8_t* destination, int destinationFormat,
                       int count);
void CopyPixelRow(const uint8_t* source, uint8_t* destination, int format, int count);
void ConvertPixelRow(const uint8_t* source, int sourceFormat, uint8_t* destination,
                     int destinationFormat, int count);

Ref<TPixmap> PixmapCreate(int width, int height, int format, int align = 4);
// True when a pixmap of this size (not negative) and format, rows aligned to `align`
// bytes, stays within kPixmapByteLimit.
bool PixmapFits(long long width, long long height, int format, int align = 4);
Ref<TPixmap> PixmapCreateStatic(void* pixels, int width, int height, int pitch, int format);
Ref<TPixmap> PixmapCopy(const Ref<TPixmap>& pixmap);
Ref<TPixmap> PixmapConvert(const Ref<TPixmap>& pixmap, int format);
int PixmapWidth(const Ref<TPixmap>& pixmap);
int PixmapHeight(const Ref<TPixmap>& pixmap);
int PixmapPitch(const Ref<TPixmap>& pixmap);
int PixmapFormat(const Ref<TPixmap>& pixmap);
uint8_t* PixmapPixelPtr(const Ref<TPixmap>& pixmap, int x, int y);
Ref<TPixmap> PixmapWindow(const Ref<TPixmap>& pixmap, int x, int y, int width, int height);
uint32_t PixmapReadPixel(const Ref<TPixmap>& pixmap, int x, int y);
void PixmapWritePixel(const Ref<TPixmap>& pixmap, int x, int y, uint32_t argb);
void PixmapClear(const Ref<TPixmap>& pixmap, uint32_t argb);
Ref<TPixmap> PixmapMirror(const Ref<TPixmap>& pixmap);
Ref<TPixmap> PixmapFlip(const Ref<TPixmap>& pixmap);
Ref<TPixmap> PixmapResize(const Ref<TPixmap>& pixmap, int width, int height);
Ref<TPixmap> PixmapKeyOut(const Ref<TPixmap>& pixmap, int red, int green, int blue);
Ref<TPixmap> PixmapLoad(const Ref<Object>& url);
Ref<TPixmap> PixmapLoad(const String& url);

// Starts the pixmap module (format tables). Runs once.
void StartPixmap();
