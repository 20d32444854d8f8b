// Console output and the debug trace: standard input/output as a stream, a text stream
// that encodes characters (Latin-1, UTF-8, UTF-16 in either order), the console print and
// input functions, and a replaceable debug-trace hook that defaults to doing nothing.
// Depends on the stream core. State: the console stream and the trace hook.
#pragma once

#include <functional>

#include "stream/stream.h"

// Standard input and output of the process as one stream.
class TCStandardIO : public TStream {
 public:
  bool Eof() override;
  int Flush() override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
};

// Turns 16-bit characters into bytes of the inner stream and back.
class TTextStream : public TStreamWrapper {
 public:
  static constexpr int LATIN1 = 1;
  static constexpr int UTF8 = 2;
  static constexpr int UTF16BE = 3;
  static constexpr int UTF16LE = 4;

  bool WriteLine(const String& text) override;
  void WriteString(const String& text) override;
  virtual void WriteChar(int code);
  String ReadLine() override;
  virtual int ReadChar();
  static Ref<TTextStream> Create(Ref<TStream> stream, int encoding);

  int _encoding = UTF8;
  int _bufcount = 0;
};

// The console: a UTF-8 text stream over standard input and output, made at module start.
extern Ref<TTextStream> ConsoleStream;

// Writes the text and CR LF to the console as UTF-8, then flushes.
void ConsolePrint(const String& text);
// Writes the prompt (no line end), flushes, and reads one line from the console.
String ConsoleInput(const String& prompt);
// Hands the text to the debug-trace hook (which does nothing unless one is installed).
void DebugTrace(const String& text);
// Replaces the debug-trace hook; an empty function restores the silent default.
void SetDebugTraceHook(std::function<void(const String&)> hook);
// Makes the console stream. Called by StartStream; runs once.
void StartConsole();
