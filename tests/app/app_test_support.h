// Helpers shared by the sheet builder's tests: the scratch folder they run in, and a reader
// for the header fields of a PNG file.
#pragma once

#include "support/scratch_dir.h"

#include <unistd.h>

#include <algorithm>  // for std::sort, std::equal
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The IHDR fields of a PNG file; width 0 when the file is not a PNG.
struct PngHeader {
  uint32_t width = 0, height = 0;
  int bit_depth = 0, colour_type = 0, interlace = 0;
};

inline PngHeader ReadPngHeader(const std::filesystem::path& file) {
  const std::vector<uint8_t> b = ReadBytes(file);
  PngHeader h;
  static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (b.size() < 33 || !std::equal(signature, signature + 8, b.begin())) return h;
  if (std::string(b.begin() + 12, b.begin() + 16) != "IHDR") return h;
  auto be32 = [&](size_t at) {
    return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 |
           b[at + 3];
  };
  h.width = be32(16);
  h.height = be32(20);
  h.bit_depth = b[24];
  h.colour_type = b[25];
  h.interlace = b[28];
  return h;
}
