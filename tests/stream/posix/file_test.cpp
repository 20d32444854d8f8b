// Files on POSIX systems: a FIFO has no position and is read into memory like a pipe; names
// differ by letter case, so a path is resolved component by component.
#include <sys/stat.h>  // for mkfifo

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "../temp_dir.h"
#include "runtime/text.h"
#include "stream/stream.h"

using namespace stream_test;

namespace {

TEST(FileLayer, FifoIsReadIntoMemoryToo) {
  TScratchDir dir;
  ASSERT_EQ(mkfifo("fifo", 0600), 0);
  std::thread writer([] { WriteFileBytes("fifo", "through the pipe\nx"); });
  Ref<TStream> stream = OpenFileForReading(u"fifo");
  writer.join();
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Size(), 18);
  EXPECT_EQ(stream->ReadLine(), u"through the pipe");
  EXPECT_EQ(stream->ReadLine(), u"x");
  EXPECT_TRUE(stream->Eof());
  // A FIFO is not a regular file.
  EXPECT_EQ(GetFileType(u"fifo"), FILETYPE_NONE);
}

TEST(FileLayer, ResolvePathCaseMatchesEachComponent) {
  TScratchDir dir;
  std::filesystem::create_directory("Assets");
  std::filesystem::create_directory("Assets/Sub");
  WriteFileBytes("Assets/Sub/Image.PNG", "x");
  EXPECT_EQ(ResolvePathCase(u"Assets/Sub/Image.PNG"), u"Assets/Sub/Image.PNG");
  EXPECT_EQ(ResolvePathCase(u"assets/SUB/image.png"), u"Assets/Sub/Image.PNG");
  EXPECT_EQ(ResolvePathCase(u"assets/nothing.png"), u"");
  EXPECT_EQ(ResolvePathCase(u"IMAGE.png"), u"");
  String absolute = TextFromUtf8(dir.path.string()) + u"/ASSETS/sub";
  EXPECT_EQ(ResolvePathCase(absolute), TextFromUtf8(dir.path.string()) + u"/Assets/Sub");
}

}  // namespace
