// Pixmap model: creation, single-pixel access, clearing, windows, copies and conversion,
// mirror/flip, key-out and the loader chain.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <stdexcept>

#include "pixmap/pixmap.h"
#include "pixmap_helpers.h"

using namespace pixmap_test;

namespace {

uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}

class PixmapTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartPixmap(); }
};

}  // namespace

// ---- creation ----------------------------------------------------------------------------

TEST_F(PixmapTest, CreateRoundsThePitchUpToTheAlignment) {
  Ref<TPixmap> p = PixmapCreate(3, 2, PIXFMT_RGB24, 4);
  EXPECT_EQ(p->pitch, 12);
  EXPECT_EQ(p->capacity, 24);
  EXPECT_EQ(p->width, 3);
  EXPECT_EQ(p->height, 2);
  EXPECT_EQ(p->format, PIXFMT_RGB24);
  EXPECT_EQ(p->_source, nullptr);
  EXPECT_EQ(PixmapCreate(3, 2, PIXFMT_RGB24, 1)->pitch, 9);
  EXPECT_EQ(PixmapCreate(5, 1, PIXFMT_GREY8, 16)->pitch, 16);
  EXPECT_EQ(PixmapCreate(4, 3, PIXFMT_RGBA32)->capacity, 48);
}

TEST_F(PixmapTest, PixelMemoryStartsOnA16ByteBoundary) {
  for (int width : {1, 3, 7, 33}) {
    Ref<TPixmap> p = PixmapCreate(width, 3, PIXFMT_BGR24, 1);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p->pixels) % 16, 0u) << width;
  }
}

TEST_F(PixmapTest, EmptyPixmapsAreValidAndHoldNoMemory) {
  Ref<TPixmap> p = PixmapCreate(0, 5, PIXFMT_RGBA32);
  EXPECT_EQ(p->capacity, 0);
  EXPECT_EQ(p->pixels, nullptr);
  EXPECT_EQ(PixmapCreate(4, 0, PIXFMT_RGBA32)->capacity, 0);
  EXPECT_NO_THROW(p->ClearPixels(0xFFFFFFFF));
  EXPECT_EQ(p->Copy()->width, 0);
}

TEST_F(PixmapTest, ImpossibleSizesRaiseAnErrorInsteadOfGivingNullPixels) {
  try {
    PixmapCreate(100000, 100000, PIXFMT_RGBA32);
    FAIL() << "no error raised";
  } catch (const TRuntimeError& error) {
    EXPECT_STREQ(error.what(), "Unable to allocate pixmap memory (100000 x 100000)");
  }
  // The packed row alone overflows 32 bits.
  EXPECT_THROW(PixmapCreate(INT_MAX, 1, PIXFMT_RGBA32), TRuntimeError);
  EXPECT_THROW(PixmapCreate(-1, 4, PIXFMT_RGBA32), TRuntimeError);
  EXPECT_THROW(PixmapCreate(4, 4, PIXFMT_RGBA32, 0), TRuntimeError);
  EXPECT_THROW(PixmapCreate(4, 4, 13), TRuntimeError);
}

TEST_F(PixmapTest, StaticPixmapsViewTheCallersMemoryWithoutOwningIt) {
  uint8_t memory[2 * 8] = {};
  {
    Ref<TPixmap> p = PixmapCreateStatic(memory, 2, 2, 8, PIXFMT_RGBA32);
    EXPECT_EQ(p->capacity, -1);
    p->WritePixel(1, 1, Argb(4, 1, 2, 3));
  }  // destroying it must not free the stack array
  EXPECT_EQ(memory[12], 1);
  EXPECT_EQ(memory[15], 4);
}

// ---- single pixels -----------------------------------------------------------------------

TEST_F(PixmapTest, ThirtyTwoBitFormatsKeepTheirChannelOrder) {
  const uint8_t bytes[4] = {10, 20, 30, 40};
  Ref<TPixmap> rgba = PixmapCreate(1, 1, PIXFMT_RGBA32);
  Ref<TPixmap> bgra = PixmapCreate(1, 1, PIXFMT_BGRA32);
  std::memcpy(rgba->pixels, bytes, 4);
  std::memcpy(bgra->pixels, bytes, 4);
  EXPECT_EQ(rgba->ReadPixel(0, 0), Argb(40, 10, 20, 30));
  EXPECT_EQ(bgra->ReadPixel(0, 0), Argb(40, 30, 20, 10));

  rgba->WritePixel(0, 0, Argb(1, 2, 3, 4));
  bgra->WritePixel(0, 0, Argb(1, 2, 3, 4));
  EXPECT_EQ(std::vector<uint8_t>(rgba->pixels, rgba->pixels + 4), (std::vector<uint8_t>{2, 3, 4, 1}));
  EXPECT_EQ(std::vector<uint8_t>(bgra->pixels, bgra->pixels + 4), (std::vector<uint8_t>{4, 3, 2, 1}));
}

TEST_F(PixmapTest, TwentyFourBitFormatsReadOpaqueAndDropAlphaOnWrite) {
  Ref<TPixmap> rgb = PixmapCreate(2, 1, PIXFMT_RGB24);
  Ref<TPixmap> bgr = PixmapCreate(2, 1, PIXFMT_BGR24);
  rgb->WritePixel(1, 0, Argb(9, 50, 60, 70));
  bgr->WritePixel(1, 0, Argb(9, 50, 60, 70));
  EXPECT_EQ(rgb->pixels[3], 50);
  EXPECT_EQ(bgr->pixels[3], 70);
  EXPECT_EQ(rgb->ReadPixel(1, 0), Argb(255, 50, 60, 70));
  EXPECT_EQ(bgr->ReadPixel(1, 0), Argb(255, 50, 60, 70));
}

TEST_F(PixmapTest, GreyAndAlphaFormatsStoreOneByte) {
  Ref<TPixmap> grey = PixmapCreate(1, 1, PIXFMT_GREY8);
  Ref<TPixmap> alpha = PixmapCreate(1, 1, PIXFMT_ALPHA8);
  grey->WritePixel(0, 0, Argb(128, 255, 128, 64));
  alpha->WritePixel(0, 0, Argb(128, 255, 128, 64));
  EXPECT_EQ(grey->pixels[0], 149);
  EXPECT_EQ(alpha->pixels[0], 128);
  EXPECT_EQ(grey->ReadPixel(0, 0), Argb(255, 149, 149, 149));
  alpha->pixels[0] = 0;
  EXPECT_EQ(alpha->ReadPixel(0, 0), Argb(0, 255, 255, 255));
}

TEST_F(PixmapTest, FormatsWithoutPixelAccessReadZeroAndIgnoreWrites) {
  Ref<TPixmap> red = PixmapCreate(1, 1, PIXFMT_RED8);
  red->pixels[0] = 77;
  EXPECT_EQ(red->ReadPixel(0, 0), 0u);
  red->WritePixel(0, 0, 0xFFFFFFFF);
  EXPECT_EQ(red->pixels[0], 77);
}

// ---- clearing ----------------------------------------------------------------------------

TEST_F(PixmapTest, ClearToZeroSparesTheRowPadding) {
  Ref<TPixmap> p = PixmapCreate(3, 3, PIXFMT_RGB24, 16);  // 9 pixel bytes, 7 padding
  std::memset(p->pixels, 0xAB, p->capacity);
  p->ClearPixels(0);
  for (int y = 0; y < 3; ++y)
    for (int i = 0; i < 16; ++i) EXPECT_EQ(p->PixelPtr(0, y)[i], i < 9 ? 0 : 0xAB) << y << "," << i;
}

TEST_F(PixmapTest, ClearingAWindowLeavesTheRestOfTheParent) {
  Ref<TPixmap> parent = PixmapCreate(4, 4, PIXFMT_RGBA32);
  parent->ClearPixels(Argb(255, 1, 1, 1));
  parent->Window(1, 1, 2, 2)->ClearPixels(0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      bool inside = x >= 1 && x <= 2 && y >= 1 && y <= 2;
      EXPECT_EQ(parent->ReadPixel(x, y), inside ? 0u : Argb(255, 1, 1, 1)) << x << "," << y;
    }
}

TEST_F(PixmapTest, ClearToAColourStoresWhatWritePixelWould) {
  const uint32_t colour = Argb(200, 30, 60, 90);
  for (int format : {PIXFMT_GREY8, PIXFMT_ALPHA8, PIXFMT_BGR24, PIXFMT_RGB24, PIXFMT_BGRA32,
                     PIXFMT_RGBA32}) {
    Ref<TPixmap> cleared = PixmapCreate(5, 3, format, 8);
    Ref<TPixmap> written = PixmapCreate(1, 1, format);
    cleared->ClearPixels(colour);
    written->WritePixel(0, 0, colour);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x)
        EXPECT_EQ(cleared->ReadPixel(x, y), written->ReadPixel(0, 0)) << format;
  }
  Ref<TPixmap> blue = PixmapCreate(2, 2, PIXFMT_BLUE8);
  std::memset(blue->pixels, 5, blue->capacity);
  blue->ClearPixels(colour);
  EXPECT_EQ(blue->pixels[0], 5);
  blue->ClearPixels(0);
  EXPECT_EQ(blue->pixels[0], 0);
}

// ---- windows, copies, paste, conversion ------------------------------------------------

TEST_F(PixmapTest, WindowSharesTheParentsPixels) {
  Ref<TPixmap> parent = PixmapCreate(6, 6, PIXFMT_RGBA32);
  parent->ClearPixels(0);
  Ref<TPixmap> window = parent->Window(2, 3, 3, 2);
  EXPECT_EQ(window->pitch, parent->pitch);
  EXPECT_EQ(window->capacity, -1);
  window->WritePixel(0, 0, Argb(1, 2, 3, 4));
  EXPECT_EQ(parent->ReadPixel(2, 3), Argb(1, 2, 3, 4));
  parent->WritePixel(4, 4, Argb(5, 6, 7, 8));
  EXPECT_EQ(window->ReadPixel(2, 1), Argb(5, 6, 7, 8));
}

TEST_F(PixmapTest, WindowKeepsItsParentAlive) {
  Ref<TPixmap> parent = PixmapCreate(4, 4, PIXFMT_RGBA32);
  parent->ClearPixels(Argb(255, 9, 9, 9));
  std::weak_ptr<TPixmap> watch = parent;
  Ref<TPixmap> window = PixmapWindow(parent, 1, 1, 2, 2);
  parent.reset();
  ASSERT_FALSE(watch.expired());
  EXPECT_EQ(window->ReadPixel(1, 1), Argb(255, 9, 9, 9));
  window.reset();
  EXPECT_TRUE(watch.expired());
}

TEST_F(PixmapTest, CopyIsIndependentAndPacksToAlignFour) {
  Ref<TPixmap> source = PatternPixmap(3, 4, PIXFMT_RGB24, 16);
  Ref<TPixmap> copy = PixmapCopy(source);
  EXPECT_EQ(copy->pitch, 12);
  EXPECT_NE(copy->pixels, source->pixels);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(copy->ReadPixel(x, y), source->ReadPixel(x, y));
  copy->WritePixel(0, 0, 0);
  EXPECT_NE(source->ReadPixel(0, 0), copy->ReadPixel(0, 0));
}

TEST_F(PixmapTest, ConversionBetweenTwoOtherFormatsGoesThroughRGBA) {
  const uint8_t bgr[6] = {30, 20, 10, 255, 0, 1};
  uint8_t grey[2] = {};
  ConvertPixelRow(bgr, PIXFMT_BGR24, grey, PIXFMT_GREY8, 2);
  EXPECT_EQ(grey[0], 20);   // (10 + 20 + 30) / 3
  EXPECT_EQ(grey[1], 85);   // (1 + 0 + 255) / 3
  uint8_t intensity[2] = {};
  ConvertPixelRow(bgr, PIXFMT_BGR24, intensity, PIXFMT_INTENSITY8, 2);
  EXPECT_EQ(intensity[0], 78);  // (10 + 20 + 30 + 255) / 4, opaque alpha counted
}

TEST_F(PixmapTest, EveryFormatExpandsToRGBAByItsByteLayout) {
  // Formats 7, 8, 9 and 12 carry no alpha and expand opaque, like grey and 24-bit.
  struct Case {
    int format;
    uint8_t r, g, b, a;
  } cases[] = {
      {PIXFMT_GREY8, 50, 50, 50, 255},     {PIXFMT_ALPHA8, 255, 255, 255, 50},
      {PIXFMT_RED8, 50, 0, 0, 255},        {PIXFMT_GREEN8, 0, 50, 0, 255},
      {PIXFMT_BLUE8, 0, 0, 50, 255},       {PIXFMT_ALPHAMASK8, 0, 0, 0, 50},
      {PIXFMT_INTENSITY8, 50, 50, 50, 50}, {PIXFMT_LUMINANCE8, 50, 50, 50, 255},
  };
  for (const Case& c : cases) {
    const uint8_t value = 50;
    uint8_t rgba[4] = {1, 1, 1, 1};
    ConvertPixelRow(&value, c.format, rgba, PIXFMT_RGBA32, 1);
    EXPECT_EQ(std::vector<uint8_t>(rgba, rgba + 4), (std::vector<uint8_t>{c.r, c.g, c.b, c.a}))
        << "format " << c.format;
  }
}

TEST_F(PixmapTest, EveryFormatReducesFromRGBA) {
  const uint8_t rgba[4] = {10, 40, 100, 200};
  const int expected[13] = {0, 50, 200, 0, 0, 0, 0, 10, 40, 100, 200, 87, 50};
  for (int format : {1, 2, 7, 8, 9, 10, 11, 12}) {
    uint8_t out = 0;
    ConvertPixelRow(rgba, PIXFMT_RGBA32, &out, format, 1);
    EXPECT_EQ(out, expected[format]) << "format " << format;
  }
}

TEST_F(PixmapTest, ConvertRoundTripsThroughEveryColourFormat) {
  Ref<TPixmap> source = PatternPixmap(5, 3, PIXFMT_RGBA32);
  for (int format : {PIXFMT_BGRA32, PIXFMT_RGBA32}) {
    Ref<TPixmap> back = source->Convert(format)->Convert(PIXFMT_RGBA32);
    EXPECT_NE(back->pixels, source->pixels);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) EXPECT_EQ(back->ReadPixel(x, y), source->ReadPixel(x, y));
  }
  for (int format : {PIXFMT_RGB24, PIXFMT_BGR24}) {
    Ref<TPixmap> back = PixmapConvert(PixmapConvert(source, format), PIXFMT_BGRA32);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x)
        EXPECT_EQ(back->ReadPixel(x, y), source->ReadPixel(x, y) | 0xFF000000u);
  }
}

TEST_F(PixmapTest, PasteConvertsIntoTheTargetFormatAtAnOffset) {
  Ref<TPixmap> target = PixmapCreate(4, 4, PIXFMT_BGRA32);
  target->ClearPixels(0);
  Ref<TPixmap> source = PixmapCreate(2, 2, PIXFMT_GREY8);
  source->ClearPixels(Argb(255, 90, 90, 90));
  target->Paste(source, 1, 2);
  EXPECT_EQ(target->ReadPixel(1, 2), Argb(255, 90, 90, 90));
  EXPECT_EQ(target->ReadPixel(2, 3), Argb(255, 90, 90, 90));
  EXPECT_EQ(target->ReadPixel(0, 2), 0u);
  EXPECT_EQ(target->ReadPixel(3, 3), 0u);
  EXPECT_EQ(target->ReadPixel(1, 1), 0u);
}

TEST_F(PixmapTest, PasteOfAnOverlappingWindowOfItselfMovesPixelsIntact) {
  Ref<TPixmap> p = PixmapCreate(5, 1, PIXFMT_RGBA32);
  for (int x = 0; x < 5; ++x) p->WritePixel(x, 0, Argb(255, x, x, x));
  p->Paste(p->Window(0, 0, 4, 1), 1, 0);
  for (int x = 1; x < 5; ++x) EXPECT_EQ(p->ReadPixel(x, 0), Argb(255, x - 1, x - 1, x - 1));
}

// ---- mirror, flip, key-out ---------------------------------------------------------------

TEST_F(PixmapTest, MirrorReversesColumnsAndFlipReversesRows) {
  Ref<TPixmap> source = PatternPixmap(3, 2, PIXFMT_RGB24, 8);
  Ref<TPixmap> mirrored = PixmapMirror(source);
  Ref<TPixmap> flipped = PixmapFlip(source);
  EXPECT_EQ(mirrored->format, PIXFMT_RGB24);
  EXPECT_EQ(mirrored->pitch, 12);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(mirrored->ReadPixel(x, y), source->ReadPixel(2 - x, y));
      EXPECT_EQ(flipped->ReadPixel(x, y), source->ReadPixel(x, 1 - y));
    }
}

TEST_F(PixmapTest, KeyOutMakesKeyPixelsTransparentWithTheirNeighboursColour) {
  // Row 0: red, key, blue. Row 1: key, key, key.
  Ref<TPixmap> p = PixmapCreate(3, 2, PIXFMT_RGBA32);
  p->ClearPixels(Argb(255, 255, 0, 255));
  p->WritePixel(0, 0, Argb(17, 200, 0, 0));
  p->WritePixel(2, 0, Argb(255, 0, 0, 101));
  Ref<TPixmap> out = PixmapKeyOut(p, 255, 0, 255);
  EXPECT_EQ(out->ReadPixel(0, 0), Argb(255, 200, 0, 0));  // kept, made opaque
  EXPECT_EQ(out->ReadPixel(1, 0), Argb(0, 100, 0, 50));   // mean of red and blue
  EXPECT_EQ(out->ReadPixel(0, 1), Argb(0, 200, 0, 0));    // only red is near
  EXPECT_EQ(out->ReadPixel(1, 1), Argb(0, 100, 0, 50));   // neighbours from the source only
  EXPECT_EQ(out->ReadPixel(2, 1), Argb(0, 0, 0, 101));
  EXPECT_EQ(p->ReadPixel(1, 0), Argb(255, 255, 0, 255));  // source untouched
}

TEST_F(PixmapTest, KeyOutOfAnAllKeyImageIsAllZeroAndConvertsOtherFormats) {
  Ref<TPixmap> p = PixmapCreate(3, 3, PIXFMT_RGB24);
  p->ClearPixels(Argb(255, 10, 20, 30));
  Ref<TPixmap> out = PixmapKeyOut(p, 10, 20, 30);
  EXPECT_EQ(out->format, PIXFMT_RGBA32);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(out->ReadPixel(x, y), 0u);
}

// ---- loader chain ------------------------------------------------------------------------

namespace {

// Reads one byte and answers with a 1x1 grey pixmap of that value, or fails as told.
class ByteLoader : public TPixmapLoader {
 public:
  enum Mode { kAnswer, kDecline, kRunOut, kBreak };
  explicit ByteLoader(Mode mode) : mode(mode) {}
  Ref<TPixmap> LoadPixmap(const Ref<TStream>& stream) override {
    ++calls;
    int value = stream->ReadByte();
    if (mode == kDecline) return nullptr;
    if (mode == kRunOut) throw TStreamReadException();
    if (mode == kBreak) throw std::logic_error("broken loader");
    Ref<TPixmap> p = PixmapCreate(1, 1, PIXFMT_GREY8);
    p->pixels[0] = static_cast<uint8_t>(value);
    return p;
  }
  Mode mode;
  int calls = 0;
};

Ref<MemoryStream> StreamOf(std::vector<uint8_t> bytes) {
  auto stream = std::make_shared<MemoryStream>();
  stream->bytes = std::move(bytes);
  return stream;
}

}  // namespace

TEST_F(PixmapTest, LoadTriesNewestLoaderFirstFromTheSamePosition) {
  auto oldest = std::make_shared<ByteLoader>(ByteLoader::kAnswer);
  auto middle = std::make_shared<ByteLoader>(ByteLoader::kRunOut);
  auto newest = std::make_shared<ByteLoader>(ByteLoader::kDecline);
  auto stream = StreamOf({42, 43});
  Ref<TPixmap> p = PixmapLoad(std::static_pointer_cast<Object>(stream));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(newest->calls, 1);
  EXPECT_EQ(middle->calls, 1);
  EXPECT_EQ(p->pixels[0], 42);  // rewound after the others read a byte
  EXPECT_EQ(stream->closes, 0);  // a stream URL is wrapped, never closed
}

TEST_F(PixmapTest, LoadPropagatesErrorsOtherThanStreamErrors) {
  auto fallback = std::make_shared<ByteLoader>(ByteLoader::kAnswer);
  auto broken = std::make_shared<ByteLoader>(ByteLoader::kBreak);
  EXPECT_THROW(PixmapLoad(std::static_pointer_cast<Object>(StreamOf({1}))), std::logic_error);
  EXPECT_EQ(fallback->calls, 0);
}

TEST_F(PixmapTest, LoadGivesNullForUnseekableOrUnopenableSourcesAndGoneLoaders) {
  auto loader = std::make_shared<ByteLoader>(ByteLoader::kAnswer);
  auto pipe = StreamOf({1});
  pipe->seekable = false;
  EXPECT_EQ(PixmapLoad(std::static_pointer_cast<Object>(pipe)), nullptr);
  EXPECT_EQ(loader->calls, 0);
  EXPECT_EQ(PixmapLoad(String(u"/nonexistent-dir/none.png")), nullptr);

  TScratchDir dir;
  WriteFile(dir.path / "one.bin", {7});
  EXPECT_EQ(PixmapLoad(dir.File("one.bin"))->pixels[0], 7);
  loader.reset();  // leaves the chain
  auto decliner = std::make_shared<ByteLoader>(ByteLoader::kDecline);
  EXPECT_EQ(PixmapLoad(dir.File("one.bin")), nullptr);
}
