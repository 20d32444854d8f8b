// Atlas and sprite files: what the opt-in files add to the output step of a 512 x 512
// sheet, for a few sprite sizes, in the growing mode (three sheet files, so three atlases).
// No drawing: the sheet is made in memory, keyed out and handed to the same save the
// program uses. Prints the time and the bytes written for each case.
// Usage: atlas_bench   (writes its files to a scratch folder and removes them)
#include <stdlib.h>  // for mkdtemp
#include <unistd.h>  // for chdir

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/output.h"
#include "app/settings.h"
#include "pixmap/pixmap.h"
#include "pixmap/png/png.h"
#include "stream/stream.h"

namespace {

constexpr int kSheetSize = 512;

// The bytes and the number of files in the folder, with the sizes of the files ending in
// `suffix` counted apart.
struct Written {
  uintmax_t bytes = 0, suffix_bytes = 0;
  int files = 0;
};

Written Measure(const std::string& suffix) {
  Written written;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    const uintmax_t size = entry.file_size();
    written.bytes += size;
    ++written.files;
    if (entry.path().extension() == suffix) written.suffix_bytes += size;
  }
  return written;
}

}  // namespace

int main() {
  std::string folder = (std::filesystem::temp_directory_path() / "atlasbenchXXXXXX").string();
  if (!mkdtemp(folder.data()) || chdir(folder.c_str()) != 0) return 1;
  StartStream();
  StartPixmap();
  StartPNG();

  // Some texture, so the PNGs are not trivially small: a diagonal pattern on black.
  Ref<TPixmap> sheet = PixmapCreate(kSheetSize, kSheetSize, PIXFMT_RGBA32, 4);
  for (int y = 0; y < kSheetSize; ++y) {
    for (int x = 0; x < kSheetSize; ++x) {
      PixmapWritePixel(sheet, x, y, 0xFF000000u | ((x * 7 + y * 3) & 0xFF) << 8 | (x ^ y));
    }
  }

  scale_mode = SCALE_GROW;
  std::printf("512 x 512 sheet, Make=Grow; output step only\n");
  std::printf("%-6s %-14s %10s %7s %12s %12s\n", "size", "files", "time ms", "files", "all bytes",
              "json bytes");
  for (int size : {64, 8, 4}) {
    for (int extras = 0; extras < 3; ++extras) {
      for (const auto& entry : std::filesystem::directory_iterator(".")) {
        std::filesystem::remove(entry.path());
      }
      sprite_width = sprite_height = size;
      atlas_format = extras >= 1 ? AtlasFormat::Json : AtlasFormat::None;
      split_sprites = extras >= 2;
      const auto start = std::chrono::steady_clock::now();
      const int status = SaveSheetFiles(sheet);
      const double ms = std::chrono::duration<double, std::milli>(
                            std::chrono::steady_clock::now() - start).count();
      const Written written = Measure(".json");
      const char* what[] = {"sheets", "+ atlas", "+ atlas, split"};
      std::printf("%-6d %-14s %10.1f %7d %12ju %12ju%s\n", size, what[extras], ms,
                  written.files, written.bytes, written.suffix_bytes,
                  status == 0 ? "" : "  (a file failed)");
    }
  }
  std::error_code ignored;
  std::filesystem::current_path("/", ignored);
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
