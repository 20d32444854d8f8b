// File replacement: the temporary file's name and exclusive creation, and what a
// replacement does to the file already there. Every test works in its own temporary folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::vector<std::string> Entries(const std::string& folder = ".") {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Replaces the file with the text through a TFileReplacement; true when it committed.
bool Replace(const String& path, const std::string& text) {
  TFileReplacement replacement;
  if (!replacement.Begin(path)) return false;
  replacement.stream->WriteBytes(text.data(), static_cast<int64_t>(text.size()));
  return replacement.Commit(static_cast<int64_t>(text.size()));
}

class ReplaceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartStream(); }
  TempDir dir;
};

TEST_F(ReplaceTest, TemporaryFilesHaveUnpredictableNamesAndAreNeverOpenedThroughALink) {
  // Exclusive creation: a planted link (to a file, or dangling) or a planted file at the
  // name makes it fail, and what the link points at is not touched.
  WriteFileBytes("victim", "precious");
  ASSERT_EQ(symlink("victim", "planted"), 0);
  ASSERT_EQ(symlink("nowhere", "dangling"), 0);
  WriteFileBytes("taken", "");
  for (const char* name : {"planted", "dangling", "taken"}) {
    errno = 0;
    EXPECT_EQ(CreateFileExclusively(AT_FDCWD, name), -1) << name;
    EXPECT_EQ(errno, EEXIST) << name;
  }
  EXPECT_EQ(ReadFileBytes("victim"), "precious");
  EXPECT_FALSE(std::filesystem::exists("nowhere"));
  const int fd = CreateFileExclusively(AT_FDCWD, "fresh");
  ASSERT_GE(fd, 0);
  struct stat info {};
  ASSERT_EQ(fstat(fd, &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);  // nobody else reads it while it is written
  close(fd);

  // Names: the target's name, a mark, random letters; no two alike, no process id in them.
  std::set<std::string> names;
  const std::string pid = std::to_string(getpid());
  for (int i = 0; i < 200; ++i) {
    const std::string name = TemporaryNameFor("Out.png", 255);
    EXPECT_EQ(name.rfind("Out.png.tmp-", 0), 0u) << name;
    EXPECT_EQ(name.size(), std::string("Out.png.tmp-").size() + 10) << name;
    EXPECT_EQ(name.find(pid), std::string::npos) << name;
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 200u);

  // The old attack: links planted at the names a process id and a counter would give.
  for (int n = 1; n <= 20; ++n) {
    ASSERT_EQ(symlink("victim", ("Out.png.tmp" + pid + "-" + std::to_string(n)).c_str()), 0);
  }
  ASSERT_TRUE(Replace(u"Out.png", "the new image"));
  EXPECT_EQ(ReadFileBytes("Out.png"), "the new image");
  EXPECT_EQ(ReadFileBytes("victim"), "precious");
  EXPECT_EQ(Entries().size(), 6u + 20u);  // victim, planted, dangling, taken, fresh, Out.png
}

}  // namespace
