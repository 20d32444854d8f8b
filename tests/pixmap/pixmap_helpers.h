// Helpers shared by the pixmap tests: the scratch folder, an in-memory stream that can be
// told to fail, and whole-file reads.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pixmap/pixmap.h"
#include "support/scratch_dir.h"
#include "runtime/text.h"
#include "stream/stream.h"

namespace pixmap_test {

inline std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A seekable stream over a byte vector. Writes fail (0 bytes) once writeLimit bytes are
// stored; seekable false makes Pos report -1 like a pipe.
class MemoryStream : public TStream {
 public:
  int64_t Pos() override { return seekable ? position : -1; }
  int64_t Size() override { return static_cast<int64_t>(bytes.size()); }
  int64_t Seek(int64_t to) override {
    position = std::clamp<int64_t>(to, 0, Size());
    return position;
  }
  int64_t Read(void* buffer, int64_t count) override {
    int64_t n = std::min(count, Size() - position);
    std::memcpy(buffer, bytes.data() + position, static_cast<std::size_t>(n));
    position += n;
    return n;
  }
  int64_t Write(const void* buffer, int64_t count) override {
    int64_t n = std::min(count, writeLimit - Size());
    if (n <= 0) return 0;
    const uint8_t* data = static_cast<const uint8_t*>(buffer);
    bytes.insert(bytes.end(), data, data + n);
    position = Size();
    return n;
  }
  int Close() override {
    ++closes;
    return 0;
  }
  std::vector<uint8_t> bytes;
  int64_t position = 0;
  int64_t writeLimit = INT64_MAX;
  bool seekable = true;
  int closes = 0;
};

// A pixmap of the given size and format whose bytes (padding included) follow a pattern
// that differs from pixel to pixel and channel to channel.
inline Ref<TPixmap> PatternPixmap(int width, int height, int format, int align = 4) {
  Ref<TPixmap> pixmap = PixmapCreate(width, height, format, align);
  for (int i = 0; i < pixmap->capacity; ++i) pixmap->pixels[i] = static_cast<uint8_t>(i * 37 + 11);
  return pixmap;
}

}  // namespace pixmap_test
