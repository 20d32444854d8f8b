// Atlas and sprite files: the frames of every sheet file in each scaling mode, single-sprite
// files cut from the sheet, a sheet with no cells, and files that cannot be written.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>  // for std::count
#include <filesystem>
#include <string>
#include <vector>

#include "app/atlas.h"
#include "app/output.h"
#include "app/settings.h"
#include "runtime/text.h"
#include "sheet_files_test.h"

namespace {

using nlohmann::json;

// A keyed-out sheet of distinct pixels.
Ref<TPixmap> MakeSheet(int width, int height, int seed) {
  Ref<TPixmap> sheet = PatternSheet(width, height, seed);
  KeyOutSheet(sheet);
  return sheet;
}

std::string ReadText(const std::filesystem::path& file) {
  const std::vector<uint8_t> bytes = ReadBytes(file);
  return std::string(bytes.begin(), bytes.end());
}

json ReadJson(const std::filesystem::path& file) { return json::parse(ReadText(file)); }

class AtlasTest : public SheetFilesTest {
 protected:
  void SetUp() override {
    SheetFilesTest::SetUp();
    sprite_width = 30;  // a 100 x 50 sheet holds 3 x 2 cells and strips of 10 and 6
    sprite_height = 22;
    atlas_format = AtlasFormat::Json;
  }
};

TEST_F(AtlasTest, FramesFollowThePixelsOfEachFileInEveryScaling) {
  struct File {
    const char* name;
    int width, height;
    const char* scale;
    std::vector<int> xs, ys;  // left edges of the columns, top edges of the rows
    int w, h;
  };
  struct Mode {
    int mode;
    std::vector<File> files;
  };
  // Shrunk files truncate every edge on its own, as their sizes are: 30 x 22 quartered is
  // 7 x 5, and the third column starts at 60 / 4 = 15.
  const Mode modes[] = {
      {SCALE_NONE, {{"Out", 100, 50, "1", {0, 30, 60}, {0, 22}, 30, 22}}},
      {SCALE_GROW,
       {{"Out", 100, 50, "1", {0, 30, 60}, {0, 22}, 30, 22},
        {"Out-hd", 200, 100, "2", {0, 60, 120}, {0, 44}, 60, 44},
        {"Out-hd2", 400, 200, "4", {0, 120, 240}, {0, 88}, 120, 88}}},
      {SCALE_SHRINK,
       {{"Out-hd2", 100, 50, "4", {0, 30, 60}, {0, 22}, 30, 22},
        {"Out-hd", 50, 25, "2", {0, 15, 30}, {0, 11}, 15, 11},
        {"Out", 25, 12, "1", {0, 7, 15}, {0, 5}, 7, 5}}},
  };
  const Ref<TPixmap> sheet = MakeSheet(100, 50, 1);
  for (const Mode& m : modes) {
    TScratchDir run;
    scale_mode = m.mode;
    ASSERT_EQ(SaveSheetFiles(sheet), 0);
    EXPECT_EQ(run.Files().size(), 2 * m.files.size());
    for (const File& f : m.files) {
      SCOPED_TRACE(f.name);
      const std::string image = std::string(f.name) + ".png";
      const std::string text = ReadText(run / (std::string(f.name) + ".json"));
      json atlas = json::parse(text);
      EXPECT_TRUE(atlas["meta"]["version"].is_string());
      atlas["meta"].erase("version");
      const json expected_meta = {{"app", "Sheet Builder"}, {"format", "RGBA8888"},
                                  {"image", image},         {"scale", f.scale},
                                  {"size", {{"w", f.width}, {"h", f.height}}}};
      EXPECT_EQ(atlas["meta"], expected_meta);
      EXPECT_EQ(ReadPngHeader(run / image).width, uint32_t(f.width));
      EXPECT_EQ(ReadPngHeader(run / image).height, uint32_t(f.height));
      ASSERT_EQ(atlas["frames"].size(), 6u);
      size_t previous = 0;
      for (int i = 0; i < 6; ++i) {
        const std::string key = "sprite_00" + std::to_string(i);
        const json rect = {{"x", f.xs[i % 3]}, {"y", f.ys[i / 3]}, {"w", f.w}, {"h", f.h}};
        const json expected = {{"frame", rect},
                               {"rotated", false},
                               {"trimmed", false},
                               {"spriteSourceSize", {{"x", 0}, {"y", 0}, {"w", f.w}, {"h", f.h}}},
                               {"sourceSize", {{"w", f.w}, {"h", f.h}}}};
        EXPECT_EQ(atlas["frames"][key], expected) << key;
        // Frames come in drawing order in the file as well.
        const size_t at = text.find("\"" + key + "\"");
        EXPECT_GT(at, previous) << key;
        previous = at;
      }
    }
  }
}

TEST_F(AtlasTest, EachSpriteFileIsItsCellOfTheSheetAndARepeatReplacesThem) {
  split_sprites = true;
  scale_mode = SCALE_GROW;  // sprite files keep the size the sheet was drawn at
  for (int seed : {2, 3}) {
    const Ref<TPixmap> sheet = MakeSheet(100, 50, seed);
    ASSERT_EQ(SaveSheetFiles(sheet), 0);
    EXPECT_EQ(WrittenSpriteFileCount(), 6);
    EXPECT_EQ(dir.Files().size(), 12u);  // three sheets, their atlases, six sprites
    for (int i = 0; i < 6; ++i) {
      const Ref<TPixmap> sprite = PixmapLoad(TextFromBytes("Out-00" + std::to_string(i) + ".png"));
      ASSERT_TRUE(sprite) << i;
      ASSERT_EQ(sprite->width, 30);
      ASSERT_EQ(sprite->height, 22);
      for (int y = 0; y < 22; ++y) {
        for (int x = 0; x < 30; ++x) {
          ASSERT_EQ(PixmapReadPixel(sprite, x, y),
                    PixmapReadPixel(sheet, 30 * (i % 3) + x, 22 * (i / 3) + y))
              << "seed " << seed << " sprite " << i << " at " << x << "," << y;
        }
      }
    }
  }
}

TEST_F(AtlasTest, ASheetWithNoCellsHasAnEmptyFramesObjectAndNoSpriteFiles) {
  split_sprites = true;
  ASSERT_EQ(SaveSheetFiles(MakeSheet(20, 10, 4)), 0);
  const json atlas = ReadJson(dir / "Out.json");
  EXPECT_TRUE(atlas["frames"].is_object());
  EXPECT_TRUE(atlas["frames"].empty());
  EXPECT_EQ(atlas["meta"]["size"], (json{{"w", 20}, {"h", 10}}));
  EXPECT_EQ(WrittenSpriteFileCount(), 0);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"Out.json", "Out.png"}));
}

TEST_F(AtlasTest, EveryFileThatCannotBeWrittenIsNamedOnALineAndTheOthersComeOut) {
  // In the way: a folder named like the atlas, one named like the second sprite file, and
  // one named like the doubled sheet, whose atlas then is not written either.
  for (const char* name : {"Out.json", "Out-001.png", "Out-hd.png"}) {
    std::filesystem::create_directory(dir / name);
  }
  split_sprites = true;
  scale_mode = SCALE_GROW;
  testing::internal::CaptureStderr();
  EXPECT_EQ(SaveSheetFiles(MakeSheet(100, 50, 5)), 1);
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 4) << messages;
  for (const char* name : {"\"Out.json\"", "\"Out-001.png\"", "\"Out-hd.png\"",
                           "\"Out-hd.json\": its image"}) {
    EXPECT_NE(messages.find(name), std::string::npos) << name << "\n" << messages;
  }
  EXPECT_EQ(WrittenSheetFiles(),
            (std::vector<String>{u"Out.png", u"Out-hd2.png", u"Out-hd2.json"}));
  EXPECT_EQ(WrittenSpriteFileCount(), 5);
  // Nothing else is left behind: no temporary file, no atlas beside the missing image.
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"Out-000.png", "Out-001.png", "Out-002.png",
                                                   "Out-003.png", "Out-004.png", "Out-005.png",
                                                   "Out-hd.png", "Out-hd2.json", "Out-hd2.png",
                                                   "Out.json", "Out.png"}));
}

TEST_F(AtlasTest, AFullDiskIsTheReasonGivenForEveryKindOfFile) {
  // /dev/full refuses every byte with ENOSPC; a link to it stands for a full disk. An atlas
  // is small enough that its failure shows only when its file is closed.
  for (const char* name : {"Out.json", "Out-hd.png", "Out-002.png"}) {
    std::filesystem::create_symlink("/dev/full", dir / name);
  }
  split_sprites = true;
  scale_mode = SCALE_GROW;
  testing::internal::CaptureStderr();
  EXPECT_EQ(SaveSheetFiles(MakeSheet(100, 50, 5)), 1);
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 4) << messages;
  for (const char* line : {"\"Out.json\": No space left on device\n",
                           "\"Out-hd.png\": No space left on device\n",
                           "\"Out-hd.json\": its image \"Out-hd.png\" was not written\n",
                           "\"Out-002.png\": No space left on device\n"}) {
    EXPECT_NE(messages.find(line), std::string::npos) << line << "\n" << messages;
  }
  EXPECT_EQ(WrittenSheetFiles(),
            (std::vector<String>{u"Out.png", u"Out-hd2.png", u"Out-hd2.json"}));
  EXPECT_EQ(WrittenSpriteFileCount(), 5);
}

TEST(AtlasNames, NumbersWidenWithTheGridSoNamesSortInDrawingOrder) {
  const SheetGrid small = GridOfSheet(100, 50, 30, 22);
  EXPECT_EQ(SpriteFileName(u"a b", small, 5), u"a b-005.png");
  const SheetGrid large = GridOfSheet(64, 64, 2, 2);  // 1024 cells
  EXPECT_EQ(SpriteKey(large, 7), "sprite_0007");
  EXPECT_EQ(SpriteKey(large, 1023), "sprite_1023");
}

}  // namespace

namespace {

TEST(AtlasFiles, AnAtlasIsReplacedByTheRulesTheSheetsFollow) {
  // A link named like the atlas is written through and stays a link; a file the user may
  // not write would be refused the same way (see the replacement tests).
  TScratchDir dir;
  dir.Write("real.json", "old");
  std::filesystem::create_symlink("real.json", dir / "Out.json");
  EXPECT_EQ(ReplaceFileWith(u"Out.json", "{}\n"), "");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "Out.json"));
  EXPECT_EQ(ReadText(dir / "real.json"), "{}\n");
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"Out.json", "real.json"}));
}

}  // namespace
