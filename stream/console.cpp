// Console output and the debug trace. The console is a UTF-8 text stream over standard
// input and output; each 16-bit code is encoded on its own, so surrogate halves become two
// three-byte sequences. A failed write or flush of standard output raises
// TStreamWriteException. State: the console stream (created by StartConsole) and the
// debug-trace hook.
#include "stream/console.h"

#include "stream/platform.h"

#include <cstdio>
#include <limits>  // for the no-character answer below every decodable code
#include <string>

namespace {

constexpr size_t kLineBufferStart = 1024;
// ReadChar's answer when the stream ends before a character starts. Unvalidated UTF-8
// decodes to small negative codes (a stray continuation byte as a lead gives -64 .. -1),
// so the answer lies below all of them.
constexpr int kNoChar = std::numeric_limits<int>::min();

bool started = false;
std::function<void(const String&)> trace_hook;

}  // namespace

Ref<TTextStream> ConsoleStream;

// ---- TCStandardIO -----------------------------------------------------------------------

bool TCStandardIO::Eof() { return feof(stdin) != 0; }

// Note: standard output is buffered, so a full device, a closed descriptor or a closed pipe
// usually shows only here; it raises the write error like a refused byte does.
int TCStandardIO::Flush() {
  if (fflush(stdout) != 0) {
    clearerr(stdout);  // the next write tries again rather than failing on an old error
    throw TStreamWriteException();
  }
  return 0;
}

int64_t TCStandardIO::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  return static_cast<int64_t>(fread(buffer, 1, static_cast<size_t>(count), stdin));
}

int64_t TCStandardIO::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const size_t written = fwrite(buffer, 1, static_cast<size_t>(count), stdout);
  if (written < static_cast<size_t>(count)) clearerr(stdout);
  return static_cast<int64_t>(written);
}

// ---- TTextStream ------------------------------------------------------------------------

bool TTextStream::WriteLine(const String& text) {
  // The hexadecimal byte mode is never entered here, so no partial line can be pending.
  _bufcount = 0;
  WriteString(text);
  WriteString(u"\r\n");
  return true;
}

void TTextStream::WriteString(const String& text) {
  for (char16_t code : text) WriteChar(code);
}

// Every byte goes out as its own one-byte write, so a refused byte raises at once.
void TTextStream::WriteChar(int code) {
  if (!_stream) throw TStreamWriteException();
  code &= 0xFFFF;
  switch (_encoding) {
    case LATIN1:
      _stream->WriteByte(code & 0xFF);
      break;
    case UTF8:
      if (code < 128) {
        _stream->WriteByte(code);
      } else if (code < 2048) {
        _stream->WriteByte(192 + code / 64);
        _stream->WriteByte(128 + code % 64);
      } else {
        _stream->WriteByte(224 + code / 4096);
        _stream->WriteByte(128 + (code / 64) % 64);
        _stream->WriteByte(128 + code % 64);
      }
      break;
    case UTF16BE:
      _stream->WriteByte(code >> 8);
      _stream->WriteByte(code & 0xFF);
      break;
    case UTF16LE:
      _stream->WriteByte(code & 0xFF);
      _stream->WriteByte(code >> 8);
      break;
  }
}

// Reads one character. Note: when the stream ends before the first byte of a character,
// the answer is kNoChar rather than an exception, so that a last line without a line end
// can be read; running out inside a character still raises TStreamReadException.
int TTextStream::ReadChar() {
  uint8_t first = 0;
  if (!_stream || _stream->Read(&first, 1) != 1) return kNoChar;
  int a = first;
  switch (_encoding) {
    case UTF8: {
      if (a < 128) return a;
      int b = _stream->ReadByte();
      if (a < 224) return (a - 192) * 64 + (b - 128);
      int c = _stream->ReadByte();
      if (a < 240) return (a - 224) * 4096 + (b - 128) * 64 + (c - 128);
      return 0;
    }
    case UTF16BE:
      return (a << 8) | _stream->ReadByte();
    case UTF16LE:
      return a | (_stream->ReadByte() << 8);
    default:
      return a;
  }
}

String TTextStream::ReadLine() {
  String line;
  line.reserve(kLineBufferStart);
  while (!Eof()) {
    int code = ReadChar();
    if (code == kNoChar || code == 0 || code == 10) break;
    if (code == 13) continue;
    line.push_back(static_cast<char16_t>(code & 0xFFFF));
  }
  return line;
}

Ref<TTextStream> TTextStream::Create(Ref<TStream> stream, int encoding) {
  auto text = std::make_shared<TTextStream>();
  text->SetStream(std::move(stream));
  text->_encoding = encoding;
  return text;
}

// ---- Console and trace ------------------------------------------------------------------

void ConsolePrint(const String& text) {
  StartStream();
  ConsoleStream->WriteLine(text);
  ConsoleStream->Flush();
}

String ConsoleInput(const String& prompt) {
  StartStream();
  ConsoleStream->WriteString(prompt);
  ConsoleStream->Flush();
  return ConsoleStream->ReadLine();
}

void DebugTrace(const String& text) {
  if (trace_hook) trace_hook(text);
}

void SetDebugTraceHook(std::function<void(const String&)> hook) { trace_hook = std::move(hook); }

void StartConsole() {
  if (started) return;
  started = true;
  PrepareStandardStreams();
  StartStream();
  ConsoleStream = TTextStream::Create(std::make_shared<TCStandardIO>(), TTextStream::UTF8);
}
