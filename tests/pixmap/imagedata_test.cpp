// PNG image data compressed in bands: the stream zlib itself inflates (and checks), rows
// that unfilter to the pixels, bytes that do not depend on the number of threads, and whole
// files that read back as the pixmap saved.
#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <cstdlib>

#include "pixmap/png/imagedata.h"
#include "pixmap/png/png.h"
#include "pixmap_helpers.h"

using namespace pixmap_test;

namespace {

// Rows that make every filter the best somewhere: noise, flat runs, vertical and horizontal
// ramps, and rows repeating the row above.
std::vector<uint8_t> MixedRows(int width, int height, int channels, uint32_t seed) {
  const std::size_t row = static_cast<std::size_t>(width) * channels;
  std::vector<uint8_t> bytes(row * height);
  uint32_t state = seed;
  for (int y = 0; y < height; ++y) {
    uint8_t* r = bytes.data() + row * y;
    switch ((y / 7) % 5) {
      case 0:
        for (std::size_t i = 0; i < row; ++i) {
          state = state * 1103515245u + 12345u;
          r[i] = static_cast<uint8_t>(state >> 16);
        }
        break;
      case 1:
        for (std::size_t i = 0; i < row; ++i) r[i] = static_cast<uint8_t>(i / channels);
        break;
      case 2:
        for (std::size_t i = 0; i < row; ++i) r[i] = static_cast<uint8_t>(y * 3 + i % channels);
        break;
      case 3:
        if (y > 0) std::memcpy(r, r - row, row);
        break;
      default:
        for (std::size_t i = 0; i < row; ++i) {
          r[i] = static_cast<uint8_t>((i / channels) * (y % 11) + (i % channels) * 40);
        }
        break;
    }
  }
  return bytes;
}

struct Image {
  std::vector<uint8_t> bytes;
  std::vector<const uint8_t*> rows;
  TPngRows png;
};

int FormatOf(int channels, bool bgr) {
  if (channels == 1) return PIXFMT_GREY8;
  if (channels == 3) return bgr ? PIXFMT_BGR24 : PIXFMT_RGB24;
  return bgr ? PIXFMT_BGRA32 : PIXFMT_RGBA32;
}

Image MakeImage(int width, int height, int channels, bool bgr, uint32_t seed) {
  Image image;
  image.bytes = MixedRows(width, height, channels, seed);
  const std::size_t row = static_cast<std::size_t>(width) * channels;
  for (int y = 0; y < height; ++y) image.rows.push_back(image.bytes.data() + row * y);
  image.png = TPngRows{image.rows.data(), width, height, FormatOf(channels, bgr)};
  return image;
}

std::vector<uint8_t> Joined(const std::vector<std::vector<uint8_t>>& pieces) {
  std::vector<uint8_t> stream;
  for (const auto& piece : pieces) stream.insert(stream.end(), piece.begin(), piece.end());
  return stream;
}

int Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Inflates the stream with zlib (which checks the Adler-32 at its end), undoes each row's
// filter as a PNG reader does and compares with the image's rows in file channel order.
// Returns how often each filter was chosen.
std::array<int, 5> ExpectRowsBack(const Image& image, const std::vector<uint8_t>& stream) {
  std::array<int, 5> used{};
  const int n = BytesPerPixel[image.png.format];
  const bool bgr = image.png.format == PIXFMT_BGR24 || image.png.format == PIXFMT_BGRA32;
  const std::size_t row = static_cast<std::size_t>(image.png.width) * n;
  const std::size_t line = row + 1;
  std::vector<uint8_t> raw(line * image.png.height + 1);  // one spare: nothing may follow
  uLongf size = static_cast<uLongf>(raw.size());
  EXPECT_EQ(uncompress(raw.data(), &size, stream.data(), static_cast<uLong>(stream.size())),
            Z_OK);
  EXPECT_EQ(size, line * image.png.height);
  if (size != line * image.png.height) return used;

  std::vector<uint8_t> prior(row, 0), current(row);
  for (int y = 0; y < image.png.height; ++y) {
    const uint8_t* in = raw.data() + line * y;
    const int filter = in[0];
    EXPECT_LE(filter, 4) << "row " << y;
    if (filter > 4) return used;
    ++used[filter];
    for (std::size_t i = 0; i < row; ++i) {
      const int left = i >= static_cast<std::size_t>(n) ? current[i - n] : 0;
      const int up_left = i >= static_cast<std::size_t>(n) ? prior[i - n] : 0;
      const int up = prior[i];
      const int predicted = filter == 0   ? 0
                            : filter == 1 ? left
                            : filter == 2 ? up
                            : filter == 3 ? (left + up) / 2
                                          : Paeth(left, up, up_left);
      current[i] = static_cast<uint8_t>(in[1 + i] + predicted);
    }
    std::vector<uint8_t> expected(image.rows[y], image.rows[y] + row);
    if (bgr) {
      for (std::size_t i = 0; i < row; i += n) std::swap(expected[i], expected[i + 2]);
    }
    EXPECT_EQ(current, expected) << "row " << y;
    if (current != expected) return used;
    prior = current;
  }
  return used;
}

TEST(PngImageData, BandsInflateToTheFilteredRowsForEveryPixelLayout) {
  struct Case {
    int channels;
    bool bgr;
  };
  for (const Case c : {Case{1, false}, Case{3, false}, Case{3, true}, Case{4, false},
                       Case{4, true}}) {
    SCOPED_TRACE("channels " + std::to_string(c.channels) + (c.bgr ? " blue first" : ""));
    // Rows of 1.2 to 4.8 KB: three to five bands of 1 MiB, and a last one cut short.
    const Image image = MakeImage(1200, 1000, c.channels, c.bgr, 7u + c.channels);
    const auto pieces = CompressPngRows(image.png, 6, 2);
    const std::size_t raw = (1200u * c.channels + 1) * 1000;
    EXPECT_EQ(pieces.size(), (raw + kBandBytes - 1) / kBandBytes);
    const std::array<int, 5> used = ExpectRowsBack(image, Joined(pieces));
    for (int filter = 0; filter < 5; ++filter) {
      EXPECT_GT(used[filter], 0) << "filter " << filter << " never chosen";
    }
  }
}

TEST(PngImageData, RowsWiderThanABandTinyImagesAndEveryLevelStayWhole) {
  // A row of 1.08 MB is a band of its own; the window before it is the row above.
  const Image wide = MakeImage(270000, 3, 4, false, 3);
  const auto pieces = CompressPngRows(wide.png, 9, 0);
  EXPECT_EQ(pieces.size(), 3u);
  ExpectRowsBack(wide, Joined(pieces));

  const Image one = MakeImage(1, 1, 4, true, 5);
  ExpectRowsBack(one, Joined(CompressPngRows(one.png, 6, 0)));

  // The header's level field is zlib's own for each level; level 0 stores.
  const Image small = MakeImage(40, 30, 3, false, 9);
  const std::array<uint8_t, 10> level_byte = {0x01, 0x01, 0x5E, 0x5E, 0x5E,
                                              0x5E, 0x9C, 0xDA, 0xDA, 0xDA};
  for (int level = 0; level <= 9; ++level) {
    const std::vector<uint8_t> stream = Joined(CompressPngRows(small.png, level, 0));
    ASSERT_GE(stream.size(), 2u);
    EXPECT_EQ(stream[0], 0x78) << level;
    EXPECT_EQ(stream[1], level_byte[level]) << level;
    ExpectRowsBack(small, stream);
  }
}

TEST(PngImageData, TheBytesDoNotDependOnTheNumberOfThreads) {
  const Image image = MakeImage(700, 1500, 4, false, 11);  // three bands
  const auto one = CompressPngRows(image.png, 6, 1);
  EXPECT_EQ(CompressPngRows(image.png, 6, 2), one);
  EXPECT_EQ(CompressPngRows(image.png, 6, 7), one);
  EXPECT_EQ(CompressPngRows(image.png, 6, 0), one);
}

TEST(PngImageData, SavedFilesReadBackAsThePixmapWhateverTheThreads) {
  StartPNG();
  TScratchDir dir;
  // A 1100 x 600 pixmap is 2.6 MB of RGBA rows: several bands.
  Ref<TPixmap> rgba = PixmapCreate(1100, 600, PIXFMT_BGRA32);
  const std::vector<uint8_t> bytes = MixedRows(1100, 600, 4, 21);
  for (int y = 0; y < 600; ++y) std::memcpy(rgba->PixelPtr(0, y), &bytes[4400u * y], 4400);
  Ref<TPixmap> grey = PixmapCreate(1500, 900, PIXFMT_GREY8);
  const std::vector<uint8_t> levels = MixedRows(1500, 900, 1, 22);
  for (int y = 0; y < 900; ++y) std::memcpy(grey->PixelPtr(0, y), &levels[1500u * y], 1500);

  for (const Ref<TPixmap>& pixmap : {rgba, grey}) {
    SetPngThreads(1);
    ASSERT_EQ(PixmapSavePNG(pixmap, dir.File("one.png"), 6), 1);
    SetPngThreads(3);
    ASSERT_EQ(PixmapSavePNG(pixmap, dir.File("three.png"), 6), 1);
    SetPngThreads(0);
    EXPECT_EQ(ReadFile(dir.path / "one.png"), ReadFile(dir.path / "three.png"));
    Ref<TPixmap> back = PixmapLoad(dir.File("three.png"));
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(back->width, pixmap->width);
    ASSERT_EQ(back->height, pixmap->height);
    for (int y = 0; y < back->height; ++y) {
      for (int x = 0; x < back->width; ++x) {
        ASSERT_EQ(back->ReadPixel(x, y), pixmap->ReadPixel(x, y)) << x << "," << y;
      }
    }
  }
}

}  // namespace
