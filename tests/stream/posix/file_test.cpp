// Files on POSIX systems: a FIFO has no position and is read into memory like a pipe.
#include <sys/stat.h>  // for mkfifo

#include <gtest/gtest.h>

#include <thread>

#include "../temp_dir.h"
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

}  // namespace
