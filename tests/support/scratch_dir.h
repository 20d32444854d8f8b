// The tests' one temporary folder: fresh under the system's temporary folder, the current
// directory while it lives (unless asked not to be), and removed with its contents at the end.
#pragma once

#include <unistd.h>

#include <algorithm>  // for std::sort
#include <filesystem>
#include <fstream>
#include <random>  // for a fresh folder name
#include <string>
#include <vector>

#include "runtime/text.h"

class TScratchDir {
 public:
  explicit TScratchDir(bool enter = true) {
    // Note: created exclusively under a random name, as mkdtemp would; Windows has none.
    std::random_device random;
    const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (;;) {
      std::string name = "sheettest";
      for (int i = 0; i < 10; ++i) name += digits[random() % 36];
      path = std::filesystem::temp_directory_path() / name;
      if (std::filesystem::create_directory(path)) break;
    }
    if (enter) {
      previous_ = std::filesystem::current_path();
      std::filesystem::current_path(path);
    }
  }
  ~TScratchDir() {
    std::error_code ignored;
    if (!previous_.empty()) std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path, ignored);
  }
  TScratchDir(const TScratchDir&) = delete;
  TScratchDir& operator=(const TScratchDir&) = delete;

  std::filesystem::path operator/(const std::string& name) const { return path / name; }
  // A file in it, named as the framework names files.
  String File(const std::string& name) const { return TextFromUtf8((path / name).string()); }
  // Writes a file in it with these bytes.
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path / name, std::ios::binary) << bytes;
  }
  // The names of what it holds, sorted.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::filesystem::path path;

 private:
  std::filesystem::path previous_;
};
