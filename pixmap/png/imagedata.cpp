// PNG image data in bands. Every band is worked on by one thread from start to end: its
// rows are put in file order, filtered and deflated into a buffer of its own, with a
// running Adler-32 of what went in. The first band's buffer starts with the zlib header,
// the last one's ends with the Adler-32 of all bands combined, and the buffers in order
// are the stream.
#include "pixmap/png/imagedata.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>  // for std::abs
#include <cstring>
#include <exception>
#include <new>  // for std::bad_alloc
#include <system_error>
#include <thread>

namespace {

constexpr std::size_t kWindowBytes = 32768;  // what deflate looks back over
constexpr int kMemLevel = 8;                 // zlib's default, as libpng uses it
constexpr int kMaxThreads = 64;              // each holds a deflate state of about 300 KB

enum Filter : uint8_t { kNone, kSub, kUp, kAverage, kPaeth, kFilters };

inline uint8_t PaethPredictor(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  if (pb <= pc) return static_cast<uint8_t>(b);
  return static_cast<uint8_t>(c);
}

// One row's bytes under one filter; `prior` is the row above (zeros for the first row).
// The first pixel has no left neighbour: its left and upper left count as zero.
void ApplyFilter(Filter filter, const uint8_t* row, const uint8_t* prior, std::size_t bytes,
                 int bpp, uint8_t* out) {
  const std::size_t first = std::min<std::size_t>(bpp, bytes);
  switch (filter) {
    case kNone:
      std::memcpy(out, row, bytes);
      return;
    case kSub:
      std::memcpy(out, row, first);
      for (std::size_t i = first; i < bytes; ++i) out[i] = uint8_t(row[i] - row[i - bpp]);
      return;
    case kUp:
      for (std::size_t i = 0; i < bytes; ++i) out[i] = uint8_t(row[i] - prior[i]);
      return;
    case kAverage:
      for (std::size_t i = 0; i < first; ++i) out[i] = uint8_t(row[i] - (prior[i] >> 1));
      for (std::size_t i = first; i < bytes; ++i) {
        out[i] = uint8_t(row[i] - ((row[i - bpp] + prior[i]) >> 1));
      }
      return;
    case kPaeth:
      for (std::size_t i = 0; i < first; ++i) out[i] = uint8_t(row[i] - prior[i]);
      for (std::size_t i = first; i < bytes; ++i) {
        out[i] = uint8_t(row[i] - PaethPredictor(row[i - bpp], prior[i], prior[i - bpp]));
      }
      return;
    default:
      return;
  }
}

// The sum of the bytes read as signed values, by magnitude.
uint64_t AbsoluteSum(const uint8_t* bytes, std::size_t count) {
  uint64_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += bytes[i] < 128 ? bytes[i] : 256 - bytes[i];
  return sum;
}

// Rows of the image in file order, with what filtering needs.
class TRowSource {
 public:
  explicit TRowSource(const TPngRows& image)
      : image_(image),
        file_format_(PngFileFormat(image.format)),
        channels_(BytesPerPixel[file_format_]),
        bytes_(static_cast<std::size_t>(image.width) * channels_),
        zeros_(bytes_, 0),
        converted_{std::vector<uint8_t>(Converts() ? bytes_ : 0),
                   std::vector<uint8_t>(Converts() ? bytes_ : 0)},
        candidate_(bytes_ * kFilters) {}

  std::size_t RowBytes() const { return bytes_; }

  // Row y's filter byte and filtered bytes into out (RowBytes() + 1 bytes).
  void Filtered(int y, uint8_t* out) {
    const uint8_t* row = Row(y);
    const uint8_t* prior = y > 0 ? Row(y - 1) : zeros_.data();
    Filter best = kNone;
    uint64_t best_sum = UINT64_MAX;
    for (int f = kNone; f < kFilters; ++f) {
      uint8_t* bytes = candidate_.data() + bytes_ * f;
      ApplyFilter(static_cast<Filter>(f), row, prior, bytes_, channels_, bytes);
      const uint64_t sum = AbsoluteSum(bytes, bytes_);
      if (sum < best_sum) {  // the first of equal sums, in filter order
        best_sum = sum;
        best = static_cast<Filter>(f);
      }
    }
    out[0] = best;
    std::memcpy(out + 1, candidate_.data() + bytes_ * best, bytes_);
  }

 private:
  bool Converts() const { return file_format_ != image_.format; }

  // Row y in the file's layout. A converted row goes to the slot of its parity, so a row
  // and the one above it never share one, and the row above was mostly converted already
  // (as the previous call's own row).
  const uint8_t* Row(int y) {
    const uint8_t* row = image_.rows[y];
    if (!Converts()) return row;
    const int slot = y & 1;
    uint8_t* out = converted_[slot].data();
    if (converted_row_[slot] != y) {
      ConvertPixelRow(row, image_.format, out, file_format_, image_.width);
      converted_row_[slot] = y;
    }
    return out;
  }

  const TPngRows& image_;
  int file_format_;
  int channels_;
  std::size_t bytes_;
  std::vector<uint8_t> zeros_;
  std::vector<uint8_t> converted_[2];
  int converted_row_[2] = {-1, -1};  // the row each slot holds
  std::vector<uint8_t> candidate_;  // each filter's bytes side by side
};

struct TBand {
  int first_row = 0, end_row = 0;
  std::vector<uint8_t> deflated;
  uLong adler = 1;       // of the band's filtered bytes
  std::size_t bytes = 0;  // filtered bytes, filter bytes included
};

class TDeflater {
 public:
  explicit TDeflater(int level) {
    // Note: a raw stream (negative window bits): the zlib header and check are written
    // once for all bands. Z_FILTERED suits filtered rows, and is libpng's choice too.
    if (deflateInit2(&z_, level, Z_DEFLATED, -15, kMemLevel, Z_FILTERED) != Z_OK) {
      throw std::bad_alloc();
    }
  }
  ~TDeflater() { deflateEnd(&z_); }
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;

  void Prime(const std::vector<uint8_t>& dictionary) {
    if (dictionary.empty()) return;
    if (deflateSetDictionary(&z_, dictionary.data(), static_cast<uInt>(dictionary.size())) !=
        Z_OK) {
      throw std::bad_alloc();
    }
  }

  // Deflates the bytes onto out; flush is Z_NO_FLUSH, Z_SYNC_FLUSH or Z_FINISH.
  void Put(const uint8_t* data, std::size_t count, int flush, std::vector<uint8_t>& out) {
    z_.next_in = const_cast<Bytef*>(data);
    z_.avail_in = static_cast<uInt>(count);
    for (;;) {
      if (out.capacity() - out.size() < 1024) out.reserve(out.capacity() * 2 + 4096);
      const std::size_t before = out.size();
      const std::size_t room = out.capacity() - before;
      out.resize(out.capacity());
      z_.next_out = out.data() + before;
      z_.avail_out = static_cast<uInt>(room);
      const int result = deflate(&z_, flush);
      out.resize(before + (room - z_.avail_out));
      if (result == Z_STREAM_ERROR) throw std::bad_alloc();
      if (z_.avail_in == 0 && z_.avail_out != 0) {
        if (flush != Z_FINISH || result == Z_STREAM_END) return;
      }
    }
  }

 private:
  z_stream z_{};
};

// The zlib header for a 32 KiB window, its level field as zlib writes it.
void PutHeader(int level, std::vector<uint8_t>& out) {
  const int method_info = 0x78;  // deflate, 32 KiB window
  const int level_field = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  int flags = level_field << 6;
  flags += 31 - (method_info * 256 + flags) % 31;
  out.push_back(static_cast<uint8_t>(method_info));
  out.push_back(static_cast<uint8_t>(flags));
}

// Filters and deflates one band; the band before it primes the window.
void CompressBand(const TPngRows& image, int level, bool last, TBand& band) {
  TRowSource source(image);
  const std::size_t line = source.RowBytes() + 1;
  std::vector<uint8_t> filtered(line);

  band.deflated.clear();
  band.bytes = 0;
  if (band.first_row == 0) PutHeader(level, band.deflated);
  TDeflater deflater(level);
  if (band.first_row > 0) {
    // The filtered rows before the band, back to a whole window (or the first row).
    int from = band.first_row;
    std::size_t have = 0;
    while (from > 0 && have < kWindowBytes) {
      --from;
      have += line;
    }
    std::vector<uint8_t> before(have);
    for (int y = from; y < band.first_row; ++y) {
      source.Filtered(y, before.data() + static_cast<std::size_t>(y - from) * line);
    }
    if (before.size() > kWindowBytes) {
      before.erase(before.begin(), before.end() - static_cast<std::ptrdiff_t>(kWindowBytes));
    }
    deflater.Prime(before);
  }

  band.adler = adler32(0L, Z_NULL, 0);
  if (band.first_row == band.end_row) deflater.Put(nullptr, 0, Z_FINISH, band.deflated);
  for (int y = band.first_row; y < band.end_row; ++y) {
    source.Filtered(y, filtered.data());
    band.adler = adler32(band.adler, filtered.data(), static_cast<uInt>(line));
    band.bytes += line;
    const bool band_end = y + 1 == band.end_row;
    const int flush = !band_end ? Z_NO_FLUSH : last ? Z_FINISH : Z_SYNC_FLUSH;
    deflater.Put(filtered.data(), line, flush, band.deflated);
  }
  // Note: the bands wait for each other until the last is done; each keeps only its bytes.
  band.deflated.shrink_to_fit();
}

}  // namespace

int PngFileFormat(int format) {
  if (format == PIXFMT_BGR24) return PIXFMT_RGB24;
  if (format == PIXFMT_BGRA32) return PIXFMT_RGBA32;
  return format;
}

std::vector<std::vector<uint8_t>> CompressPngRows(const TPngRows& image, int level,
                                                  int threads) {
  const std::size_t line =
      static_cast<std::size_t>(image.width) * BytesPerPixel[PngFileFormat(image.format)] + 1;
  const int rows_per_band =
      static_cast<int>(std::max<std::size_t>(1, (kBandBytes + line - 1) / line));
  std::vector<TBand> bands;
  for (int y = 0; y < image.height; y += rows_per_band) {
    TBand band;
    band.first_row = y;
    band.end_row = std::min(image.height, y + rows_per_band);
    bands.push_back(std::move(band));
  }
  if (bands.empty()) bands.emplace_back();  // no rows: an empty stream, still a whole one

  // Each thread takes the next band not yet taken, until none is left.
  std::atomic<std::size_t> next{0};
  std::vector<std::exception_ptr> failures(bands.size());
  auto work = [&] {
    for (std::size_t k = next++; k < bands.size(); k = next++) {
      try {
        CompressBand(image, level, k + 1 == bands.size(), bands[k]);
      } catch (...) {
        failures[k] = std::current_exception();
      }
    }
  };
  if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  threads = std::min(threads, kMaxThreads);
  const std::size_t helpers = std::min<std::size_t>(threads, bands.size()) - 1;
  std::vector<std::thread> pool;
  for (std::size_t i = 0; i < helpers; ++i) {
    // Note: a thread that cannot be started (no room for its stack) leaves its bands to
    // the others; the calling thread always works.
    try {
      pool.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    }
  }
  work();
  for (std::thread& thread : pool) thread.join();
  // A band that failed (a helper short of memory) gets one more try here, where the other
  // threads' memory is free again; a second failure is the answer.
  for (std::size_t k = 0; k < bands.size(); ++k) {
    if (failures[k]) CompressBand(image, level, k + 1 == bands.size(), bands[k]);
  }

  uLong adler = adler32(0L, Z_NULL, 0);
  for (const TBand& band : bands) {
    adler = adler32_combine(adler, band.adler, static_cast<z_off_t>(band.bytes));
  }
  std::vector<uint8_t>& end = bands.back().deflated;
  for (int shift = 24; shift >= 0; shift -= 8) {
    end.push_back(static_cast<uint8_t>((adler >> shift) & 0xFF));
  }
  std::vector<std::vector<uint8_t>> pieces;
  pieces.reserve(bands.size());
  for (TBand& band : bands) pieces.push_back(std::move(band.deflated));
  return pieces;
}
