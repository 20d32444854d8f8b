// PNG files through libpng: the writer (PixmapSavePNG) and the reader of the loader chain.
// The writer has libpng write the header and the chunks; the image data in them is filtered
// and compressed by several threads (imagedata.h), since one deflate stream on one core
// was a third of a large sheet's time.
// Depends on pixmaps, streams, libpng, zlib. State: the stream slot of the save or load in
// progress, the exception a stream callback caught, the byte count of the current save, the
// number of compressing threads, and the one registered reader.
//
// libpng reports errors with longjmp. No C++ exception may unwind through its frames, and
// no longjmp may skip a C++ destructor, so: the stream callbacks catch everything, store it,
// and png_error() out once their try block is over; the functions that arm setjmp hold
// only plain pointers; the stored exception is raised again after libpng has returned and
// everything is cleaned up.
#include "pixmap/png/png.h"

#include <png.h>

#include <algorithm>  // for std::min
#include <cerrno>
#include <csetjmp>
#include <exception>
#include <string>
#include <vector>

#include "pixmap/png/imagedata.h"
#include "stream/replace.h"
#include "stream/stream.h"

namespace {

// ---- constants -------------------------------------------------------------------------

// The text every libpng error is reported with.
constexpr const char* kPngError = "PNG ERROR";
constexpr int kSignatureBytes = 8;
// The most image data one IDAT chunk carries.
constexpr std::size_t kIdatBytes = 65536;

// ---- module state ----------------------------------------------------------------------

bool started = false;
Ref<TStream> slot;                  // stream of the save or load in progress
std::exception_ptr pending;         // what a stream callback caught
int64_t bytesWritten = 0;           // bytes the current save handed to its stream
Ref<TPixmapLoaderPNG> reader;       // the registered reader, alive for the program's life
int compressThreads = 0;            // see SetPngThreads

// ---- libpng callbacks ------------------------------------------------------------------

[[noreturn]] void ErrorHandler(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void WriteCallback(png_structp png, png_bytep data, png_size_t length) {
  bool failed = false;
  try {
    slot->WriteBytes(data, static_cast<int64_t>(length));
    bytesWritten += static_cast<int64_t>(length);
  } catch (...) {
    pending = std::current_exception();
    failed = true;
  }
  // Note: outside the catch block, so the longjmp leaves no exception half handled.
  if (failed) png_error(png, kPngError);
}

void FlushCallback(png_structp png) {
  bool failed = false;
  try {
    slot->Flush();
  } catch (...) {
    pending = std::current_exception();
    failed = true;
  }
  if (failed) png_error(png, kPngError);
}

void ReadCallback(png_structp png, png_bytep data, png_size_t length) {
  bool failed = false;
  try {
    slot->ReadBytes(data, static_cast<int64_t>(length));
  } catch (...) {
    pending = std::current_exception();
    failed = true;
  }
  if (failed) png_error(png, kPngError);
}

// ---- libpng drivers (setjmp frames: plain data only) -----------------------------------

struct WriteJob {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~WriteJob() {
    if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
  }
};

// Writes the signature and the header onto the slot's stream. True when libpng accepted
// the image's size and wrote them.
bool BeginPng(WriteJob* job, png_uint_32 width, png_uint_32 height, int colorType) {
  job->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorHandler, nullptr);
  if (!job->png) return false;
  job->info = png_create_info_struct(job->png);
  if (!job->info) return false;
  if (setjmp(png_jmpbuf(job->png))) return false;
  png_set_write_fn(job->png, nullptr, WriteCallback, FlushCallback);
  png_set_IHDR(job->png, job->info, width, height, 8, colorType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(job->png, job->info);
  return true;
}

struct DataPiece {
  const uint8_t* data;
  std::size_t size;
};

// Writes the image data (a zlib stream in pieces) in IDAT chunks, then the end chunk. True
// when libpng finished without error.
bool FinishPng(WriteJob* job, const DataPiece* pieces, std::size_t count) {
  static const png_byte kIdat[5] = "IDAT";
  static const png_byte kIend[5] = "IEND";
  if (setjmp(png_jmpbuf(job->png))) return false;
  for (std::size_t k = 0; k < count; ++k) {
    const DataPiece& piece = pieces[k];
    for (std::size_t at = 0; at < piece.size; at += kIdatBytes) {
      png_write_chunk(job->png, kIdat, piece.data + at, std::min(kIdatBytes, piece.size - at));
    }
  }
  png_write_chunk(job->png, kIend, nullptr, 0);
  return true;
}

struct ReadJob {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~ReadJob() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  }
};

// Decodes the image from the slot's stream (signature already consumed) into job's
// structures. True when libpng finished without error; the structures stay alive for the
// caller (job's destructor releases them).
bool DecodePng(ReadJob* job) {
  job->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorHandler, nullptr);
  if (!job->png) return false;
  job->info = png_create_info_struct(job->png);
  if (!job->info) return false;
  if (setjmp(png_jmpbuf(job->png))) return false;
  png_set_read_fn(job->png, nullptr, ReadCallback);
  png_set_sig_bytes(job->png, kSignatureBytes);
  png_read_png(job->png, job->info, PNG_TRANSFORM_STRIP_16 | PNG_TRANSFORM_EXPAND, nullptr);
  return true;
}

// ---- internal helpers ------------------------------------------------------------------

// A plain path is text without a protocol: it names a file we write ourselves.
bool IsPlainPath(const String& url) { return !url.empty() && url.find(u"::") == String::npos; }

// Encodes the pixmap onto an opened stream and closes it. True on success, false for a
// libpng error; a stream failure is raised after the stream is closed and the slot cleared.
bool WriteToStream(const Ref<TPixmap>& pixmap, const Ref<TStream>& stream, int level) {
  slot = stream;
  pending = nullptr;
  bytesWritten = 0;
  bool ok = false;
  try {
    Ref<TPixmap> image = pixmap;
    int colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    switch (pixmap->format) {
      case PIXFMT_GREY8:
        colorType = PNG_COLOR_TYPE_GRAY;
        break;
      case PIXFMT_RGB24:
      case PIXFMT_BGR24:
        colorType = PNG_COLOR_TYPE_RGB;
        break;
      case PIXFMT_RGBA32:
      case PIXFMT_BGRA32:
        break;
      default:
        image = pixmap->Convert(PIXFMT_RGBA32);
        break;
    }
    WriteJob job;
    if (BeginPng(&job, static_cast<png_uint_32>(image->width),
                 static_cast<png_uint_32>(image->height), colorType)) {
      // Each row from its own pitch-aligned start: the padding after a row never goes out.
      std::vector<const uint8_t*> rows(static_cast<std::size_t>(image->height));
      for (int y = 0; y < image->height; ++y) rows[y] = image->PixelPtr(0, y);
      TPngRows source{rows.data(), image->width, image->height, image->format};
      const std::vector<std::vector<uint8_t>> data =
          CompressPngRows(source, level, compressThreads);
      std::vector<DataPiece> pieces;
      for (const std::vector<uint8_t>& piece : data) pieces.push_back({piece.data(), piece.size()});
      ok = FinishPng(&job, pieces.data(), pieces.size());
    }
  } catch (...) {
    if (!pending) pending = std::current_exception();
  }
  try {
    stream->Close();
  } catch (...) {
    if (!pending) pending = std::current_exception();
  }
  slot.reset();
  if (pending) {
    std::exception_ptr failure = pending;
    pending = nullptr;
    std::rethrow_exception(failure);
  }
  return ok;
}

int SaveToPath(const Ref<TPixmap>& pixmap, const String& target, int level) {
  TFileReplacement replacement;
  if (!replacement.Begin(target)) return 0;  // no such folder, no permission: nothing made
  bool ok = false;
  try {
    ok = WriteToStream(pixmap, replacement.stream, level);
  } catch (...) {
    replacement.Abandon();
    if (replacement.error != 0) errno = replacement.error;
    throw;
  }
  if (!ok) {
    replacement.Abandon();
    // Note: libpng gives up when a write fails; the write's reason is the one to tell.
    errno = replacement.error;
    return 0;
  }
  return replacement.Commit(bytesWritten) ? 1 : 0;
}

int ClampCompression(int compression) {
  if (compression < 0) return 0;
  if (compression > 9) return 9;
  return compression;
}

bool IsEmpty(const Ref<TPixmap>& pixmap) {
  return !pixmap || pixmap->width <= 0 || pixmap->height <= 0;
}

}  // namespace

// Writes the pixmap as a PNG file at a path, a protocol URL ("protocol::path").
int PixmapSavePNG(const Ref<TPixmap>& pixmap, const String& url, int compression) {
  if (IsEmpty(pixmap)) return 0;
  int level = ClampCompression(compression);
  if (IsPlainPath(url)) return SaveToPath(pixmap, url, level);
  Ref<TStream> stream = OpenUrlForWriting(url);
  if (!stream) return 0;
  return WriteToStream(pixmap, stream, level) ? 1 : 0;
}

// Writes the pixmap as PNG to a URL object: a path text, or a stream written directly.
int PixmapSavePNG(const Ref<TPixmap>& pixmap, const Ref<Object>& url, int compression) {
  if (auto text = std::dynamic_pointer_cast<TStringObject>(url))
    return PixmapSavePNG(pixmap, text->text, compression);
  if (IsEmpty(pixmap)) return 0;
  int level = ClampCompression(compression);
  Ref<TStream> stream = OpenUrlForWriting(url);
  if (!stream) return 0;
  return WriteToStream(pixmap, stream, level) ? 1 : 0;
}

// Reads a PNG image from the stream; null when it is not one this reader understands.
Ref<TPixmap> LoadPixmapPNG(const Ref<TStream>& stream) {
  // A wrapper, so that closing it leaves the caller's stream open.
  Ref<TStream> in = OpenUrlForReading(std::static_pointer_cast<Object>(stream));
  if (!in) return nullptr;
  struct Release {
    Ref<TStream> in;
    ~Release() {
      try {
        in->Close();
      } catch (...) {
      }
      slot.reset();
    }
  } release{in};
  slot = in;
  pending = nullptr;

  png_byte signature[kSignatureBytes];
  in->ReadBytes(signature, kSignatureBytes);
  if (png_sig_cmp(signature, 0, kSignatureBytes) != 0) return nullptr;

  ReadJob job;
  bool ok = DecodePng(&job);
  if (pending) {
    std::exception_ptr failure = pending;
    pending = nullptr;
    std::rethrow_exception(failure);
  }
  if (!ok) return nullptr;

  int width = static_cast<int>(png_get_image_width(job.png, job.info));
  int height = static_cast<int>(png_get_image_height(job.png, job.info));
  int depth = png_get_bit_depth(job.png, job.info);
  int colorType = png_get_color_type(job.png, job.info);
  png_bytepp rows = png_get_rows(job.png, job.info);
  if (depth != 8 || !rows) return nullptr;

  int format;
  switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
      format = PIXFMT_GREY8;
      break;
    case PNG_COLOR_TYPE_RGB:
      format = PIXFMT_RGB24;
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      format = PIXFMT_RGBA32;
      break;
    default:
      return nullptr;
  }
  Ref<TPixmap> pixmap = PixmapCreate(width, height, format, 4);
  for (int y = 0; y < height; ++y) {
    uint8_t* d = pixmap->PixelPtr(0, y);
    const png_byte* s = rows[y];
    if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
      for (int x = 0; x < width; ++x, s += 2, d += 4) d[0] = d[1] = d[2] = s[0], d[3] = s[1];
    } else {
      CopyPixelRow(s, d, format, width);
    }
  }
  return pixmap;
}

Ref<TPixmap> TPixmapLoaderPNG::LoadPixmap(const Ref<TStream>& stream) { return LoadPixmapPNG(stream); }

void SetPngThreads(int threads) { compressThreads = threads < 0 ? 0 : threads; }

void StartPNG() {
  if (started) return;
  started = true;
  StartPixmap();
  StartStream();
  reader = std::make_shared<TPixmapLoaderPNG>();
}
