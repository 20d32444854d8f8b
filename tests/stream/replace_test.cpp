// File replacement on every platform: a replacement puts the whole new content in place or
// leaves the old file as it was, and its temporary name fits the file system's limit.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "runtime/text.h"
#include "stream/replace.h"
#include "stream/stream.h"
#include "temp_dir.h"

using namespace stream_test;

namespace {

class Replacement : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartStream(); }
  TScratchDir dir;
};

bool Replace(const String& path, const std::string& text) {
  TFileReplacement replacement;
  if (!replacement.Begin(path)) return false;
  replacement.stream->WriteBytes(text.data(), static_cast<int64_t>(text.size()));
  return replacement.Commit(static_cast<int64_t>(text.size()));
}

TEST_F(Replacement, TheNewContentReplacesTheOldOnlyWhenComplete) {
  ASSERT_TRUE(Replace(u"sheet.png", "first"));
  ASSERT_TRUE(Replace(u"sheet.png", "second, longer"));
  EXPECT_EQ(ReadFileBytes("sheet.png"), "second, longer");
  {
    SCOPED_TRACE("abandoned half way: the old file stays");
    TFileReplacement replacement;
    ASSERT_TRUE(replacement.Begin(u"sheet.png"));
    replacement.stream->WriteBytes("half", 4);
    replacement.Abandon();
  }
  {
    SCOPED_TRACE("fewer bytes than promised: refused, the old file stays");
    TFileReplacement replacement;
    ASSERT_TRUE(replacement.Begin(u"sheet.png"));
    replacement.stream->WriteBytes("abc", 3);
    EXPECT_FALSE(replacement.Commit(4));
    EXPECT_NE(replacement.error, 0);
  }
  {
    SCOPED_TRACE("a new file that never completes is never there");
    TFileReplacement replacement;
    ASSERT_TRUE(replacement.Begin(u"new.png"));
    replacement.stream->WriteBytes("abc", 3);
  }
  EXPECT_EQ(ReadFileBytes("sheet.png"), "second, longer");
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"sheet.png"});
  // A folder that is not there: refused before anything is made.
  errno = 0;
  EXPECT_FALSE(Replace(u"missing/sheet.png", "x"));
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(Replacement, TemporaryNamesAreFreshAndFitTheLimitInEitherCount) {
  std::set<std::string> names;
  for (int i = 0; i < 100; ++i) names.insert(TemporaryNameFor(std::string("Out.png"), 255));
  EXPECT_EQ(names.size(), 100u);
  EXPECT_EQ(names.begin()->size(), 7u + kTemporarySuffixLength);
  // Counted in 16-bit units: a name of 255 is cut to leave room, never between the two
  // halves of a character beyond the 16-bit range.
  String name;
  while (name.size() < 240) name += u"\U0001F600";
  name += u".png";
  const String temporary = TemporaryNameFor(name, 255);
  EXPECT_LE(temporary.size(), 255u);
  EXPECT_EQ(TextFromUtf8(TextToUtf8(temporary)), temporary);  // whole characters only
  EXPECT_EQ(temporary.substr(temporary.size() - kTemporarySuffixLength, 5), u".tmp-");
}

}  // namespace
