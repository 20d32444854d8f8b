// Streams: the byte-stream class family (TIO, TStream, TStreamWrapper, TStreamStream,
// TCStream over C stdio), URL opening through the factory chain, the whole-URL helpers and
// the small filesystem layer (file type, open/close of file streams).
// Depends on the runtime core. State: the factory list, kept in stream.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "runtime/object.h"

constexpr int MODE_READ = 1;
constexpr int MODE_WRITE = 2;

constexpr int FILETYPE_NONE = 0;
constexpr int FILETYPE_FILE = 1;
constexpr int FILETYPE_DIR = 2;

// Raised by failed stream reads and writes. Thrown by value, caught by reference.
class TStreamException : public Object {
 public:
  String ToString() const override;
};
class TStreamReadException : public TStreamException {
 public:
  String ToString() const override;  // "Error reading from stream"
};
class TStreamWriteException : public TStreamException {
 public:
  String ToString() const override;  // "Error writing to stream"
};

// The narrow abstract core of every stream.
class TIO : public Object {
 public:
  virtual bool Eof();
  virtual int64_t Pos();
  virtual int64_t Size();
  virtual int64_t Seek(int64_t position);
  virtual int Flush();
  virtual int Close();
  virtual int64_t Read(void* buffer, int64_t count);
  virtual int64_t Write(const void* buffer, int64_t count);
};

// Typed and line-based reads and writes built on Read and Write.
class TStream : public TIO {
 public:
  virtual int64_t ReadBytes(void* buffer, int64_t count);
  virtual int64_t WriteBytes(const void* buffer, int64_t count);
  virtual int64_t SkipBytes(int64_t count);
  virtual int ReadByte();
  virtual void WriteByte(int value);
  virtual int ReadShort();
  virtual void WriteShort(int value);
  virtual int32_t ReadInt();
  virtual void WriteInt(int32_t value);
  virtual int64_t ReadLong();
  virtual void WriteLong(int64_t value);
  virtual float ReadFloat();
  virtual void WriteFloat(float value);
  virtual double ReadDouble();
  virtual void WriteDouble(double value);
  virtual String ReadLine();
  virtual bool WriteLine(const String& text);
  virtual String ReadString(int64_t length);
  virtual void WriteString(const String& text);
  virtual Ref<Object> ReadObject();
  virtual void WriteObject(const Ref<Object>& object);
};

// Forwards to an inner stream.
class TStreamWrapper : public TStream {
 public:
  void SetStream(Ref<TStream> stream);
  // Eof, Pos, Size, Seek, Flush, Close, Read, Write, the typed reads and writes but long,
  // ReadLine, WriteLine, ReadString, WriteString, ReadObject, WriteObject forward.
  bool Eof() override;
  int64_t Pos() override;
  int64_t Size() override;
  int64_t Seek(int64_t position) override;
  int Flush() override;
  int Close() override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int ReadByte() override;
  void WriteByte(int value) override;
  int ReadShort() override;
  void WriteShort(int value) override;
  int32_t ReadInt() override;
  void WriteInt(int32_t value) override;
  float ReadFloat() override;
  void WriteFloat(float value) override;
  double ReadDouble() override;
  void WriteDouble(double value) override;
  String ReadLine() override;
  bool WriteLine(const String& text) override;
  String ReadString(int64_t length) override;
  void WriteString(const String& text) override;
  Ref<Object> ReadObject() override;
  void WriteObject(const Ref<Object>& object) override;

  Ref<TStream> _stream;
};

// What a stream object becomes when passed where a URL is expected: closing it detaches
// it from the inner stream without closing that stream.
class TStreamStream : public TStreamWrapper {
 public:
  int Close() override;
  static Ref<TStreamStream> Create(Ref<TStream> stream);
};

// A stream over a buffered C stdio file handle. Destroying it closes it.
class TCStream : public TStream {
 public:
  ~TCStream() override;
  int64_t Pos() override;
  int64_t Size() override;
  int64_t Seek(int64_t position) override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int Flush() override;
  int Close() override;
  static Ref<TCStream> OpenFile(const String& path, bool readable, bool writeable);
  static Ref<TCStream> CreateWithCStream(FILE* cstream, int mode);

  int64_t _pos = 0;
  int64_t _size = 0;
  FILE* _cstream = nullptr;
  int _mode = 0;
  // Last transfer on the handle (0 none, 1 read, 2 write): C stdio needs a seek between a
  // read and a write on an update stream, so a change of direction inserts one.
  int _lastop = 0;
  // The errno of the first write, flush or close that failed; 0 while none has. Kept after
  // Close, so that whoever finishes the file can say why it is incomplete.
  int _error = 0;
};

// Resolves "protocol::path" URLs. Constructing one puts it at the head of the chain.
class TStreamFactory : public Object {
 public:
  TStreamFactory();
  // Unlinks the factory so the chain never points at a destroyed one.
  ~TStreamFactory() override;
  virtual Ref<TStream> CreateStream(const Ref<Object>& url, const String& protocol,
                                    const String& path, bool readable, bool writeable) = 0;
  TStreamFactory* _succ = nullptr;
};

// A URL is a stream object, a path (TStringObject) or "protocol::path"; any other object
// counts as the empty text.
Ref<TStream> OpenUrlStream(const Ref<Object>& url, bool readable, bool writeable);
Ref<TStream> OpenUrlStream(const String& url, bool readable, bool writeable);
Ref<TStream> OpenUrlForReading(const String& url);
Ref<TStream> OpenUrlForWriting(const String& url);
Ref<TStream> OpenUrlForReading(const Ref<Object>& url);
Ref<TStream> OpenUrlForWriting(const Ref<Object>& url);

bool StreamEof(const Ref<TStream>& stream);
int64_t StreamPos(const Ref<TStream>& stream);
int64_t StreamSize(const Ref<TStream>& stream);
int64_t StreamSeek(const Ref<TStream>& stream, int64_t position);
int StreamFlush(const Ref<TStream>& stream);
int StreamClose(const Ref<TStream>& stream);
String StreamReadLine(const Ref<TStream>& stream);
bool StreamWriteLine(const Ref<TStream>& stream, const String& text);
String StreamReadString(const Ref<TStream>& stream, int64_t length);
void StreamWriteString(const Ref<TStream>& stream, const String& text);
int64_t StreamRead(const Ref<TStream>& stream, void* buffer, int64_t count);
int64_t StreamWrite(const Ref<TStream>& stream, const void* buffer, int64_t count);
int64_t StreamReadBytes(const Ref<TStream>& stream, void* buffer, int64_t count);
int64_t StreamWriteBytes(const Ref<TStream>& stream, const void* buffer, int64_t count);
int64_t StreamSkipBytes(const Ref<TStream>& stream, int64_t count);
int StreamReadByte(const Ref<TStream>& stream);
void StreamWriteByte(const Ref<TStream>& stream, int value);
int StreamReadShort(const Ref<TStream>& stream);
void StreamWriteShort(const Ref<TStream>& stream, int value);
int32_t StreamReadInt(const Ref<TStream>& stream);
void StreamWriteInt(const Ref<TStream>& stream, int32_t value);
int64_t StreamReadLong(const Ref<TStream>& stream);
void StreamWriteLong(const Ref<TStream>& stream, int64_t value);
float StreamReadFloat(const Ref<TStream>& stream);
void StreamWriteFloat(const Ref<TStream>& stream, float value);
double StreamReadDouble(const Ref<TStream>& stream);
void StreamWriteDouble(const Ref<TStream>& stream, double value);

std::vector<uint8_t> LoadUrlBytes(const Ref<Object>& url);
void SaveUrlBytes(const std::vector<uint8_t>& bytes, const Ref<Object>& url);
String LoadUrlText(const Ref<Object>& url);
void SaveUrlText(const String& text, const Ref<Object>& url);
Ref<Object> LoadUrlObject(const Ref<Object>& url);
void SaveUrlObject(const Ref<Object>& object, const Ref<Object>& url);
void CopyStreamToEnd(const Ref<TStream>& from, const Ref<TStream>& to, int64_t bufferSize = 4096);
void CopyStreamBytes(const Ref<TStream>& from, const Ref<TStream>& to, int64_t count,
                     int64_t bufferSize = 4096);
String ResolvePathCase(const String& path);

// Paths reach the platform as the UTF-8 form of their 16-bit text, so every character of
// the path is preserved.
// Backslashes become slashes and a drive-style "X:" gains its "/" ("X:data" -> "X:/data");
// a "//host" path gains a final "/".
String NormalisePath(const String& path);
int GetFileType(const String& path);
Ref<TStream> OpenFileStream(const String& url, bool readable, bool writeable);
Ref<TStream> OpenFileForReading(const String& url);
Ref<TStream> OpenFileForWriting(const String& url);
void CloseFileStream(const Ref<TStream>& stream);

// Starts the stream module (the factory list). Runs once.
void StartStream();
