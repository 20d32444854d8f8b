// Stream core: typed transfers, line reading and writing, skipping, the base errors and the
// forwarding wrappers, all over memory streams.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/text.h"
#include "stream/bank.h"
#include "stream/stream.h"

namespace {

Ref<TBankStream> MemoryStream(const std::string& bytes = std::string()) {
  auto bank = TBank::Create(static_cast<int64_t>(bytes.size()));
  if (!bytes.empty()) std::memcpy(bank->Lock(), bytes.data(), bytes.size());
  return TBankStream::Create(bank);
}

std::string Content(const Ref<TBankStream>& stream) {
  return std::string(reinterpret_cast<const char*>(stream->_bank->Lock()),
                     static_cast<size_t>(stream->_bank->Size()));
}

// Gives its bytes at most `chunk` at a time, the way a pipe may.
class TChunkStream : public TStream {
 public:
  TChunkStream(std::string bytes, int64_t chunk) : bytes_(std::move(bytes)), chunk_(chunk) {}
  int64_t Read(void* buffer, int64_t count) override {
    int64_t n = std::min<int64_t>({count, chunk_, static_cast<int64_t>(bytes_.size()) - at_});
    if (n <= 0) return 0;
    std::memcpy(buffer, bytes_.data() + at_, static_cast<size_t>(n));
    at_ += n;
    return n;
  }
  int64_t Write(const void*, int64_t count) override {
    // Accepts only `chunk` bytes per call, and nothing once its budget is spent.
    int64_t n = std::min<int64_t>(count, std::min<int64_t>(chunk_, budget_));
    budget_ -= n;
    written_ += n;
    return n;
  }
  std::string bytes_;
  int64_t chunk_;
  int64_t at_ = 0;
  int64_t budget_ = 1 << 20;
  int64_t written_ = 0;
};

std::vector<String> ReadAllLines(const Ref<TStream>& stream) {
  std::vector<String> lines;
  while (!stream->Eof()) lines.push_back(stream->ReadLine());
  return lines;
}

}  // namespace

TEST(StreamTypedValues, RoundTripLittleEndianImages) {
  auto stream = MemoryStream();
  stream->WriteByte(0x1FF);
  stream->WriteShort(0x12345);
  stream->WriteInt(-2);
  stream->WriteLong(0x0102030405060708LL);
  stream->WriteFloat(1.5f);
  stream->WriteDouble(-0.25);
  EXPECT_EQ(stream->Pos(), 1 + 2 + 4 + 8 + 4 + 8);

  std::string bytes = Content(stream);
  // Writes keep the low 8 / 16 bits, low byte first.
  EXPECT_EQ(static_cast<uint8_t>(bytes[0]), 0xFF);
  EXPECT_EQ(static_cast<uint8_t>(bytes[1]), 0x45);
  EXPECT_EQ(static_cast<uint8_t>(bytes[2]), 0x23);
  EXPECT_EQ(static_cast<uint8_t>(bytes[7]), 0x08);
  EXPECT_EQ(static_cast<uint8_t>(bytes[14]), 0x01);

  stream->Seek(0);
  EXPECT_EQ(stream->ReadByte(), 255);      // zero-extended
  EXPECT_EQ(stream->ReadShort(), 0x2345);  // zero-extended
  EXPECT_EQ(stream->ReadInt(), -2);
  EXPECT_EQ(stream->ReadLong(), 0x0102030405060708LL);
  EXPECT_EQ(stream->ReadFloat(), 1.5f);
  EXPECT_EQ(stream->ReadDouble(), -0.25);
  EXPECT_TRUE(stream->Eof());
  EXPECT_THROW(stream->ReadByte(), TStreamReadException);
}

TEST(StreamTypedValues, ReadBytesGathersShortReadsAndFailsAtEnd) {
  TChunkStream stream("abcdefg", 2);
  char buffer[8] = {};
  EXPECT_EQ(stream.ReadBytes(buffer, 5), 5);
  EXPECT_STREQ(buffer, "abcde");
  EXPECT_THROW(stream.ReadBytes(buffer, 5), TStreamReadException);
}

TEST(StreamTypedValues, WriteBytesGathersShortWrites) {
  TChunkStream stream("", 3);
  EXPECT_EQ(stream.WriteBytes("0123456789", 10), 10);
  EXPECT_EQ(stream.written_, 10);
}

TEST(StreamTypedValues, WriteFailsOnlyWhenNothingMoreIsAccepted) {
  TChunkStream stream("", 3);
  stream.budget_ = 5;
  stream.WriteInt(7);
  EXPECT_THROW(stream.WriteInt(7), TStreamWriteException);
  EXPECT_EQ(stream.written_, 5);
}

TEST(StreamSkip, SkipsInPiecesAndRaisesPastTheEnd) {
  auto stream = MemoryStream(std::string(2000, 'x') + "yz");
  EXPECT_EQ(stream->SkipBytes(2001), 2001);
  EXPECT_EQ(stream->ReadByte(), 'z');

  auto shorter = MemoryStream(std::string(2000, 'x'));
  EXPECT_THROW(shorter->SkipBytes(3000), TStreamReadException);
  EXPECT_EQ(shorter->Pos(), 2000);  // read to the end before giving up
}

TEST(StreamReadLine, LineEndsAndLastLineWithoutEnd) {
  auto stream = MemoryStream("a=1\r\nb=2");
  EXPECT_EQ(ReadAllLines(stream), (std::vector<String>{u"a=1", u"b=2"}));

  // A final LF leaves the stream at its end: no extra empty line.
  auto ended = MemoryStream("one\ntwo\n");
  EXPECT_EQ(ReadAllLines(ended), (std::vector<String>{u"one", u"two"}));
}

TEST(StreamReadLine, CrInsideLineIsDroppedAndZeroEndsLine) {
  auto stream = MemoryStream(std::string("a\rb\nc\0d\n\n", 9));
  EXPECT_EQ(ReadAllLines(stream), (std::vector<String>{u"ab", u"c", u"d", u""}));
}

TEST(StreamReadLine, BytesBecomeCharactersWithoutDecoding) {
  auto stream = MemoryStream("\xEF\xBB\xBFk=\xC8\xE9\n");
  String line = stream->ReadLine();
  EXPECT_EQ(line, (String{0xEF, 0xBB, 0xBF, u'k', u'=', 200, 233}));
}

TEST(StreamReadLine, LongLineAndEndOfDataNeverRaise) {
  std::string longLine(5000, 'q');
  auto stream = MemoryStream(longLine);
  EXPECT_EQ(stream->ReadLine(), TextFromBytes(longLine));
  EXPECT_EQ(stream->ReadLine(), String());
}

TEST(StreamWriteLine, WritesLowBytesThenCrLf) {
  auto stream = MemoryStream();
  EXPECT_TRUE(stream->WriteLine(String{u'h', 0x1E9, u'!'}));
  EXPECT_EQ(Content(stream), "h\xE9!\r\n");
}

TEST(StreamWriteLine, ShortWriteReportsFalseWithoutRaising) {
  TChunkStream stream("", 2);
  EXPECT_FALSE(stream.WriteLine(u"abc"));  // only 2 of the 3 text bytes go out
  EXPECT_EQ(stream.written_, 2);

  TChunkStream room("", 100);
  room.budget_ = 4;
  EXPECT_FALSE(room.WriteLine(u"abc"));  // text fits, line end does not
}

TEST(StreamStrings, ReadAndWriteOneBytePerCharacter) {
  auto stream = MemoryStream();
  stream->WriteString(String{u'A', 0x141, u'z'});
  EXPECT_EQ(Content(stream), "AAz");  // 0x141 keeps its low byte 0x41
  stream->Seek(0);
  EXPECT_EQ(stream->ReadString(2), u"AA");
  EXPECT_THROW(stream->ReadString(2), TStreamReadException);
}

TEST(StreamBaseErrors, UndefinedOperationsRaiseTheirTexts) {
  TStream bare;
  char byte = 0;
  EXPECT_EQ(bare.Pos(), -1);
  EXPECT_EQ(bare.Size(), 0);
  EXPECT_EQ(bare.Seek(5), -1);
  EXPECT_FALSE(bare.Eof());  // -1 is not 0
  try {
    bare.Read(&byte, 1);
    FAIL() << "Read did not raise";
  } catch (const TRuntimeError& error) {
    EXPECT_STREQ(error.what(), "Stream is not readable");
  }
  try {
    bare.Write(&byte, 1);
    FAIL() << "Write did not raise";
  } catch (const TRuntimeError& error) {
    EXPECT_STREQ(error.what(), "Stream is not writeable");
  }
  try {
    bare.ReadObject();
    FAIL() << "ReadObject did not raise";
  } catch (const TRuntimeError& error) {
    EXPECT_STREQ(error.what(), "Unable to read object");
  }
  try {
    bare.WriteObject(nullptr);
    FAIL() << "WriteObject did not raise";
  } catch (const TRuntimeError& error) {
    EXPECT_STREQ(error.what(), "Unable to write object");
  }
}

TEST(StreamBaseErrors, ExceptionTexts) {
  EXPECT_EQ(TStreamReadException().ToString(), u"Error reading from stream");
  EXPECT_EQ(TStreamWriteException().ToString(), u"Error writing to stream");
  // Both are caught as the common base.
  try {
    throw TStreamWriteException();
  } catch (const TStreamException& error) {
    EXPECT_EQ(error.ToString(), u"Error writing to stream");
  }
}

TEST(StreamWrappers, ForwardToInnerStream) {
  auto inner = MemoryStream("line one\nrest");
  auto wrapper = std::make_shared<TStreamWrapper>();
  wrapper->SetStream(inner);
  EXPECT_EQ(wrapper->Size(), 13);
  EXPECT_EQ(wrapper->ReadLine(), u"line one");
  EXPECT_EQ(wrapper->Pos(), 9);
  EXPECT_EQ(inner->Pos(), 9);
  wrapper->Seek(13);
  wrapper->WriteLong(-5);  // TStream's own WriteLong over the forwarded Write
  EXPECT_EQ(inner->Size(), 21);
  wrapper->Seek(13);
  EXPECT_EQ(inner->ReadLong(), -5);
}

TEST(StreamWrappers, ClosingStreamStreamDetachesWithoutClosingInner) {
  class TCloseCounter : public TBankStream {
   public:
    int Close() override { return ++closes; }
    int closes = 0;
  };
  auto inner = std::make_shared<TCloseCounter>();
  inner->_bank = TBank::Create(4);
  Ref<TStream> opened = OpenUrlStream(Ref<Object>(inner), true, false);
  ASSERT_NE(opened, nullptr);
  EXPECT_NE(opened, inner);  // wrapped, not the stream itself
  EXPECT_EQ(opened->Size(), 4);
  opened->Close();
  EXPECT_EQ(inner->closes, 0);
  // Detached: at its end, and no longer reaching the inner stream.
  EXPECT_TRUE(opened->Eof());
  EXPECT_EQ(opened->Size(), 0);
  EXPECT_EQ(opened->ReadLine(), String());
  EXPECT_THROW(opened->ReadInt(), TStreamReadException);
}

TEST(StreamCopy, CopyToEndStopsOnZeroReadWithoutEof) {
  // TChunkStream has no position, so it never reports Eof.
  auto from = std::make_shared<TChunkStream>(std::string(10000, 'k') + "end", 700);
  auto to = MemoryStream();
  CopyStreamToEnd(from, to, 256);
  EXPECT_EQ(Content(to), std::string(10000, 'k') + "end");
}

TEST(StreamCopy, CopyBytesCopiesExactCountOrRaises) {
  auto from = MemoryStream("0123456789");
  auto to = MemoryStream();
  CopyStreamBytes(from, to, 7, 3);
  EXPECT_EQ(Content(to), "0123456");
  EXPECT_THROW(CopyStreamBytes(from, to, 4, 3), TStreamReadException);
}

TEST(StreamForwarders, ModuleFunctionsReachTheStream) {
  Ref<TStream> stream = MemoryStream();
  StreamWriteShort(stream, 0xBEEF);
  StreamWriteDouble(stream, 2.5);
  StreamWriteString(stream, u"xy");
  EXPECT_TRUE(StreamWriteLine(stream, u"z"));
  EXPECT_EQ(StreamSize(stream), 2 + 8 + 2 + 3);
  EXPECT_EQ(StreamSeek(stream, 0), 0);
  EXPECT_EQ(StreamReadShort(stream), 0xBEEF);
  EXPECT_EQ(StreamReadDouble(stream), 2.5);
  EXPECT_EQ(StreamReadString(stream, 2), u"xy");
  EXPECT_EQ(StreamReadLine(stream), u"z");
  EXPECT_TRUE(StreamEof(stream));
}
