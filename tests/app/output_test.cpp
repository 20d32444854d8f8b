// Sheet output: the key-out pass, the pixel-replicated enlargements, the files and their
// sizes per scaling mode, and the reports of files that could not be written.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/output.h"
#include "app/settings.h"
#include "stream/replace.h"  // for the file system's name limit
#include "sheet_files_test.h"

namespace {

// A sheet of distinct pixels, some key-coloured, seeded by its size.
Ref<TPixmap> MakeSheet(int width, int height) {
  return PatternSheet(width, height, width * 1000 + height);
}

using OutputTest = SheetFilesTest;

TEST_F(OutputTest, KeyOutClearsExactlyTheKeyColourWhateverItsAlpha) {
  Ref<TPixmap> sheet = PixmapCreate(3, 2, PIXFMT_RGBA32, 4);
  const uint32_t before[6] = {0xFFFF00FF, 0x00FF00FF, 0x80FF00FF,
                              0xFFFE00FF, 0xFFFF01FF, 0xFF000000};
  const uint32_t after[6] = {0, 0, 0, 0xFFFE00FF, 0xFFFF01FF, 0xFF000000};
  for (int i = 0; i < 6; ++i) PixmapWritePixel(sheet, i % 3, i / 3, before[i]);
  KeyOutSheet(sheet);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(PixmapReadPixel(sheet, i % 3, i / 3), after[i]) << i;
}

TEST_F(OutputTest, TheLongestNameOfTheRunMustFitTheFileSystemBeforeAnythingIsDrawn) {
  // This scratch folder's file system takes names of 255 units: bytes on POSIX systems,
  // UTF-16 units on Windows.
  ASSERT_EQ(FileNameLimit(u"."), 255u);
  const std::string too_long = std::string("256 ") + FileNameUnits();
  const int width = sheet_width, height = sheet_height;
  sheet_width = sheet_height = 64;
  output_name = String(251, u'n');  // "nnn.png" is 255 bytes
  EXPECT_EQ(OutputNameProblem(u"."), "");
  atlas_format = AtlasFormat::Json;  // "nnn.json" is 256
  EXPECT_EQ(LongestOutputName(), output_name + u".json");
  const std::string problem = OutputNameProblem(u".");
  EXPECT_NE(problem.find(".json\" is too long: " + too_long +
                         ", and the file system allows 255"),
            std::string::npos)
      << problem;
  atlas_format = AtlasFormat::None;
  // Every file of a mode counts: the "-hd2" names, and the sprite numbers, which widen to
  // four digits for 1024 sprites.
  output_name = String(247, u'n');
  scale_mode = SCALE_SHRINK;
  EXPECT_EQ(LongestOutputName(), output_name + u"-hd2.png");
  EXPECT_EQ(OutputNameProblem(u"."), "");  // 255 exactly
  scale_mode = SCALE_NONE;
  split_sprites = true;
  sprite_width = sprite_height = 2;  // 32 x 32 = 1024 sprites
  EXPECT_EQ(LongestOutputName(), output_name + u"-0000.png");
  EXPECT_NE(OutputNameProblem(u".").find(too_long), std::string::npos);
  // Letters beyond ASCII count as the file system counts them: 126 two-byte letters and
  // ".png" are 256 UTF-8 bytes, but only 130 UTF-16 units.
  split_sprites = false;
  output_name = String(126, u'\u00E9');
  if (std::string(FileNameUnits()) == "bytes") {
    EXPECT_NE(OutputNameProblem(u".").find(too_long), std::string::npos);
  } else {
    EXPECT_EQ(OutputNameProblem(u"."), "");
  }
  sheet_width = width;
  sheet_height = height;
}

TEST_F(OutputTest, EnlargementsAreExactReplicas) {
  Ref<TPixmap> sheet = MakeSheet(5, 3);
  Ref<TPixmap> doubled = EnlargeSheet(sheet, 2);
  Ref<TPixmap> quadrupled = EnlargeSheet(sheet, 4);
  ASSERT_TRUE(doubled && quadrupled);
  ASSERT_EQ(doubled->width, 10);
  ASSERT_EQ(doubled->height, 6);
  ASSERT_EQ(quadrupled->width, 20);
  ASSERT_EQ(quadrupled->height, 12);
  EXPECT_EQ(doubled->format, PIXFMT_RGBA32);
  EXPECT_EQ(quadrupled->format, PIXFMT_RGBA32);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 20; ++x) {
      const uint32_t source = PixmapReadPixel(sheet, x / 4, y / 4);
      ASSERT_EQ(PixmapReadPixel(quadrupled, x, y), source) << x << "," << y;
      if (x < 10 && y < 6) {
        ASSERT_EQ(PixmapReadPixel(doubled, x, y), PixmapReadPixel(sheet, x / 2, y / 2));
      }
    }
  }
}

TEST_F(OutputTest, EnlargingASheetTooBigForAPixmapIsRefusedNotWrapped) {
  // 12000 x 12000 would need a 48000-pixel-square copy: more bytes than a pixmap can hold.
  // The guard decides from the size alone, so the sheet's memory is never read.
  uint32_t one_pixel = 0;
  Ref<TPixmap> huge = PixmapCreateStatic(&one_pixel, 12000, 12000, 48000, PIXFMT_RGBA32);
  EXPECT_FALSE(EnlargeSheet(huge, 2));
  EXPECT_FALSE(EnlargeSheet(huge, 4));
}

TEST_F(OutputTest, EveryFileThatCannotBeMadeGetsALineOfItsOwn) {
  // The base file cannot be created (no such folder) and the sheet is too big to enlarge:
  // three missing files, three lines, each naming its file. Nothing reads the pixels.
  uint32_t one_pixel = 0;
  Ref<TPixmap> huge = PixmapCreateStatic(&one_pixel, 12000, 12000, 48000, PIXFMT_RGBA32);
  output_name = u"no-such-folder/Out";
  scale_mode = SCALE_GROW;
  testing::internal::CaptureStderr();
  const int status = SaveSheetFiles(huge);
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(WrittenSheetFiles().empty());
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = messages.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(messages.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 3u) << messages;
  const char* names[] = {"\"no-such-folder/Out.png\"", "\"no-such-folder/Out-hd.png\"",
                         "\"no-such-folder/Out-hd2.png\""};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_NE(lines[i].find(names[i]), std::string::npos) << lines[i];
    EXPECT_EQ(lines[i].find(names[(i + 1) % 3]), std::string::npos) << lines[i];
  }
}

TEST_F(OutputTest, ACopyBeyondTheImageSizeLimitSaysSoNotThatMemoryRanOut) {
  // 8192 x 8192 grown: the doubled copy (1 GiB) may be made, the quadrupled one (4 GiB)
  // never, whatever the memory. Decided from the size alone: no pixel is read.
  uint32_t one_pixel = 0;
  Ref<TPixmap> big = PixmapCreateStatic(&one_pixel, 8192, 8192, 32768, PIXFMT_RGBA32);
  EXPECT_FALSE(EnlargeSheet(big, 4));
  EXPECT_TRUE(PixmapFits(16384, 16384, PIXFMT_RGBA32));
  EXPECT_FALSE(PixmapFits(32768, 32768, PIXFMT_RGBA32));
  EXPECT_FALSE(PixmapFits(32768, 16384, PIXFMT_RGBA32));  // exactly 2 GiB: one byte too many
  EXPECT_TRUE(PixmapFits(32767, 16384, PIXFMT_RGBA32));
  // The lines for copies over the limit name the limit.
  Ref<TPixmap> huge = PixmapCreateStatic(&one_pixel, 12000, 12000, 48000, PIXFMT_RGBA32);
  output_name = u"no-such-folder/Out";
  scale_mode = SCALE_GROW;
  testing::internal::CaptureStderr();
  EXPECT_EQ(SaveSheetFiles(huge), 1);
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_NE(messages.find("\"no-such-folder/Out-hd.png\": the 24000 x 24000 copy would need "
                          "2.1 GiB, more than the 2 GiB one image can hold"),
            std::string::npos) << messages;
  EXPECT_NE(messages.find("\"no-such-folder/Out-hd2.png\": the 48000 x 48000 copy would need "
                          "8.6 GiB, more than the 2 GiB one image can hold"),
            std::string::npos) << messages;
  EXPECT_EQ(messages.find("memory"), std::string::npos) << messages;
}

TEST_F(OutputTest, EachModeWritesItsFilesInOrderAndSize) {
  Ref<TPixmap> sheet = MakeSheet(16, 8);
  struct Case {
    int mode;
    std::vector<String> names;
    std::vector<uint32_t> widths;  // heights are half
  };
  const Case cases[] = {
      {SCALE_NONE, {u"Out.png"}, {16}},
      {SCALE_GROW, {u"Out.png", u"Out-hd.png", u"Out-hd2.png"}, {16, 32, 64}},
      {SCALE_SHRINK, {u"Out-hd2.png", u"Out-hd.png", u"Out.png"}, {16, 8, 4}},
  };
  for (const Case& c : cases) {
    TScratchDir run;
    scale_mode = c.mode;
    EXPECT_EQ(SaveSheetFiles(sheet), 0) << "mode " << c.mode;
    EXPECT_EQ(WrittenSheetFiles(), c.names) << "mode " << c.mode;
    EXPECT_EQ(run.Files().size(), c.names.size()) << "mode " << c.mode;
    for (size_t i = 0; i < c.names.size(); ++i) {
      const PngHeader h = ReadPngHeader(run / std::string(c.names[i].begin(), c.names[i].end()));
      EXPECT_EQ(h.width, c.widths[i]) << "mode " << c.mode << " file " << i;
      EXPECT_EQ(h.height, c.widths[i] / 2) << "mode " << c.mode << " file " << i;
      EXPECT_EQ(h.bit_depth, 8);
      EXPECT_EQ(h.colour_type, 6);  // RGBA
      EXPECT_EQ(h.interlace, 0);
    }
  }
}

TEST_F(OutputTest, SavedSheetReadsBackPixelForPixel) {
  Ref<TPixmap> sheet = MakeSheet(7, 5);
  KeyOutSheet(sheet);
  scale_mode = SCALE_GROW;
  ASSERT_EQ(SaveSheetFiles(sheet), 0);
  Ref<TPixmap> base = PixmapLoad(String(u"Out.png"));
  Ref<TPixmap> quad = PixmapLoad(String(u"Out-hd2.png"));
  ASSERT_TRUE(base && quad);
  ASSERT_EQ(base->width, 7);
  ASSERT_EQ(quad->width, 28);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 28; ++x) {
      ASSERT_EQ(PixmapReadPixel(quad, x, y), PixmapReadPixel(sheet, x / 4, y / 4));
      if (x < 7 && y < 5) {
        ASSERT_EQ(PixmapReadPixel(base, x, y), PixmapReadPixel(sheet, x, y));
      }
    }
  }
}

TEST_F(OutputTest, ShrinkingATinySheetSkipsTheEmptyFileWithAMessage) {
  // 6 x 3: half is 3 x 1, a quarter would be 1 x 0.
  scale_mode = SCALE_SHRINK;
  testing::internal::CaptureStderr();
  const int status = SaveSheetFiles(MakeSheet(6, 3));
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(WrittenSheetFiles(), (std::vector<String>{u"Out-hd2.png", u"Out-hd.png"}));
  EXPECT_EQ(ReadPngHeader(dir / "Out-hd.png").height, 1u);
  EXPECT_FALSE(std::filesystem::exists(dir / "Out.png"));
  EXPECT_NE(messages.find("\"Out.png\""), std::string::npos) << messages;
  EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 1) << messages;
}

TEST_F(OutputTest, AFileThatCannotBeWrittenIsNamedAndTheOthersStillComeOut) {
  // A directory in the way of the first file.
  std::filesystem::create_directory(dir / "Out.png");
  scale_mode = SCALE_GROW;
  testing::internal::CaptureStderr();
  const int status = SaveSheetFiles(MakeSheet(4, 4));
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 1);
  EXPECT_EQ(WrittenSheetFiles(), (std::vector<String>{u"Out-hd.png", u"Out-hd2.png"}));
  EXPECT_EQ(ReadPngHeader(dir / "Out-hd2.png").width, 16u);
  EXPECT_NE(messages.find("\"Out.png\""), std::string::npos) << messages;
  EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 1) << messages;
  // No temporary file is left behind.
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"Out-hd.png", "Out-hd2.png", "Out.png"}));
}

}  // namespace
