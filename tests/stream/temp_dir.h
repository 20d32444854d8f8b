// A fresh temporary folder that is the current directory for one test, removed afterwards.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace stream_test {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/stream_test_XXXXXX";
    path_ = mkdtemp(pattern);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~TempDir() {
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::filesystem::path previous_;
};

// Writes the bytes to a file in the current folder.
inline void WriteFileBytes(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The whole content of a file, or an empty text when it cannot be read.
inline std::string ReadFileBytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace stream_test
