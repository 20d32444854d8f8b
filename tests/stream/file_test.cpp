// File streams, URL opening through factories, the filesystem layer and the whole-URL
// helpers. Every test works in its own temporary folder.

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "runtime/text.h"
#include "stream/bank.h"
#include "stream/stream.h"
#include "temp_dir.h"

using namespace stream_test;

namespace {

Ref<Object> Url(const String& text) { return std::make_shared<TStringObject>(text); }

// A stream without a position over fixed bytes, like a pipe.
class TPositionlessStream : public TStream {
 public:
  explicit TPositionlessStream(std::string bytes) : bytes_(std::move(bytes)) {}
  int64_t Read(void* buffer, int64_t count) override {
    int64_t n = std::min<int64_t>(count, static_cast<int64_t>(bytes_.size()) - at_);
    if (n <= 0) return 0;
    std::memcpy(buffer, bytes_.data() + at_, static_cast<size_t>(n));
    at_ += n;
    return n;
  }
  int Close() override { return ++closes; }
  std::string bytes_;
  int64_t at_ = 0;
  int closes = 0;
};

// Records what it is asked and answers only for its own protocol.
class TRecordingFactory : public TStreamFactory {
 public:
  explicit TRecordingFactory(String answersTo) : answersTo_(std::move(answersTo)) {}
  Ref<TStream> CreateStream(const Ref<Object>&, const String& protocol, const String& path,
                            bool readable, bool writeable) override {
    ++asked;
    this->protocol = protocol;
    this->path = path;
    this->readable = readable;
    this->writeable = writeable;
    if (protocol != answersTo_) return nullptr;
    answer = std::make_shared<TPositionlessStream>(TextToBytes(path));
    return answer;
  }
  String answersTo_;
  int asked = 0;
  String protocol, path;
  bool readable = false, writeable = false;
  Ref<TPositionlessStream> answer;
};

}  // namespace

TEST(FileStream, PositionAndSizeFollowWritesAndSeeks) {
  TScratchDir dir;
  auto stream = TCStream::OpenFile(u"out.bin", false, true);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->_mode, MODE_WRITE);
  EXPECT_EQ(stream->Pos(), 0);
  EXPECT_EQ(stream->Size(), 0);
  EXPECT_TRUE(stream->Eof());
  EXPECT_EQ(stream->Write("0123456789", 10), 10);
  EXPECT_EQ(stream->Pos(), 10);
  EXPECT_EQ(stream->Size(), 10);
  EXPECT_EQ(stream->Seek(4), 4);
  EXPECT_EQ(stream->Write("ab", 2), 2);
  EXPECT_EQ(stream->Pos(), 6);
  EXPECT_EQ(stream->Size(), 10);
  EXPECT_FALSE(stream->Eof());
  stream->Close();
  EXPECT_EQ(stream->Pos(), 0);
  EXPECT_EQ(stream->Size(), 0);
  EXPECT_TRUE(stream->Eof());
  EXPECT_EQ(stream->Close(), 0);  // a second close does nothing
  EXPECT_EQ(ReadFileBytes("out.bin"), "0123ab6789");
}

TEST(FileStream, OpenModesAndExistingSize) {
  TScratchDir dir;
  WriteFileBytes("data.bin", "hello world");
  auto reading = TCStream::OpenFile(u"data.bin", true, false);
  ASSERT_NE(reading, nullptr);
  EXPECT_EQ(reading->_mode, MODE_READ);
  EXPECT_EQ(reading->Size(), 11);
  EXPECT_EQ(reading->Pos(), 0);
  EXPECT_EQ(reading->Write("x", 1), 0);  // "rb" accepts no bytes
  reading->Close();

  auto both = TCStream::OpenFile(u"data.bin", true, true);
  ASSERT_NE(both, nullptr);
  EXPECT_EQ(both->_mode, MODE_READ | MODE_WRITE);
  EXPECT_EQ(both->Size(), 11);  // "r+b" keeps the content
  both->Close();

  auto truncating = TCStream::OpenFile(u"data.bin", false, true);
  ASSERT_NE(truncating, nullptr);
  EXPECT_EQ(truncating->Size(), 0);
  truncating->Close();

  EXPECT_EQ(TCStream::OpenFile(u"missing.bin", true, false), nullptr);
  EXPECT_EQ(TCStream::OpenFile(u"missing.bin", true, true), nullptr);
  // A folder is no file to open, even where the C runtime would hand out a handle.
  std::filesystem::create_directory("folder");
  EXPECT_EQ(TCStream::OpenFile(u"folder", true, false), nullptr);
  EXPECT_EQ(OpenFileForReading(u"folder"), nullptr);
}

TEST(FileStream, UpdateStreamSwitchesBetweenReadAndWrite) {
  TScratchDir dir;
  WriteFileBytes("data.bin", "abcdefgh");
  auto stream = TCStream::OpenFile(u"data.bin", true, true);
  ASSERT_NE(stream, nullptr);
  char buffer[4] = {};
  EXPECT_EQ(stream->Read(buffer, 3), 3);
  EXPECT_EQ(stream->Write("XY", 2), 2);  // lands at 3, right after what was read
  EXPECT_EQ(stream->Read(buffer, 3), 3);
  EXPECT_EQ(std::string(buffer, 3), "fgh");
  EXPECT_EQ(stream->Write("Z", 1), 1);
  EXPECT_EQ(stream->Size(), 9);
  stream->Close();
  EXPECT_EQ(ReadFileBytes("data.bin"), "abcXYfghZ");
}

TEST(FileStream, DestroyingFlushesAndCloses) {
  TScratchDir dir;
  {
    auto stream = TCStream::OpenFile(u"gone.txt", false, true);
    ASSERT_NE(stream, nullptr);
    stream->WriteString(u"kept");
  }
  EXPECT_EQ(ReadFileBytes("gone.txt"), "kept");
}

TEST(FileStream, BackslashesAndNonAsciiPathsReachTheFile) {
  TScratchDir dir;
  mkdir("DATA", 0755);
  WriteFileBytes("DATA/file.txt", "inside");
  auto stream = TCStream::OpenFile(u"DATA\\file.txt", true, false);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->ReadLine(), u"inside");

  // The 16-bit path goes to the platform as UTF-8.
  String name = String(u"caf") + char16_t(0xE9) + u"-" + char16_t(0x20AC) + u".txt";
  SaveUrlText(u"euro", Url(name));
  EXPECT_EQ(ReadFileBytes("caf\xC3\xA9-\xE2\x82\xAC.txt"), "euro");
}

TEST(UrlOpening, ProtocolSplitGoesToFactoriesNewestFirst) {
  TRecordingFactory older(u"utf8");
  TRecordingFactory newer(u"other");
  Ref<TStream> stream = OpenUrlStream(u"Utf8::x.txt", true, false);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(newer.asked, 1);
  EXPECT_EQ(newer.protocol, u"utf8");  // lowercased
  EXPECT_EQ(newer.path, u"x.txt");
  EXPECT_EQ(older.asked, 1);
  EXPECT_EQ(stream, older.answer);
  EXPECT_TRUE(older.readable);
  EXPECT_FALSE(older.writeable);

  // The newest factory that answers wins and the older one is never asked.
  Ref<TStream> other = OpenUrlForWriting(u"OTHER::a::b");
  EXPECT_EQ(other, newer.answer);
  EXPECT_EQ(newer.path, u"a::b");  // split at the first "::"
  EXPECT_TRUE(newer.writeable);
  EXPECT_EQ(older.asked, 1);

  EXPECT_EQ(OpenUrlStream(u"nobody::x", true, false), nullptr);
}

TEST(UrlOpening, EmptyTextAndOtherObjectsAskFactoriesWithEmptyParts) {
  TRecordingFactory factory(u"");
  EXPECT_NE(OpenUrlStream(u"", true, false), nullptr);
  EXPECT_EQ(factory.protocol, u"");
  EXPECT_EQ(factory.path, u"");
  factory.path = u"unchanged";
  EXPECT_NE(OpenUrlStream(std::make_shared<Object>(), true, false), nullptr);
  EXPECT_EQ(factory.path, u"");
}

TEST(UrlOpening, DestroyedFactoryLeavesTheChain) {
  int before = 0;
  {
    TRecordingFactory gone(u"gone");
    EXPECT_NE(OpenUrlStream(u"gone::x", true, false), nullptr);
    before = gone.asked;
  }
  EXPECT_EQ(before, 1);
  EXPECT_EQ(OpenUrlStream(u"gone::x", true, false), nullptr);
}

TEST(FileLayer, PositionlessStreamsAreReadIntoMemory) {
  TRecordingFactory factory(u"pipe");
  Ref<TStream> stream = OpenFileForReading(u"pipe::first\nsecond");
  ASSERT_NE(stream, nullptr);
  EXPECT_NE(stream, factory.answer);
  EXPECT_EQ(factory.answer->closes, 1);
  EXPECT_EQ(stream->Pos(), 0);
  EXPECT_EQ(stream->Size(), 12);
  EXPECT_EQ(stream->ReadLine(), u"first");
  EXPECT_EQ(stream->Seek(0), 0);
  EXPECT_EQ(stream->ReadLine(), u"first");
  EXPECT_EQ(stream->ReadLine(), u"second");
  EXPECT_TRUE(stream->Eof());
}

TEST(FileLayer, OpenAndCloseFiles) {
  TScratchDir dir;
  Ref<TStream> out = OpenFileForWriting(u"notes.txt");
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(out->WriteLine(u"a=1"));
  CloseFileStream(out);
  Ref<TStream> in = OpenFileForReading(u"notes.txt");
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in->ReadLine(), u"a=1");
  EXPECT_TRUE(in->Eof());
  CloseFileStream(in);
  EXPECT_EQ(OpenFileForReading(u"absent.txt"), nullptr);
}

TEST(FileLayer, FileTypes) {
  TScratchDir dir;
  mkdir("folder", 0755);
  WriteFileBytes("folder/f.txt", "x");
  EXPECT_EQ(GetFileType(u"folder"), FILETYPE_DIR);
  EXPECT_EQ(GetFileType(u"folder\\f.txt"), FILETYPE_FILE);
  EXPECT_EQ(GetFileType(u"missing"), FILETYPE_NONE);
  EXPECT_EQ(GetFileType(u""), FILETYPE_NONE);
  WriteFileBytes("a<b", "x");
  EXPECT_EQ(GetFileType(u"a<b"), FILETYPE_NONE);
  EXPECT_EQ(GetFileType(u"folder/>"), FILETYPE_NONE);
}

TEST(FileLayer, NormalisePathDriveAndHostForms) {
  EXPECT_EQ(NormalisePath(u"X:"), u"X:/");
  EXPECT_EQ(NormalisePath(u"X:data"), u"X:/data");
  EXPECT_EQ(NormalisePath(u"X:data\\f"), u"X:/data/f");
  EXPECT_EQ(NormalisePath(u"X:/data"), u"X:/data");
  EXPECT_EQ(NormalisePath(u"a/b:c"), u"a/b:c");
  EXPECT_EQ(NormalisePath(u"incbin::x"), u"incbin::x");
  EXPECT_EQ(NormalisePath(u"\\\\host"), u"//host/");
  EXPECT_EQ(NormalisePath(u"//host/share"), u"//host/share");
  EXPECT_EQ(NormalisePath(u"plain\\path"), u"plain/path");
}

TEST(FileLayer, ResolvePathCaseMatchesEachComponent) {
  TScratchDir dir;
  mkdir("Assets", 0755);
  mkdir("Assets/Sub", 0755);
  WriteFileBytes("Assets/Sub/Image.PNG", "x");
  EXPECT_EQ(ResolvePathCase(u"Assets/Sub/Image.PNG"), u"Assets/Sub/Image.PNG");
  EXPECT_EQ(ResolvePathCase(u"assets/SUB/image.png"), u"Assets/Sub/Image.PNG");
  EXPECT_EQ(ResolvePathCase(u"assets/nothing.png"), u"");
  EXPECT_EQ(ResolvePathCase(u"IMAGE.png"), u"");
  String absolute = TextFromUtf8(dir.path.string()) + u"/ASSETS/sub";
  EXPECT_EQ(ResolvePathCase(absolute), TextFromUtf8(dir.path.string()) + u"/Assets/Sub");
}

TEST(UrlHelpers, SaveAndLoadBytesAndText) {
  TScratchDir dir;
  std::vector<uint8_t> bytes(5000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  SaveUrlBytes(bytes, Url(u"b.bin"));
  EXPECT_EQ(LoadUrlBytes(Url(u"b.bin")), bytes);

  SaveUrlText(String{u'a', 0x1E9, u'\n'}, Url(u"t.txt"));
  EXPECT_EQ(ReadFileBytes("t.txt"), "a\xE9\n");
  EXPECT_EQ(LoadUrlText(Url(u"t.txt")), (String{u'a', 0xE9, u'\n'}));

  SaveUrlBytes({}, Url(u"empty.bin"));
  EXPECT_TRUE(LoadUrlBytes(Url(u"empty.bin")).empty());
}

TEST(UrlHelpers, LoadEndsOnPositionlessStreamAndFailuresRaise) {
  TRecordingFactory factory(u"mem");
  std::vector<uint8_t> loaded = LoadUrlBytes(Url(u"mem::" + String(3000, u'z')));
  EXPECT_EQ(loaded, std::vector<uint8_t>(3000, 'z'));

  TScratchDir dir;
  EXPECT_THROW(LoadUrlBytes(Url(u"absent.bin")), TStreamReadException);
  EXPECT_THROW(LoadUrlText(Url(u"absent.bin")), TStreamReadException);
  EXPECT_THROW(LoadUrlObject(Url(u"absent.bin")), TStreamReadException);
  EXPECT_THROW(SaveUrlBytes({1}, Url(u"no/such/folder/x")), TStreamWriteException);
  EXPECT_THROW(SaveUrlText(u"x", Url(u"no/such/folder/x")), TStreamWriteException);
  EXPECT_THROW(SaveUrlObject(nullptr, Url(u"no/such/folder/x")), TStreamWriteException);
}
