// Settings file: the table the sheet builder reads from "settings.ini", its aliases,
// defaults and conversions, the seed setting and the refusal of unusable values. Every test
// writes its own "settings.ini" in a fresh temporary folder.
#include <sys/stat.h>  // for mkdir, chmod
#include <unistd.h>    // for symlink

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>

#include "app/settings.h"
#include "runtime/text.h"
#include "stream/console.h"
#include "stream/temp_dir.h"

using namespace stream_test;

namespace {

void WriteSettings(const std::string& content) { WriteFileBytes("settings.ini", content); }

// Reads the settings and gives the refusal message, or "" when none was raised.
std::string RefusalOf(const std::string& content) {
  WriteSettings(content);
  try {
    ReadSheetSettings();
  } catch (const TSettingsError& error) {
    return error.what();
  }
  return std::string();
}

}  // namespace

TEST(SettingsDefaults, NoFileOrAFolderLeavesEveryDefaultAndNoTrace) {
  TScratchDir dir;
  std::vector<String> traces;
  SetDebugTraceHook([&traces](const String& text) { traces.push_back(text); });
  ReadSheetSettings();
  EXPECT_EQ(setting_count, 0);
  EXPECT_EQ(sheet_width, 512);
  EXPECT_EQ(sheet_height, 512);
  EXPECT_EQ(sprite_width, 64);
  EXPECT_EQ(sprite_height, 64);
  EXPECT_EQ(scale_mode, SCALE_NONE);
  EXPECT_EQ(output_name, u"Out");
  EXPECT_FALSE(random_seed.has_value());

  mkdir("settings.ini", 0755);
  ReadSheetSettings();
  EXPECT_EQ(setting_count, 0);
  EXPECT_TRUE(traces.empty());
  SetDebugTraceHook(nullptr);
}

TEST(SettingsDefaults, EmptyFileIsTracedAndStoresNothing) {
  TScratchDir dir;
  std::vector<String> traces;
  SetDebugTraceHook([&traces](const String& text) { traces.push_back(text); });
  WriteSettings("");
  ReadSheetSettings();
  SetDebugTraceHook(nullptr);
  EXPECT_EQ(traces, std::vector<String>{u"Found ini file"});
  EXPECT_EQ(setting_count, 0);
  EXPECT_EQ(sprite_width, 64);
  EXPECT_EQ(output_name, u"Out");
}

TEST(SettingsDefaults, FileThatNeverReportsItsEndIsReadOnceToTheLastLine) {
  // The process's own environment: a /proc file with no size, NUL-separated "NAME=value"
  // lines. Reading must stop after the last one (the alarm ends a reader that never does).
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        alarm(10);
        int code = 2;
        {  // the folder goes before the child ends, which runs no destructors
          TScratchDir dir;
          if (symlink("/proc/self/environ", "settings.ini") == 0) {
            ReadSheetSettings();
            const char* path = getenv("PATH");
            const bool found = path && SettingString(u"", u"Path") == TextFromBytes(path);
            code = setting_count > 0 && found ? 0 : 3;
          }
        }
        _exit(code);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(SettingsDefaults, EachReadStartsAfresh) {
  TScratchDir dir;
  WriteSettings("Width=32\nOutput=first\nSeed=5\n");
  ReadSheetSettings();
  EXPECT_EQ(sprite_width, 32);
  EXPECT_EQ(random_seed, 5);
  WriteSettings("Height=16\n");
  ReadSheetSettings();
  EXPECT_EQ(setting_count, 1);
  EXPECT_EQ(sprite_width, 64);
  EXPECT_EQ(sprite_height, 16);
  EXPECT_EQ(output_name, u"Out");
  EXPECT_FALSE(random_seed.has_value());
}

TEST(SettingsFile, AByteOrderMarkAtTheStartIsSkipped) {
  TScratchDir dir;
  // As Notepad writes it: the mark, then the first setting on the same line.
  WriteSettings("\xEF\xBB\xBFSheet Width=64\r\nSheet Height=32\r\n");
  ReadSheetSettings();
  EXPECT_EQ(sheet_width, 64);
  EXPECT_EQ(sheet_height, 32);
  EXPECT_EQ(setting_keys[1], u"sheetwidth");
  // A mark before a blank first line, and a file that holds nothing else.
  WriteSettings("\xEF\xBB\xBF\nWidth=8\n");
  ReadSheetSettings();
  EXPECT_EQ(setting_count, 1);
  EXPECT_EQ(sprite_width, 8);
  WriteSettings("\xEF\xBB\xBF");
  ReadSheetSettings();
  EXPECT_EQ(setting_count, 0);
  // Anywhere else the three bytes are part of the line, as they always were.
  WriteSettings("Width=8\n\xEF\xBB\xBFHeight=8\n");
  ReadSheetSettings();
  EXPECT_EQ(sprite_height, 64);
  EXPECT_EQ(setting_keys[2], String(u"\u00EF\u00BB\u00BFheight"));
  // Only the whole mark goes: two of its bytes stay.
  WriteSettings("\xEF\xBBWidth=8\n");
  ReadSheetSettings();
  EXPECT_EQ(sprite_width, 64);
}

TEST(SettingsKeys, CaseAndSpacesDoNotMatter) {
  TScratchDir dir;
  for (const char* line : {"Width = 32", "width=32", "   W I d  th  =   32   ", "\tWIDTH=32"}) {
    WriteSettings(line);
    ReadSheetSettings();
    EXPECT_EQ(sprite_width, 32) << line;
    EXPECT_EQ(sprite_height, 64) << line;
  }
  WriteSettings("sprite   WIDTH=20\r\nSHEET height = 300\r\nscreen width=200");
  ReadSheetSettings();
  EXPECT_EQ(sprite_width, 20);
  EXPECT_EQ(sheet_height, 300);
  EXPECT_EQ(sheet_width, 200);  // last line counts without a line end
}

TEST(SettingsKeys, LastMatchingLineWinsWhateverTheAlias) {
  TScratchDir dir;
  WriteSettings("Size=48\nHeight=16\n");
  ReadSheetSettings();
  EXPECT_EQ(sprite_width, 48);
  EXPECT_EQ(sprite_height, 16);

  WriteSettings("Height=16\nSize=48\n");
  ReadSheetSettings();
  EXPECT_EQ(sprite_width, 48);
  EXPECT_EQ(sprite_height, 48);

  WriteSettings("Sheet Width=100\nScreen Width=300\nSheet Width=200\n");
  ReadSheetSettings();
  EXPECT_EQ(sheet_width, 200);
}

TEST(SettingsKeys, LinesWithoutEqualsAndRemarksAreNotSettings) {
  TScratchDir dir;
  WriteSettings("[Sheet]\n\nWidth 40\n;Width=16\n# Height=8\nHeight=24\n");
  ReadSheetSettings();
  EXPECT_EQ(setting_count, 3);
  EXPECT_EQ(setting_keys[1], u";width");
  EXPECT_EQ(setting_keys[2], u"#height");
  EXPECT_EQ(sprite_width, 64);
  EXPECT_EQ(sprite_height, 24);
}

TEST(SettingsKeys, FreeSlotKeySetsEverySetting) {
  TScratchDir dir;
  WriteSettings("-1=48\n");
  ReadSheetSettings();
  EXPECT_EQ(sheet_width, 48);
  EXPECT_EQ(sheet_height, 48);
  EXPECT_EQ(sprite_width, 48);
  EXPECT_EQ(sprite_height, 48);
  EXPECT_EQ(scale_mode, SCALE_NONE);
  EXPECT_EQ(output_name, u"48");
  EXPECT_EQ(random_seed, 48);  // the seed lookup has free slots too
}

TEST(SettingsKeys, OnlyTheFirst501PairsAreStored) {
  TScratchDir dir;
  std::string content;
  for (int i = 1; i <= 501; ++i) content += "Output=name" + std::to_string(i) + "\n";
  content += "Output=late\nWidth=8\n";
  WriteSettings(content);
  ReadSheetSettings();
  EXPECT_EQ(setting_count, 501);
  EXPECT_EQ(output_name, u"name501");
  EXPECT_EQ(sprite_width, 64);
}

TEST(SettingsValues, OutputNameIsCutAtSecondEqualsAndCleaned) {
  TScratchDir dir;
  WriteSettings("Output = a=b\n");
  ReadSheetSettings();
  EXPECT_EQ(output_name, u"a");

  WriteSettings("Save As=my:sprites?\n");
  ReadSheetSettings();
  EXPECT_EQ(output_name, u"my_sprites_");

  WriteSettings("Filename= \"quoted name\" \n");
  ReadSheetSettings();
  EXPECT_EQ(output_name, u"quoted name");

  EXPECT_EQ(CleanOutputName(u"a/b\\c;d:e*f?g!h\"i.j"), u"a_b_c_d_e_f_g_hi.j");
}

TEST(SettingsValues, AnEmptyOutputNameBecomesOutWithANoteAndControlCharactersUnderscores) {
  TScratchDir dir;
  WriteSettings("Output=\n");
  ReadSheetSettings();
  EXPECT_EQ(output_name, u"Out");
  EXPECT_EQ(setting_notes,
            std::vector<std::string>{"The output name is empty; the files are named \"Out\""});
  // Emptied by the cleaning: only double quotes.
  WriteSettings("Save As = \"\" \n");
  ReadSheetSettings();
  EXPECT_EQ(output_name, u"Out");
  ASSERT_EQ(setting_notes.size(), 1u);
  EXPECT_NE(setting_notes[0].find("once its double quotes are removed"), std::string::npos);
  // A tab, an escape and other bytes below 32 inside a name become underscores, no note.
  WriteSettings("Output= sheet\tone\x01\x1B[1m \n");
  ReadSheetSettings();
  EXPECT_EQ(output_name, u"sheet_one__[1m");
  EXPECT_TRUE(setting_notes.empty());
  // So do DEL and the C1 bytes 0x80-0x9F (0x9B starts an escape sequence on some
  // terminals); the bytes around them, 0x7E and 0xA0, stay.
  WriteSettings("Output=a\x7F" "b\x80" "c\x9B" "d\x9F" "e\x7E\xA0\n");
  ReadSheetSettings();
  EXPECT_EQ(output_name, u"a_b_c_d_e~\u00A0");
  // No output line at all is simply the default, said nothing about.
  WriteSettings("Width=32\n");
  ReadSheetSettings();
  EXPECT_EQ(output_name, u"Out");
  EXPECT_TRUE(setting_notes.empty());
}

TEST(SettingsValues, NumbersInEveryNotation) {
  TScratchDir dir;
  WriteSettings("Width=$20\nHeight=%1000\nSheet Width=12px\nSheet Height= +640\n");
  ReadSheetSettings();
  EXPECT_EQ(sprite_width, 32);
  EXPECT_EQ(sprite_height, 8);
  EXPECT_EQ(sheet_width, 12);
  EXPECT_EQ(sheet_height, 640);

  EXPECT_EQ(ParseInt(u"-8"), -8);
  EXPECT_EQ(ParseInt(u"  \t42"), 42);
  EXPECT_EQ(ParseInt(u"$fF"), 255);
  EXPECT_EQ(ParseInt(u"-$10"), -16);
  EXPECT_EQ(ParseInt(u"%1021"), 2);
  EXPECT_EQ(ParseInt(u"12abc"), 12);
  EXPECT_EQ(ParseInt(u"abc"), 0);
  EXPECT_EQ(ParseInt(u""), 0);
  EXPECT_EQ(ParseInt(u"$"), 0);
  EXPECT_EQ(ParseInt(u"- 5"), 0);
  EXPECT_EQ(ParseInt(u"2147483647"), 2147483647);
}

TEST(SettingsValues, ScaleWords) {
  TScratchDir dir;
  const std::pair<const char*, int> cases[] = {
      {"Make=grow", SCALE_GROW},      {"Rescale=True", SCALE_GROW},
      {"Make=Larger", SCALE_GROW},    {"make=BIGGER", SCALE_GROW},
      {"Make=smaller", SCALE_SHRINK}, {"Rescale = Shrink ", SCALE_SHRINK},
      {"Make=yes", SCALE_NONE},       {"Make=grow!", SCALE_NONE},
  };
  for (const auto& [line, expected] : cases) {
    WriteSettings(line);
    ReadSheetSettings();
    EXPECT_EQ(scale_mode, expected) << line;
  }
}

TEST(SettingsValues, AtlasAndSplitWords) {
  TScratchDir dir;
  const std::tuple<const char*, AtlasFormat, bool> cases[] = {
      {"", AtlasFormat::None, false},
      {"Atlas=json\nSplit=True", AtlasFormat::Json, true},
      {"Atlas File = TRUE\nSprite Files=true", AtlasFormat::Json, true},
      {"atlas=Json\nSPLIT=tRUE", AtlasFormat::Json, true},
      {"Atlas=yes\nSplit=json", AtlasFormat::None, false},
      {"Atlas=JSON!\nSplit=1", AtlasFormat::None, false},
  };
  for (const auto& [lines, atlas, split] : cases) {
    WriteSettings(lines);
    ReadSheetSettings();
    EXPECT_EQ(atlas_format, atlas) << lines;
    EXPECT_EQ(split_sprites, split) << lines;
  }
}

TEST(SettingsValues, ThreadsCountsEveryCoreUnlessGivenAndBelowZeroIsZero) {
  TScratchDir dir;
  const std::pair<const char*, int> cases[] = {
      {"", 0}, {"Threads=1", 1}, {"threads = 7", 7}, {"Threads=-3", 0}, {"Threads=$10", 16},
  };
  for (const auto& [lines, threads] : cases) {
    WriteSettings(lines);
    ReadSheetSettings();
    EXPECT_EQ(draw_threads, threads) << lines;
  }
}

TEST(SettingsValues, RendererWords) {
  TScratchDir dir;
  const std::pair<const char*, TRenderer> cases[] = {
      {"", TRenderer::Software},
      {"Renderer=OpenGL", TRenderer::OpenGL},
      {"renderer = opengl ", TRenderer::OpenGL},
      {"Renderer=Software", TRenderer::Software},
      {"Renderer=Vulkan", TRenderer::Software},  // an unknown word keeps the default
      {"Renderer=OpenGL\nRenderer=GL", TRenderer::Software},
  };
  for (const auto& [lines, expected] : cases) {
    WriteSettings(lines);
    ReadSheetSettings();
    EXPECT_EQ(renderer, expected) << lines;
  }
}

TEST(SettingsValues, SplitFieldTakesTrimmedFields) {
  EXPECT_EQ(SplitField(u"  key = v = w ", u"=", 1), u"key ");
  EXPECT_EQ(SplitField(u"  key = v = w ", u"=", 2), u" v ");
  EXPECT_EQ(SplitField(u"  key = v = w ", u"=", 3), u" w");
  EXPECT_EQ(SplitField(u"key=", u"=", 2), u"");
  EXPECT_EQ(SplitField(u"novalue", u"=", 2), u"");
}

TEST(SettingsValues, LookupsFallBackToTheirDefaults) {
  TScratchDir dir;
  WriteSettings("Colour=red\nDepth=$10\n");
  ReadSheetSettings();
  EXPECT_EQ(SettingInt(7, u"Missing"), 7);
  EXPECT_EQ(SettingInt(7, u"Missing", u" DEP TH "), 16);
  EXPECT_EQ(SettingString(u"none", u"x", u"y", u"z", u"w", u"v", u"u", u"colour"), u"red");
}

TEST(SettingsSeed, SeedUnderEitherKey) {
  TScratchDir dir;
  WriteSettings("Seed=1234\n");
  ReadSheetSettings();
  EXPECT_EQ(random_seed, 1234);

  WriteSettings("random seed = $FF\nSeed=abc\n");
  ReadSheetSettings();
  ASSERT_TRUE(random_seed.has_value());
  EXPECT_EQ(*random_seed, 0);  // last line wins, letters give 0

  WriteSettings("Random Seed=-7\nWidth=32\n");
  ReadSheetSettings();
  EXPECT_EQ(random_seed, -7);
  EXPECT_EQ(sprite_width, 32);
}

TEST(SettingsRefusals, SizesBelowOneAreRefusedWithOneClearLine) {
  TScratchDir dir;
  EXPECT_EQ(RefusalOf("Width=0\n"), "sprite width must be at least 1 (got 0)");
  EXPECT_EQ(RefusalOf("Width=-8\n"), "sprite width must be at least 1 (got -8)");
  EXPECT_EQ(RefusalOf("Size=0\n"), "sprite width must be at least 1 (got 0)");
  EXPECT_EQ(RefusalOf("Height=abc\n"), "sprite height must be at least 1 (got 0)");
  EXPECT_EQ(RefusalOf("Sheet Width=0\n"), "sheet width must be at least 1 (got 0)");
  EXPECT_EQ(RefusalOf("Screen Height=-$10\n"), "sheet height must be at least 1 (got -16)");
  EXPECT_EQ(RefusalOf("Width=1\nHeight=1\nSheet Width=1\nSheet Height=1\n"), "");
}

TEST(SettingsRefusals, NumbersThatDoNotFitIn32BitsAreRefusedAsWritten) {
  TScratchDir dir;
  EXPECT_EQ(RefusalOf("Sprite Width=4294967297\n"),
            "sprite width must fit in 32 bits (got \"4294967297\")");
  EXPECT_EQ(RefusalOf("Sheet Height = 99999999999 px\n"),
            "sheet height must fit in 32 bits (got \"99999999999 px\")");
  EXPECT_EQ(RefusalOf("Size=$100000040\n"), "sprite width must fit in 32 bits (got \"$100000040\")");
  EXPECT_EQ(RefusalOf("Height=%1" + std::string(32, '0') + "\n"),
            "sprite height must fit in 32 bits (got \"%1" + std::string(32, '0') + "\")");
  EXPECT_EQ(RefusalOf("Seed=-18446744073709551617\n"),
            "seed must fit in 32 bits (got \"-18446744073709551617\")");
  // A value that is only found by a later line is the one judged.
  EXPECT_EQ(RefusalOf("Width=4294967297\nWidth=32\n"), "");
  // Digits that fit keep the number they always gave, wrapped into an int or not.
  EXPECT_EQ(RefusalOf("Seed=4294967295\nSheet Width=$7FFFFFFF\nWidth=%11111\n"), "");
  EXPECT_EQ(random_seed, -1);
  EXPECT_EQ(sheet_width, 2147483647);
  EXPECT_EQ(sprite_width, 31);
  bool fits = true;
  EXPECT_EQ(ParseIntFitting(u"0000000000000000000042", fits), 42);  // leading zeros are free
  EXPECT_TRUE(fits);
  EXPECT_EQ(ParseIntFitting(u"$FFFFFFFF", fits), -1);
  EXPECT_TRUE(fits);
  EXPECT_EQ(ParseIntFitting(u"4294967296", fits), 0);
  EXPECT_FALSE(fits);
}

TEST(SettingsRefusals, FileThatCannotBeOpenedIsRefused) {
  TScratchDir dir;
  // Without privileges a file with no permissions will do; a privileged user opens that,
  // so fall back on a kernel file that refuses reading to everyone.
  WriteSettings("Width=32\n");
  chmod("settings.ini", 0);
  if (FILE* probe = fopen("settings.ini", "rb")) {
    fclose(probe);
    remove("settings.ini");
    const char* refusing = "/proc/sys/vm/drop_caches";
    FILE* check = fopen(refusing, "rb");
    if (check) fclose(check);
    if (check || symlink(refusing, "settings.ini") != 0) {
      GTEST_SKIP() << "no file here is both regular and unreadable";
    }
  }
  ASSERT_EQ(GetFileType(u"settings.ini"), FILETYPE_FILE);
  try {
    ReadSheetSettings();
    FAIL() << "an unreadable settings.ini was accepted";
  } catch (const TSettingsError& error) {
    EXPECT_STREQ(error.what(), "settings.ini exists but cannot be opened for reading");
  }
}

TEST(SettingsFromTheCommandLine, LinesComeAfterTheFileAndEveryOriginIsKnown) {
  TScratchDir dir;
  // The file fills its 501 pairs; the command line's lines still count, after them.
  std::string full = "Width=16\nOutput=file\n";
  for (int i = 0; i < 499; ++i) full += "Filler=" + std::to_string(i) + "\n";
  WriteSettings(full);
  TSettingsSource source;
  source.lines = {u"Output = first", u"SAVEAS=second", u"Screen Height=$40"};
  ReadSheetSettings(source);
  EXPECT_EQ(setting_count, 504);
  EXPECT_EQ(output_name, u"second");
  EXPECT_EQ(sheet_height, 64);
  EXPECT_EQ(sprite_width, 16);
  EXPECT_EQ(SettingOrigin(TSettingId::OutputName), TSettingOrigin::CommandLine);
  EXPECT_EQ(SettingOrigin(TSettingId::SheetHeight), TSettingOrigin::CommandLine);
  EXPECT_EQ(SettingOrigin(TSettingId::SpriteWidth), TSettingOrigin::File);
  EXPECT_EQ(SettingOrigin(TSettingId::SpriteHeight), TSettingOrigin::Default);
  // "-1" sets every setting in a file, and so on the command line.
  source.lines = {u"-1=48"};
  ReadSheetSettings(source);
  EXPECT_EQ(sheet_width, 48);
  EXPECT_EQ(output_name, u"48");
  EXPECT_EQ(SettingOrigin(TSettingId::Renderer), TSettingOrigin::CommandLine);
}

TEST(SettingsFromTheCommandLine, AnUnknownKeyIsToldTheClosestKnownOne) {
  for (const char16_t* key : {u"Seed", u"random seed", u"SPRITESIZE", u" Save  As ", u"-1"}) {
    EXPECT_TRUE(IsSettingKey(key)) << TextToUtf8(key);
  }
  const std::pair<const char16_t*, const char16_t*> typos[] = {
      {u"Sede", u"Seed"},           {u"Outptu", u"Output"},
      {u"sprite widht", u"Sprite Width"}, {u"Rendrer", u"Renderer"},
      {u"Sheet Wdth", u"Sheet Width"},    {u"Atlass", u"Atlas"},
      {u"Colour", u""},             {u"x", u""},
  };
  for (const auto& [typo, meant] : typos) {
    EXPECT_FALSE(IsSettingKey(typo)) << TextToUtf8(typo);
    EXPECT_EQ(ClosestSettingKey(typo), String(meant)) << TextToUtf8(typo);
  }
}

TEST(SettingsFromTheCommandLine, ANamedFileMustBeReadable) {
  TScratchDir dir;
  mkdir("folder.ini", 0755);
  for (const auto& [file, reason] : {std::pair{u"missing.ini", "no such file"},
                                     std::pair{u"folder.ini", "it is a folder"}}) {
    TSettingsSource source;
    source.file = file;
    try {
      ReadSheetSettings(source);
      ADD_FAILURE() << reason;
    } catch (const TSettingsError& error) {
      EXPECT_EQ(error.what(), "Could not read the settings file \"" + TextToUtf8(file) +
                                  "\": " + reason);
    }
  }
}
