// PNG files: what the writer puts in the file (read back with our libpng reader), its
// failure rules (unopenable targets, failing streams, a full disk), and the reader.
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pixmap/png/png.h"
#include "pixmap_helpers.h"

using namespace pixmap_test;

namespace {

uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}

class PngTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartPNG(); }
  TScratchDir dir;
};

// Every pixel of a and b has the same packed colour.
void ExpectSamePixels(const Ref<TPixmap>& a, const Ref<TPixmap>& b) {
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(a->width, b->width);
  ASSERT_EQ(a->height, b->height);
  for (int y = 0; y < a->height; ++y)
    for (int x = 0; x < a->width; ++x)
      ASSERT_EQ(a->ReadPixel(x, y), b->ReadPixel(x, y)) << x << "," << y;
}

// A pixmap whose colours vary a lot, so that compression levels make a difference.
Ref<TPixmap> Noise(int width, int height) {
  Ref<TPixmap> p = PixmapCreate(width, height, PIXFMT_RGBA32);
  uint32_t state = 12345;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      state = state * 1103515245u + 12345u;
      p->WritePixel(x, y, ((state >> 8) & 0xFF00FFFFu) | (((x * y) & 0xFFu) << 16));
    }
  return p;
}

// Encodes rows with libpng directly, for inputs our writer never produces.
std::vector<uint8_t> EncodeRaw(int width, int height, int depth, int colorType,
                               const std::vector<uint8_t>& packedRows) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t n) {
        auto* bytes = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
        bytes->insert(bytes->end(), data, data + n);
      },
      nullptr);
  png_set_IHDR(png, info, width, height, depth, colorType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    png_color palette[2] = {{250, 0, 0}, {0, 0, 250}};
    png_set_PLTE(png, info, palette, 2);
  }
  std::vector<png_bytep> rows(height);
  std::size_t rowBytes = packedRows.size() / height;
  for (int y = 0; y < height; ++y)
    rows[y] = const_cast<uint8_t*>(packedRows.data()) + y * rowBytes;
  png_set_rows(png, info, rows.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

Ref<TPixmap> LoadBytes(const std::vector<uint8_t>& bytes) {
  auto stream = std::make_shared<MemoryStream>();
  stream->bytes = bytes;
  return PixmapLoad(std::static_pointer_cast<Object>(stream));
}

}  // namespace

// ---- what goes into the file -----------------------------------------------------------

TEST_F(PngTest, RGBARoundTripKeepsEveryByteIncludingTransparentPixels) {
  Ref<TPixmap> p = Noise(7, 5);
  p->WritePixel(0, 0, 0);
  p->WritePixel(3, 2, Argb(0, 200, 100, 50));  // colour under alpha 0 must survive
  ASSERT_EQ(PixmapSavePNG(p, dir.File("a.png"), 5), 1);
  Ref<TPixmap> back = PixmapLoad(dir.File("a.png"));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->format, PIXFMT_RGBA32);
  ExpectSamePixels(back, p);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"a.png"}));  // no temporary left
}

TEST_F(PngTest, BGRChannelOrderGivesTheSameFileAsRGB) {
  Ref<TPixmap> rgba = Noise(6, 4);
  ASSERT_EQ(PixmapSavePNG(rgba, dir.File("rgba.png"), 6), 1);
  ASSERT_EQ(PixmapSavePNG(rgba->Convert(PIXFMT_BGRA32), dir.File("bgra.png"), 6), 1);
  EXPECT_EQ(ReadFile(dir.path / "rgba.png"), ReadFile(dir.path / "bgra.png"));

  Ref<TPixmap> rgb = rgba->Convert(PIXFMT_RGB24);
  ASSERT_EQ(PixmapSavePNG(rgb, dir.File("rgb.png"), 6), 1);
  ASSERT_EQ(PixmapSavePNG(rgba->Convert(PIXFMT_BGR24), dir.File("bgr.png"), 6), 1);
  EXPECT_EQ(ReadFile(dir.path / "rgb.png"), ReadFile(dir.path / "bgr.png"));
  Ref<TPixmap> back = PixmapLoad(dir.File("bgr.png"));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->format, PIXFMT_RGB24);
  ExpectSamePixels(back, rgb);
}

TEST_F(PngTest, GreyStaysGreyAndOtherFormatsGoOutAsRGBA) {
  Ref<TPixmap> grey = Noise(5, 3)->Convert(PIXFMT_GREY8);
  ASSERT_EQ(PixmapSavePNG(grey, dir.File("grey.png"), 5), 1);
  Ref<TPixmap> back = PixmapLoad(dir.File("grey.png"));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->format, PIXFMT_GREY8);
  ExpectSamePixels(back, grey);

  Ref<TPixmap> alpha = PixmapCreate(2, 1, PIXFMT_ALPHA8);
  alpha->pixels[0] = 0;
  alpha->pixels[1] = 99;
  ASSERT_EQ(PixmapSavePNG(alpha, dir.File("alpha.png"), 5), 1);
  back = PixmapLoad(dir.File("alpha.png"));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->format, PIXFMT_RGBA32);
  EXPECT_EQ(back->ReadPixel(0, 0), Argb(0, 255, 255, 255));
  EXPECT_EQ(back->ReadPixel(1, 0), Argb(99, 255, 255, 255));
}

TEST_F(PngTest, PaddedRowsGoOutAsExactlyWidthPixels) {
  Ref<TPixmap> padded = PatternPixmap(3, 4, PIXFMT_RGBA32, 64);  // padding full of pattern
  Ref<TPixmap> packed = padded->Copy();
  ASSERT_EQ(PixmapSavePNG(padded, dir.File("padded.png"), 5), 1);
  ASSERT_EQ(PixmapSavePNG(packed, dir.File("packed.png"), 5), 1);
  EXPECT_EQ(ReadFile(dir.path / "padded.png"), ReadFile(dir.path / "packed.png"));
  ExpectSamePixels(PixmapLoad(dir.File("padded.png")), packed);
  // A window of a larger pixmap is saved as just its rectangle.
  Ref<TPixmap> window = Noise(9, 9)->Window(2, 3, 4, 2);
  ASSERT_EQ(PixmapSavePNG(window, dir.File("window.png"), 5), 1);
  ExpectSamePixels(PixmapLoad(dir.File("window.png")), window);
}

TEST_F(PngTest, CompressionLevelIsClampedToZeroThroughNine) {
  Ref<TPixmap> p = Noise(64, 64);
  for (int level : {-3, 0, 9, 12}) {
    ASSERT_EQ(PixmapSavePNG(p, dir.File("l" + std::to_string(level) + ".png"), level), 1);
  }
  auto low = ReadFile(dir.path / "l-3.png");
  auto high = ReadFile(dir.path / "l12.png");
  EXPECT_EQ(low, ReadFile(dir.path / "l0.png"));
  EXPECT_EQ(high, ReadFile(dir.path / "l9.png"));
  EXPECT_GT(low.size(), high.size());  // level 0 stores, level 9 compresses
}

// ---- failures ----------------------------------------------------------------------------

TEST_F(PngTest, UnopenableTargetsGiveZeroAndCreateNothing) {
  Ref<TPixmap> p = Noise(4, 4);
  EXPECT_EQ(PixmapSavePNG(p, dir.File("missing/x.png"), 5), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.path / "missing"));
  EXPECT_EQ(PixmapSavePNG(p, String(u"nosuchprotocol::x.png"), 5), 0);
  // A target that is a directory: nothing replaces it and no temporary stays behind.
  std::filesystem::create_directory(dir.path / "taken.png");
  EXPECT_EQ(PixmapSavePNG(p, dir.File("taken.png"), 5), 0);
  EXPECT_TRUE(std::filesystem::is_directory(dir.path / "taken.png"));
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"taken.png"}));
}

TEST_F(PngTest, ALibpngErrorGivesZeroAndKeepsThePreviousFile) {
  // libpng refuses rows wider than a million pixels.
  Ref<TPixmap> tooWide = PixmapCreate(1000001, 1, PIXFMT_GREY8);
  tooWide->ClearPixels(0);
  const std::vector<uint8_t> previous = {1, 2, 3};
  WriteFile(dir.path / "wide.png", previous);
  EXPECT_EQ(PixmapSavePNG(tooWide, dir.File("wide.png"), 5), 0);
  EXPECT_EQ(ReadFile(dir.path / "wide.png"), previous);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"wide.png"}));
  // The module is left clean: the next save works.
  ASSERT_EQ(PixmapSavePNG(Noise(3, 3), dir.File("wide.png"), 5), 1);
  ExpectSamePixels(PixmapLoad(dir.File("wide.png")), Noise(3, 3));
}

TEST_F(PngTest, EmptyPixmapsAreNotSaved) {
  EXPECT_EQ(PixmapSavePNG(PixmapCreate(0, 5, PIXFMT_RGBA32), dir.File("e.png"), 5), 0);
  EXPECT_EQ(PixmapSavePNG(PixmapCreate(5, 0, PIXFMT_RGBA32), dir.File("e.png"), 5), 0);
  EXPECT_TRUE(dir.Files().empty());
}

TEST_F(PngTest, ReplacingAFileSucceedsAndLeavesOnlyTheNewImage) {
  WriteFile(dir.path / "s.png", {1, 2, 3});
  Ref<TPixmap> p = Noise(5, 5);
  ASSERT_EQ(PixmapSavePNG(p, std::make_shared<TStringObject>(dir.File("s.png")), 5), 1);
  ExpectSamePixels(PixmapLoad(dir.File("s.png")), p);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"s.png"}));
}

TEST_F(PngTest, AStreamThatFailsRaisesTheWriteErrorAndLeavesTheModuleUsable) {
  Ref<TPixmap> p = Noise(32, 32);
  auto stream = std::make_shared<MemoryStream>();
  stream->writeLimit = 100;
  EXPECT_THROW(PixmapSavePNG(p, std::static_pointer_cast<Object>(stream), 0),
               TStreamWriteException);
  EXPECT_EQ(stream->closes, 0);  // the caller's own stream is not closed for it

  auto good = std::make_shared<MemoryStream>();
  ASSERT_EQ(PixmapSavePNG(p, std::static_pointer_cast<Object>(good), 0), 1);
  ExpectSamePixels(LoadBytes(good->bytes), p);
}

TEST_F(PngTest, AFullDiskKeepsThePreviousFile) {
  // The child process may write at most 4096 bytes per file; the save needs far more.
  const std::vector<uint8_t> previous = {9, 8, 7, 6, 5};
  WriteFile(dir.path / "sheet.png", previous);
  String target = dir.File("sheet.png");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    int code = 0;
    try {
      code = PixmapSavePNG(Noise(256, 256), target, 0) == 0 ? 2 : 3;
    } catch (const TStreamWriteException&) {
      code = 1;
    } catch (...) {
      code = 4;
    }
    _exit(code);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  // 1: the write error reached the caller; 2: the failure was seen only at close.
  EXPECT_TRUE(WEXITSTATUS(status) == 1 || WEXITSTATUS(status) == 2) << WEXITSTATUS(status);
  EXPECT_EQ(ReadFile(dir.path / "sheet.png"), previous);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"sheet.png"}));
}

// ---- reading -----------------------------------------------------------------------------

TEST_F(PngTest, ReaderExpandsGreyAlphaPalettesAndSixteenBitSamples) {
  // Grey with alpha: (g, a) pairs.
  Ref<TPixmap> ga = LoadBytes(EncodeRaw(2, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, {10, 200, 99, 0}));
  ASSERT_NE(ga, nullptr);
  EXPECT_EQ(ga->format, PIXFMT_RGBA32);
  EXPECT_EQ(ga->ReadPixel(0, 0), Argb(200, 10, 10, 10));
  EXPECT_EQ(ga->ReadPixel(1, 0), Argb(0, 99, 99, 99));
  // Palette of two entries, one bit per pixel: 0b01000000 = entries 0, 1.
  Ref<TPixmap> pal = LoadBytes(EncodeRaw(2, 1, 1, PNG_COLOR_TYPE_PALETTE, {0x40}));
  ASSERT_NE(pal, nullptr);
  EXPECT_EQ(pal->format, PIXFMT_RGB24);
  EXPECT_EQ(pal->ReadPixel(0, 0), Argb(255, 250, 0, 0));
  EXPECT_EQ(pal->ReadPixel(1, 0), Argb(255, 0, 0, 250));
  // 16-bit RGB, big-endian samples: the high byte is kept.
  Ref<TPixmap> deep = LoadBytes(EncodeRaw(1, 1, 16, PNG_COLOR_TYPE_RGB, {0x12, 0x34, 0xAB, 0xCD, 0x00, 0xFF}));
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(deep->ReadPixel(0, 0), Argb(255, 0x12, 0xAB, 0x00));
}

TEST_F(PngTest, ReaderRejectsWhatIsNotAWholePNG) {
  EXPECT_EQ(LoadBytes({'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g', '!'}), nullptr);
  EXPECT_EQ(LoadBytes({0x89, 'P', 'N'}), nullptr);  // shorter than the signature

  auto good = std::make_shared<MemoryStream>();
  ASSERT_EQ(PixmapSavePNG(Noise(16, 16), std::static_pointer_cast<Object>(good), 0), 1);
  std::vector<uint8_t> truncated(good->bytes.begin(), good->bytes.begin() + good->bytes.size() / 2);
  EXPECT_EQ(LoadBytes(truncated), nullptr);
  // Directly, the short read surfaces as the stream error, and the stream stays open.
  auto stream = std::make_shared<MemoryStream>();
  stream->bytes = truncated;
  EXPECT_THROW(LoadPixmapPNG(stream), TStreamReadException);
  EXPECT_EQ(stream->closes, 0);
  // Corrupt image data is a libpng error: null, no exception.
  std::vector<uint8_t> corrupt = good->bytes;
  for (std::size_t i = 60; i < corrupt.size() - 20; ++i) corrupt[i] ^= 0x5A;
  EXPECT_EQ(LoadBytes(corrupt), nullptr);
}
