// Pixmaps: the format tables, the TPixmap class, the row conversion routines that every
// format change goes through (RGBA32 is the hub), mirror/flip/key-out and the loader chain.
// Depends on the runtime core and streams (PixmapLoad). State: the head of the loader chain.
#include "pixmap/pixmap.h"

#include <cstring>
#include <new>  // for std::align_val_t, std::nothrow
#include <string>
#include <vector>

#include "stream/stream.h"

// ---- constants -------------------------------------------------------------------------

const int BytesPerPixel[13] = {0, 1, 1, 3, 3, 4, 4, 1, 1, 1, 1, 1, 1};
const int AlphaBitsPerPixel[13] = {0, 0, 8, 0, 0, 8, 8, 0, 0, 0, 8, 0, 0};
const int RedBitsPerPixel[13] = {0, 0, 0, 8, 8, 8, 8, 8, 0, 0, 0, 0, 0};
const int GreenBitsPerPixel[13] = {0, 0, 0, 8, 8, 8, 8, 0, 8, 0, 0, 0, 0};
const int BlueBitsPerPixel[13] = {0, 0, 0, 8, 8, 8, 8, 0, 0, 8, 0, 0, 0};

namespace {

// Pixel memory starts on this boundary so that row copies and SIMD-minded callers can rely
// on it.
constexpr std::size_t kPixelAlignment = 16;

// Alpha given to formats 7, 8, 9 and 12 when they expand to RGBA. They carry no alpha, so
// they are opaque, like grey and the 24-bit formats.
constexpr uint8_t kOpaque = 255;

// ---- module state ----------------------------------------------------------------------

bool started = false;
TPixmapLoader* loaderHead = nullptr;  // newest loader first

// ---- internal helpers ------------------------------------------------------------------

bool ValidFormat(int format) { return format >= 0 && format <= 12; }

std::string SizeText(int width, int height) {
  return "(" + std::to_string(width) + " x " + std::to_string(height) + ")";
}

// Bytes from one row to the next: the packed row rounded up to a multiple of align.
long long PitchOf(long long width, int format, int align) {
  long long packed = width * BytesPerPixel[format];
  return (packed + align - 1) / align * align;
}

uint8_t* AllocatePixels(std::size_t size) {
  return static_cast<uint8_t*>(
      ::operator new(size, std::align_val_t{kPixelAlignment}, std::nothrow));
}

void FreePixels(uint8_t* pixels) { ::operator delete(pixels, std::align_val_t{kPixelAlignment}); }

// Scratch RGBA run for conversions between two non-RGBA formats; grows, never shrinks, so a
// steady stream of rows allocates once.
uint8_t* ScratchRun(int count) {
  thread_local std::vector<uint8_t> run;
  std::size_t needed = static_cast<std::size_t>(count) * 4;
  if (run.size() < needed) run.resize(needed);
  return run.data();
}

// Bytes of one pixel of the given format holding the packed colour, as WritePixel stores
// it. Returns the byte count, 0 for formats without single-pixel access.
int EncodePixel(uint32_t argb, int format, uint8_t* out) {
  uint8_t a = argb >> 24, r = argb >> 16, g = argb >> 8, b = argb;
  switch (format) {
    case PIXFMT_GREY8:
      out[0] = static_cast<uint8_t>((r + g + b) / 3);
      return 1;
    case PIXFMT_ALPHA8:
      out[0] = a;
      return 1;
    case PIXFMT_BGR24:
      out[0] = b, out[1] = g, out[2] = r;
      return 3;
    case PIXFMT_RGB24:
      out[0] = r, out[1] = g, out[2] = b;
      return 3;
    case PIXFMT_BGRA32:
      out[0] = b, out[1] = g, out[2] = r, out[3] = a;
      return 4;
    case PIXFMT_RGBA32:
      out[0] = r, out[1] = g, out[2] = b, out[3] = a;
      return 4;
    default:
      return 0;
  }
}

}  // namespace

// ---- row routines ----------------------------------------------------------------------

// Writes red, green, blue, alpha for each of count source pixels.
void ExpandRowToRGBA(const uint8_t* s, uint8_t* d, int sourceFormat, int count) {
  switch (sourceFormat) {
    case PIXFMT_GREY8:
      for (int i = 0; i < count; ++i, d += 4) d[0] = d[1] = d[2] = s[i], d[3] = kOpaque;
      break;
    case PIXFMT_ALPHA8:
      for (int i = 0; i < count; ++i, d += 4) d[0] = d[1] = d[2] = 255, d[3] = s[i];
      break;
    case PIXFMT_BGR24:
      for (int i = 0; i < count; ++i, s += 3, d += 4)
        d[0] = s[2], d[1] = s[1], d[2] = s[0], d[3] = kOpaque;
      break;
    case PIXFMT_RGB24:
      for (int i = 0; i < count; ++i, s += 3, d += 4)
        d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = kOpaque;
      break;
    case PIXFMT_BGRA32:
      for (int i = 0; i < count; ++i, s += 4, d += 4)
        d[0] = s[2], d[1] = s[1], d[2] = s[0], d[3] = s[3];
      break;
    case PIXFMT_RGBA32:
      std::memmove(d, s, static_cast<std::size_t>(count) * 4);
      break;
    case PIXFMT_RED8:
      for (int i = 0; i < count; ++i, d += 4) d[0] = s[i], d[1] = d[2] = 0, d[3] = kOpaque;
      break;
    case PIXFMT_GREEN8:
      for (int i = 0; i < count; ++i, d += 4) d[1] = s[i], d[0] = d[2] = 0, d[3] = kOpaque;
      break;
    case PIXFMT_BLUE8:
      for (int i = 0; i < count; ++i, d += 4) d[2] = s[i], d[0] = d[1] = 0, d[3] = kOpaque;
      break;
    case PIXFMT_ALPHAMASK8:
      for (int i = 0; i < count; ++i, d += 4) d[0] = d[1] = d[2] = 0, d[3] = s[i];
      break;
    case PIXFMT_INTENSITY8:
      for (int i = 0; i < count; ++i, d += 4) d[0] = d[1] = d[2] = d[3] = s[i];
      break;
    case PIXFMT_LUMINANCE8:
      for (int i = 0; i < count; ++i, d += 4) d[0] = d[1] = d[2] = s[i], d[3] = kOpaque;
      break;
    default:
      // Note: a pixmap without a format has no pixels to give; it expands to transparent
      // black so that callers never read uninitialised scratch memory.
      std::memset(d, 0, static_cast<std::size_t>(count) * 4);
      break;
  }
}

// Stores count RGBA pixels in the destination format.
void ReduceRowFromRGBA(const uint8_t* s, uint8_t* d, int destinationFormat, int count) {
  switch (destinationFormat) {
    case PIXFMT_GREY8:
    case PIXFMT_LUMINANCE8:
      for (int i = 0; i < count; ++i, s += 4) d[i] = static_cast<uint8_t>((s[0] + s[1] + s[2]) / 3);
      break;
    case PIXFMT_ALPHA8:
    case PIXFMT_ALPHAMASK8:
      for (int i = 0; i < count; ++i, s += 4) d[i] = s[3];
      break;
    case PIXFMT_BGR24:
      for (int i = 0; i < count; ++i, s += 4, d += 3) d[0] = s[2], d[1] = s[1], d[2] = s[0];
      break;
    case PIXFMT_RGB24:
      for (int i = 0; i < count; ++i, s += 4, d += 3) d[0] = s[0], d[1] = s[1], d[2] = s[2];
      break;
    case PIXFMT_BGRA32:
      for (int i = 0; i < count; ++i, s += 4, d += 4)
        d[0] = s[2], d[1] = s[1], d[2] = s[0], d[3] = s[3];
      break;
    case PIXFMT_RGBA32:
      std::memmove(d, s, static_cast<std::size_t>(count) * 4);
      break;
    case PIXFMT_RED8:
      for (int i = 0; i < count; ++i, s += 4) d[i] = s[0];
      break;
    case PIXFMT_GREEN8:
      for (int i = 0; i < count; ++i, s += 4) d[i] = s[1];
      break;
    case PIXFMT_BLUE8:
      for (int i = 0; i < count; ++i, s += 4) d[i] = s[2];
      break;
    case PIXFMT_INTENSITY8:
      for (int i = 0; i < count; ++i, s += 4)
        d[i] = static_cast<uint8_t>((s[0] + s[1] + s[2] + s[3]) / 4);
      break;
    default:
      break;  // no format, no bytes
  }
}

// Copies count pixels of one format. Note: memmove, because Paste may copy a window of a
// pixmap onto an overlapping part of the same pixmap.
void CopyPixelRow(const uint8_t* source, uint8_t* destination, int format, int count) {
  if (count <= 0) return;  // an empty pixmap's rows may start at a null address
  std::memmove(destination, source, static_cast<std::size_t>(count) * BytesPerPixel[format]);
}

// Converts count pixels between two formats, through RGBA when neither end is RGBA.
void ConvertPixelRow(const uint8_t* source, int sourceFormat, uint8_t* destination,
                     int destinationFormat, int count) {
  if (count <= 0) return;
  if (sourceFormat == destinationFormat) {
    CopyPixelRow(source, destination, sourceFormat, count);
  } else if (sourceFormat == PIXFMT_RGBA32) {
    ReduceRowFromRGBA(source, destination, destinationFormat, count);
  } else if (destinationFormat == PIXFMT_RGBA32) {
    ExpandRowToRGBA(source, destination, sourceFormat, count);
  } else {
    uint8_t* run = ScratchRun(count);
    ExpandRowToRGBA(source, run, sourceFormat, count);
    ReduceRowFromRGBA(run, destination, destinationFormat, count);
  }
}

// ---- TPixmap ---------------------------------------------------------------------------

TPixmap::~TPixmap() {
  if (capacity >= 0 && pixels) FreePixels(pixels);
}

uint8_t* TPixmap::PixelPtr(int x, int y) {
  return pixels + static_cast<std::ptrdiff_t>(y) * pitch +
         static_cast<std::ptrdiff_t>(x) * BytesPerPixel[format];
}

Ref<TPixmap> TPixmap::Window(int x, int y, int width, int height) {
  Ref<TPixmap> window = CreateStatic(PixelPtr(x, y), width, height, pitch, format);
  // Note: a pixmap not held by any Ref has no counted reference to give; its window then
  // simply does not keep it alive.
  window->_source = weak_from_this().lock();
  return window;
}

Ref<TPixmap> TPixmap::Copy() {
  Ref<TPixmap> copy = Create(width, height, format, 4);
  for (int y = 0; y < height; ++y) CopyPixelRow(PixelPtr(0, y), copy->PixelPtr(0, y), format, width);
  return copy;
}

void TPixmap::Paste(const Ref<TPixmap>& source, int x, int y) {
  for (int i = 0; i < source->height; ++i)
    ConvertPixelRow(source->PixelPtr(0, i), source->format, PixelPtr(x, y + i), format,
                    source->width);
}

Ref<TPixmap> TPixmap::Convert(int toFormat) {
  Ref<TPixmap> result = Create(width, height, toFormat, 4);
  for (int y = 0; y < height; ++y)
    ConvertPixelRow(PixelPtr(0, y), format, result->PixelPtr(0, y), toFormat, width);
  return result;
}

uint32_t TPixmap::ReadPixel(int x, int y) {
  const uint8_t* p = PixelPtr(x, y);
  auto pack = [](uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return (a << 24) | (r << 16) | (g << 8) | b;
  };
  switch (format) {
    case PIXFMT_GREY8:
      return pack(255, p[0], p[0], p[0]);
    case PIXFMT_ALPHA8:
      return pack(p[0], 255, 255, 255);
    case PIXFMT_BGR24:
      return pack(255, p[2], p[1], p[0]);
    case PIXFMT_RGB24:
      return pack(255, p[0], p[1], p[2]);
    case PIXFMT_BGRA32:
      return pack(p[3], p[2], p[1], p[0]);
    case PIXFMT_RGBA32:
      return pack(p[3], p[0], p[1], p[2]);
    default:
      return 0;
  }
}

void TPixmap::WritePixel(int x, int y, uint32_t argb) {
  uint8_t bytes[4];
  int n = EncodePixel(argb, format, bytes);
  if (n > 0) std::memcpy(PixelPtr(x, y), bytes, n);
}

Ref<TPixmap> TPixmap::Create(int width, int height, int format, int align) {
  if (!ValidFormat(format)) throw TRuntimeError("Invalid pixel format " + std::to_string(format));
  if (width < 0 || height < 0) throw TRuntimeError("Invalid pixmap size " + SizeText(width, height));
  if (align < 1) throw TRuntimeError("Invalid pixmap row alignment " + std::to_string(align));
  // Note: sizes are worked out in 64 bits so that a huge request fails cleanly instead of
  // wrapping round to a small block that later writes would overrun.
  if (!PixmapFits(width, height, format, align))
    throw TRuntimeError("Unable to allocate pixmap memory " + SizeText(width, height));
  long long pitch = PitchOf(width, format, align);
  long long capacity = pitch * height;

  auto pixmap = std::make_shared<TPixmap>();
  if (capacity > 0) {
    pixmap->pixels = AllocatePixels(static_cast<std::size_t>(capacity));
    if (!pixmap->pixels)
      throw TOutOfMemoryError("Unable to allocate pixmap memory " + SizeText(width, height));
  }
  pixmap->width = width;
  pixmap->height = height;
  pixmap->pitch = static_cast<int>(pitch);
  pixmap->format = format;
  pixmap->capacity = static_cast<int>(capacity);
  return pixmap;
}

Ref<TPixmap> TPixmap::CreateStatic(void* pixels, int width, int height, int pitch, int format) {
  if (!ValidFormat(format)) throw TRuntimeError("Invalid pixel format " + std::to_string(format));
  auto pixmap = std::make_shared<TPixmap>();
  pixmap->pixels = static_cast<uint8_t*>(pixels);
  pixmap->width = width;
  pixmap->height = height;
  pixmap->pitch = pitch;
  pixmap->format = format;
  pixmap->capacity = -1;
  return pixmap;
}

void TPixmap::ClearPixels(uint32_t argb) {
  if (width <= 0 || height <= 0) return;
  std::size_t rowBytes = static_cast<std::size_t>(width) * BytesPerPixel[format];
  if (rowBytes == 0) return;  // no format: no bytes, and maybe no memory at all
  if (argb == 0) {
    if (static_cast<std::size_t>(pitch) == rowBytes) {
      std::memset(pixels, 0, rowBytes * height);
    } else {
      // Note: the padding after each row may belong to someone else (a window's parent).
      for (int y = 0; y < height; ++y) std::memset(PixelPtr(0, y), 0, rowBytes);
    }
    return;
  }
  uint8_t bytes[4];
  int n = EncodePixel(argb, format, bytes);
  if (n == 0) return;  // formats without single-pixel access keep their bytes
  // Fill the first row pixel by pixel, then copy it down.
  uint8_t* first = PixelPtr(0, 0);
  for (int x = 0; x < width; ++x) std::memcpy(first + static_cast<std::size_t>(x) * n, bytes, n);
  for (int y = 1; y < height; ++y) std::memcpy(PixelPtr(0, y), first, rowBytes);
}

// ---- TPixmapLoader ---------------------------------------------------------------------

TPixmapLoader::TPixmapLoader() {
  _succ = loaderHead;
  loaderHead = this;
}

TPixmapLoader::~TPixmapLoader() {
  for (TPixmapLoader** link = &loaderHead; *link; link = &(*link)->_succ) {
    if (*link == this) {
      *link = _succ;
      break;
    }
  }
}

// ---- module functions ------------------------------------------------------------------

Ref<TPixmap> PixmapCreate(int width, int height, int format, int align) {
  return TPixmap::Create(width, height, format, align);
}
Ref<TPixmap> PixmapCreateStatic(void* pixels, int width, int height, int pitch, int format) {
  return TPixmap::CreateStatic(pixels, width, height, pitch, format);
}
bool PixmapFits(long long width, long long height, int format, int align) {
  // Note: worked out in 64 bits, and each factor checked first, so that a huge request is
  // refused instead of wrapping round to a small size.
  if (width < 0 || height < 0 || !ValidFormat(format) || align < 1) return false;
  if (width > kPixmapByteLimit || height > kPixmapByteLimit) return false;
  const long long pitch = PitchOf(width, format, align);
  return pitch <= kPixmapByteLimit && (height == 0 || pitch <= kPixmapByteLimit / height);
}
Ref<TPixmap> PixmapCopy(const Ref<TPixmap>& pixmap) { return pixmap->Copy(); }
Ref<TPixmap> PixmapConvert(const Ref<TPixmap>& pixmap, int format) { return pixmap->Convert(format); }
int PixmapWidth(const Ref<TPixmap>& pixmap) { return pixmap->width; }
int PixmapHeight(const Ref<TPixmap>& pixmap) { return pixmap->height; }
int PixmapPitch(const Ref<TPixmap>& pixmap) { return pixmap->pitch; }
int PixmapFormat(const Ref<TPixmap>& pixmap) { return pixmap->format; }
uint8_t* PixmapPixelPtr(const Ref<TPixmap>& pixmap, int x, int y) { return pixmap->PixelPtr(x, y); }
Ref<TPixmap> PixmapWindow(const Ref<TPixmap>& pixmap, int x, int y, int width, int height) {
  return pixmap->Window(x, y, width, height);
}
uint32_t PixmapReadPixel(const Ref<TPixmap>& pixmap, int x, int y) { return pixmap->ReadPixel(x, y); }
void PixmapWritePixel(const Ref<TPixmap>& pixmap, int x, int y, uint32_t argb) {
  pixmap->WritePixel(x, y, argb);
}
void PixmapClear(const Ref<TPixmap>& pixmap, uint32_t argb) { pixmap->ClearPixels(argb); }

// New pixmap with the columns in reverse order.
// Note: built row by row rather than by pasting one-pixel-wide windows; the bytes are the
// same and it costs one pass instead of a row conversion per pixel.
Ref<TPixmap> PixmapMirror(const Ref<TPixmap>& pixmap) {
  Ref<TPixmap> result = TPixmap::Create(pixmap->width, pixmap->height, pixmap->format, 4);
  int bpp = BytesPerPixel[pixmap->format];
  int w = pixmap->width;
  for (int y = 0; y < pixmap->height; ++y) {
    const uint8_t* s = pixmap->PixelPtr(0, y);
    uint8_t* d = result->PixelPtr(0, y);
    for (int x = 0; x < w; ++x)
      std::memcpy(d + static_cast<std::size_t>(x) * bpp,
                  s + static_cast<std::size_t>(w - 1 - x) * bpp, bpp);
  }
  return result;
}

// New pixmap with the rows in reverse order (turns a bottom-up read-back into top-down).
Ref<TPixmap> PixmapFlip(const Ref<TPixmap>& pixmap) {
  Ref<TPixmap> result = TPixmap::Create(pixmap->width, pixmap->height, pixmap->format, 4);
  int h = pixmap->height;
  for (int y = 0; y < h; ++y)
    CopyPixelRow(pixmap->PixelPtr(0, h - 1 - y), result->PixelPtr(0, y), pixmap->format,
                 pixmap->width);
  return result;
}

// New RGBA pixmap in which pixels of the key colour are transparent. A keyed pixel takes
// the average colour of its unkeyed neighbours, so that filtering the result later does
// not bleed the key colour into the edges.
Ref<TPixmap> PixmapKeyOut(const Ref<TPixmap>& pixmap, int red, int green, int blue) {
  Ref<TPixmap> source =
      pixmap->format == PIXFMT_RGBA32 ? pixmap : pixmap->Convert(PIXFMT_RGBA32);
  int w = source->width, h = source->height;
  Ref<TPixmap> result = TPixmap::Create(w, h, PIXFMT_RGBA32, 4);
  auto isKey = [&](const uint8_t* p) { return p[0] == red && p[1] == green && p[2] == blue; };
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = source->PixelPtr(0, y);
    uint8_t* d = result->PixelPtr(0, y);
    for (int x = 0; x < w; ++x, s += 4, d += 4) {
      if (!isKey(s)) {
        d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = 255;
        continue;
      }
      int sum[3] = {0, 0, 0}, count = 0;
      for (int ny = y - 1; ny <= y + 1; ++ny) {
        if (ny < 0 || ny >= h) continue;
        for (int nx = x - 1; nx <= x + 1; ++nx) {
          if (nx < 0 || nx >= w) continue;
          const uint8_t* n = source->PixelPtr(nx, ny);
          if (isKey(n)) continue;
          sum[0] += n[0], sum[1] += n[1], sum[2] += n[2];
          ++count;
        }
      }
      if (count == 0) {
        d[0] = d[1] = d[2] = 0;
      } else {
        d[0] = sum[0] / count, d[1] = sum[1] / count, d[2] = sum[2] / count;
      }
      d[3] = 0;
    }
  }
  return result;
}

// Opens the URL and offers the stream to each loader, newest first; null when none can
// read it.
Ref<TPixmap> PixmapLoad(const Ref<Object>& url) {
  Ref<TStream> stream = OpenUrlForReading(url);
  if (!stream) return nullptr;
  struct CloseOnExit {
    TStream* stream;
    ~CloseOnExit() {
      try {
        stream->Close();
      } catch (...) {
        // a loader's outcome matters more than a failed close of a read-only stream
      }
    }
  } closer{stream.get()};

  int64_t start = stream->Pos();
  if (start == -1) return nullptr;  // every loader needs to rewind
  for (TPixmapLoader* loader = loaderHead; loader; loader = loader->_succ) {
    stream->Seek(start);
    try {
      Ref<TPixmap> pixmap = loader->LoadPixmap(stream);
      if (pixmap) return pixmap;
    } catch (const TStreamException&) {
      // a loader that ran out of data simply could not read this stream
    }
  }
  return nullptr;
}

Ref<TPixmap> PixmapLoad(const String& url) {
  return PixmapLoad(std::static_pointer_cast<Object>(std::make_shared<TStringObject>(url)));
}

void StartPixmap() {
  if (started) return;
  started = true;
  StartStream();
}
