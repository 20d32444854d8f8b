// Helpers of the stream tests: whole-file writes and reads in the current folder (the tests
// run in a scratch folder of their own).
#pragma once

#include "support/scratch_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace stream_test {

// A file name written in UTF-8, as the system takes it whatever its own code page.
inline std::filesystem::path PathOf(const std::string& name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

// Writes the bytes to a file in the current folder.
inline void WriteFileBytes(const std::string& name, const std::string& bytes) {
  std::ofstream out(PathOf(name), std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The whole content of a file, or an empty text when it cannot be read.
inline std::string ReadFileBytes(const std::string& name) {
  std::ifstream in(PathOf(name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace stream_test
