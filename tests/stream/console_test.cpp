// Console output and the debug trace: the bytes each encoding produces, reading characters
// and lines back, the real console on standard output, and the silent default trace.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "stream/bank.h"
#include "stream/console.h"

namespace {

struct MemoryText {
  explicit MemoryText(int encoding, const std::string& bytes = std::string()) {
    auto bank = TBank::Create(static_cast<int64_t>(bytes.size()));
    if (!bytes.empty()) std::memcpy(bank->Lock(), bytes.data(), bytes.size());
    memory = TBankStream::Create(bank);
    text = TTextStream::Create(memory, encoding);
  }
  std::string Bytes() const {
    return std::string(reinterpret_cast<const char*>(memory->_bank->Lock()),
                       static_cast<size_t>(memory->_bank->Size()));
  }
  Ref<TBankStream> memory;
  Ref<TTextStream> text;
};

// Counts the one-byte writes that reach it.
class TWriteCounter : public TStream {
 public:
  int64_t Write(const void*, int64_t count) override {
    ++writes;
    if (count != 1) ++wide;
    return refuse ? 0 : count;
  }
  int writes = 0;
  int wide = 0;
  bool refuse = false;
};

}  // namespace

TEST(TextStreamOutput, Utf8LinesMatchTheConsoleBytes) {
  MemoryText out(TTextStream::UTF8);
  EXPECT_TRUE(out.text->WriteLine(u"Found ini file"));
  EXPECT_EQ(out.Bytes(), "Found ini file\r\n");
  EXPECT_EQ(out.Bytes().size(), 16u);

  MemoryText accents(TTextStream::UTF8);
  accents.text->WriteLine(String(1, char16_t(233)));
  accents.text->WriteLine(String(1, char16_t(8364)));
  EXPECT_EQ(accents.Bytes(), "\xC3\xA9\r\n\xE2\x82\xAC\r\n");
}

TEST(TextStreamOutput, Utf8BoundariesAndSurrogateHalves) {
  MemoryText out(TTextStream::UTF8);
  out.text->WriteString(String{char16_t(127), char16_t(128), char16_t(2047), char16_t(2048),
                               char16_t(0xFFFF)});
  EXPECT_EQ(out.Bytes(), "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");

  // U+1F600 as a surrogate pair: each half is encoded on its own.
  MemoryText pair(TTextStream::UTF8);
  pair.text->WriteString(String{char16_t(0xD83D), char16_t(0xDE00)});
  EXPECT_EQ(pair.Bytes(), "\xED\xA0\xBD\xED\xB8\x80");
}

TEST(TextStreamOutput, Latin1AndUtf16ByteOrders) {
  String text{u'A', char16_t(0x20AC)};
  MemoryText latin(TTextStream::LATIN1);
  latin.text->WriteString(text);
  EXPECT_EQ(latin.Bytes(), std::string("A\xAC"));
  MemoryText big(TTextStream::UTF16BE);
  big.text->WriteString(text);
  EXPECT_EQ(big.Bytes(), std::string("\0A\x20\xAC", 4));
  MemoryText little(TTextStream::UTF16LE);
  little.text->WriteLine(text);
  EXPECT_EQ(little.Bytes(), std::string("A\0\xAC\x20\r\0\n\0", 8));
}

TEST(TextStreamOutput, EveryByteIsItsOwnWriteAndRefusalRaises) {
  auto counter = std::make_shared<TWriteCounter>();
  auto text = TTextStream::Create(counter, TTextStream::UTF8);
  text->WriteLine(String{u'a', char16_t(233), char16_t(8364)});
  EXPECT_EQ(counter->writes, 1 + 2 + 3 + 2);
  EXPECT_EQ(counter->wide, 0);
  counter->refuse = true;
  EXPECT_THROW(text->WriteLine(u"x"), TStreamWriteException);
}

TEST(TextStreamInput, ReadsWhatEachEncodingWrote) {
  String text{u'a', char16_t(233), char16_t(8364), u'z'};
  for (int encoding : {TTextStream::UTF8, TTextStream::UTF16BE, TTextStream::UTF16LE}) {
    MemoryText out(encoding);
    out.text->WriteLine(text);
    out.text->WriteString(u"last");
    out.memory->Seek(0);
    EXPECT_EQ(out.text->ReadLine(), text) << "encoding " << encoding;
    EXPECT_EQ(out.text->ReadLine(), u"last") << "encoding " << encoding;
    EXPECT_TRUE(out.text->Eof());
  }
}

TEST(TextStreamInput, LineRulesAndUnvalidatedBytes) {
  // CR dropped, 0 and LF end lines; a four-byte lead gives code 0, which ends the line.
  MemoryText in(TTextStream::UTF8, std::string("a\rb\0c\n\xF0xyz\n\xC3\xA9", 13));
  EXPECT_EQ(in.text->ReadLine(), u"ab");
  EXPECT_EQ(in.text->ReadLine(), u"c");
  EXPECT_EQ(in.text->ReadLine(), u"");  // F0 took x and y with it
  EXPECT_EQ(in.text->ReadLine(), u"z");
  EXPECT_EQ(in.text->ReadLine(), String(1, char16_t(233)));

  // A continuation byte in lead position decodes to -1, kept as the 16-bit code 0xFFFF; it
  // neither ends the line nor the stream.
  MemoryText stray(TTextStream::UTF8, "\xBF\xBFq\nr");
  EXPECT_EQ(stray.text->ReadLine(), String(u"\xFFFFq"));
  EXPECT_EQ(stray.text->ReadLine(), u"r");

  MemoryText latin(TTextStream::LATIN1, "\xE9\xFF");
  EXPECT_EQ(latin.text->ReadChar(), 233);
  EXPECT_EQ(latin.text->ReadChar(), 255);
}

TEST(TextStreamInput, EndInsideACharacterRaises) {
  MemoryText cut(TTextStream::UTF8, "ok\xE2\x82");
  EXPECT_THROW(cut.text->ReadLine(), TStreamReadException);
  MemoryText odd(TTextStream::UTF16LE, "A");
  EXPECT_THROW(odd.text->ReadChar(), TStreamReadException);
}

TEST(Console, PrintWritesUtf8AndCrLfToStandardOutput) {
  StartStream();
  testing::internal::CaptureStdout();
  ConsolePrint(u"Found ini file");
  ConsolePrint(String{char16_t(233)});
  ConsolePrint(String{char16_t(8364)});
  std::string captured = testing::internal::GetCapturedStdout();
  EXPECT_EQ(captured, "Found ini file\r\n\xC3\xA9\r\n\xE2\x82\xAC\r\n");
  EXPECT_EQ(ConsoleStream->_encoding, TTextStream::UTF8);
}

TEST(DebugTraceHook, DefaultIsSilentAndHookIsReplaceable) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  DebugTrace(u"Found ini file");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  std::vector<String> seen;
  SetDebugTraceHook([&seen](const String& text) { seen.push_back(text); });
  DebugTrace(u"one");
  DebugTrace(u"two");
  SetDebugTraceHook(nullptr);
  DebugTrace(u"after");
  EXPECT_EQ(seen, (std::vector<String>{u"one", u"two"}));
}
