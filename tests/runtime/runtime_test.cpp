#include <gtest/gtest.h>

#include <filesystem>

#include <vector>

#include "runtime/runtime.h"
#include "runtime/text.h"

TEST(Text, BytesMapOneToOneWithCharacters) {
  String text = TextFromBytes(std::string("a\xC8\xE9\x00z", 5));
  ASSERT_EQ(text.size(), 5u);
  EXPECT_EQ(text[1], 200);
  EXPECT_EQ(text[2], 233);
  EXPECT_EQ(text[3], 0);
  EXPECT_EQ(TextToBytes(String(u"\u20ACA")), std::string("\xAC" "A"));
}

TEST(Text, Utf8RoundTripIncludingSurrogatePairs) {
  String text = u"e\u00E9\u20AC\U0001F600";
  EXPECT_EQ(TextToUtf8(text), "e\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(TextFromUtf8(TextToUtf8(text)), text);
}

TEST(Text, CaseChangesOnlyAsciiLetters) {
  EXPECT_EQ(TextLower(u"Sprite WIDTH \u00C9"), u"sprite width \u00C9");
  EXPECT_EQ(TextUpper(u"grow-1"), u"GROW-1");
  EXPECT_EQ(TextFromInt(-2147483648LL), u"-2147483648");
}

TEST(ExitActions, RunNewestFirstAndOnlyOnce) {
  std::vector<int> order;
  AddExitAction([&] { order.push_back(1); });
  AddExitAction([&] { order.push_back(2); });
  RunExitActions();
  RunExitActions();
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
}

TEST(Runtime, DefaultTitleAndExecutable) {
  char arg0[] = "runtime_test";
  char* argv[] = {arg0};
  StartRuntime(1, argv);
  EXPECT_EQ(AppTitle(), u"Corvane Application");
  // The running program's own file, whatever argv[0] says, and the folder it is in.
  const std::string file = TextToUtf8(AppFile());
  EXPECT_NE(file.find("test_runtime"), std::string::npos) << file;
  EXPECT_EQ(TextToUtf8(AppDir()), file.substr(0, TextToUtf8(AppDir()).size()));
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::path(
      std::u8string(file.begin(), file.end()))))
      << file;
  ASSERT_EQ(AppArgs().size(), 1u);
  EXPECT_EQ(AppArgs()[0], u"runtime_test");
}
