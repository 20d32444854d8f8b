// Stream core: the exceptions, the base behaviour of TIO and TStream (typed, line and
// string transfers built on Read and Write), the forwarding wrappers, the module-level
// forwarders and the whole-URL helpers. Depends on the runtime core and url.cpp for
// opening. State: only the start-up flag.
#include "stream/stream.h"

#include <cstring>  // for std::memcpy
#include <string>

#include "runtime/text.h"
#include "stream/console.h"

namespace {

constexpr int64_t kSkipScratchSize = 1024;
constexpr size_t kLineBufferStart = 1024;
constexpr size_t kLoadBufferStart = 1024;

bool started = false;

// Reads the memory image of a value.
template <class T>
T ReadImage(TStream& stream) {
  T value{};
  stream.ReadBytes(&value, sizeof(T));
  return value;
}

template <class T>
void WriteImage(TStream& stream, T value) {
  stream.WriteBytes(&value, sizeof(T));
}

}  // namespace

// ---- Exceptions -------------------------------------------------------------------------

String TStreamException::ToString() const { return u"Stream exception"; }
String TStreamReadException::ToString() const { return u"Error reading from stream"; }
String TStreamWriteException::ToString() const { return u"Error writing to stream"; }

// ---- TIO --------------------------------------------------------------------------------

bool TIO::Eof() { return Pos() == Size(); }
int64_t TIO::Pos() { return -1; }
int64_t TIO::Size() { return 0; }
int64_t TIO::Seek(int64_t) { return -1; }
int TIO::Flush() { return 0; }
int TIO::Close() { return 0; }
int64_t TIO::Read(void*, int64_t) { throw TRuntimeError("Stream is not readable"); }
int64_t TIO::Write(const void*, int64_t) { throw TRuntimeError("Stream is not writeable"); }

// ---- TStream ----------------------------------------------------------------------------

int64_t TStream::ReadBytes(void* buffer, int64_t count) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    int64_t n = Read(bytes + done, count - done);
    if (n <= 0) throw TStreamReadException();
    done += n;
  }
  return count;
}

int64_t TStream::WriteBytes(const void* buffer, int64_t count) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    int64_t n = Write(bytes + done, count - done);
    if (n <= 0) throw TStreamWriteException();
    done += n;
  }
  return count;
}

int64_t TStream::SkipBytes(int64_t count) {
  uint8_t scratch[kSkipScratchSize];
  int64_t left = count;
  while (left > 0) {
    int64_t n = Read(scratch, left < kSkipScratchSize ? left : kSkipScratchSize);
    if (n <= 0) throw TStreamReadException();
    left -= n;
  }
  return count;
}

int TStream::ReadByte() { return ReadImage<uint8_t>(*this); }
void TStream::WriteByte(int value) { WriteImage<uint8_t>(*this, static_cast<uint8_t>(value)); }
int TStream::ReadShort() { return ReadImage<uint16_t>(*this); }
void TStream::WriteShort(int value) {
  WriteImage<uint16_t>(*this, static_cast<uint16_t>(value));
}
int32_t TStream::ReadInt() { return ReadImage<int32_t>(*this); }
void TStream::WriteInt(int32_t value) { WriteImage<int32_t>(*this, value); }
int64_t TStream::ReadLong() { return ReadImage<int64_t>(*this); }
void TStream::WriteLong(int64_t value) { WriteImage<int64_t>(*this, value); }
float TStream::ReadFloat() { return ReadImage<float>(*this); }
void TStream::WriteFloat(float value) { WriteImage<float>(*this, value); }
double TStream::ReadDouble() { return ReadImage<double>(*this); }
void TStream::WriteDouble(double value) { WriteImage<double>(*this, value); }

String TStream::ReadLine() {
  std::string line;
  line.reserve(kLineBufferStart);
  for (;;) {
    uint8_t byte = 0;
    if (Read(&byte, 1) != 1) break;
    if (byte == 0 || byte == 10) break;
    // Note: CR is dropped wherever it sits, not only before LF.
    if (byte == 13) continue;
    line.push_back(static_cast<char>(byte));
  }
  return TextFromBytes(line);
}

bool TStream::WriteLine(const String& text) {
  std::string bytes = TextToBytes(text);
  int64_t count = static_cast<int64_t>(bytes.size());
  if (count > 0 && Write(bytes.data(), count) != count) return false;
  static const uint8_t kLineEnd[2] = {13, 10};
  return Write(kLineEnd, 2) == 2;
}

String TStream::ReadString(int64_t length) {
  if (length <= 0) return String();
  std::string bytes(static_cast<size_t>(length), '\0');
  ReadBytes(bytes.data(), length);
  return TextFromBytes(bytes);
}

void TStream::WriteString(const String& text) {
  std::string bytes = TextToBytes(text);
  if (!bytes.empty()) WriteBytes(bytes.data(), static_cast<int64_t>(bytes.size()));
}

Ref<Object> TStream::ReadObject() { throw TRuntimeError("Unable to read object"); }
void TStream::WriteObject(const Ref<Object>&) { throw TRuntimeError("Unable to write object"); }

// ---- TStreamWrapper ---------------------------------------------------------------------
// Note: a wrapper with no inner stream (a closed TStreamStream) behaves like a closed file
// stream, at its end and transferring nothing, instead of following a null reference.

void TStreamWrapper::SetStream(Ref<TStream> stream) { _stream = std::move(stream); }

bool TStreamWrapper::Eof() { return _stream ? _stream->Eof() : true; }
int64_t TStreamWrapper::Pos() { return _stream ? _stream->Pos() : TStream::Pos(); }
int64_t TStreamWrapper::Size() { return _stream ? _stream->Size() : TStream::Size(); }
int64_t TStreamWrapper::Seek(int64_t position) {
  return _stream ? _stream->Seek(position) : TStream::Seek(position);
}
int TStreamWrapper::Flush() { return _stream ? _stream->Flush() : TStream::Flush(); }
int TStreamWrapper::Close() { return _stream ? _stream->Close() : TStream::Close(); }
int64_t TStreamWrapper::Read(void* buffer, int64_t count) {
  return _stream ? _stream->Read(buffer, count) : 0;
}
int64_t TStreamWrapper::Write(const void* buffer, int64_t count) {
  return _stream ? _stream->Write(buffer, count) : 0;
}
int TStreamWrapper::ReadByte() { return _stream ? _stream->ReadByte() : TStream::ReadByte(); }
void TStreamWrapper::WriteByte(int value) {
  _stream ? _stream->WriteByte(value) : TStream::WriteByte(value);
}
int TStreamWrapper::ReadShort() { return _stream ? _stream->ReadShort() : TStream::ReadShort(); }
void TStreamWrapper::WriteShort(int value) {
  _stream ? _stream->WriteShort(value) : TStream::WriteShort(value);
}
int32_t TStreamWrapper::ReadInt() { return _stream ? _stream->ReadInt() : TStream::ReadInt(); }
void TStreamWrapper::WriteInt(int32_t value) {
  _stream ? _stream->WriteInt(value) : TStream::WriteInt(value);
}
float TStreamWrapper::ReadFloat() { return _stream ? _stream->ReadFloat() : TStream::ReadFloat(); }
void TStreamWrapper::WriteFloat(float value) {
  _stream ? _stream->WriteFloat(value) : TStream::WriteFloat(value);
}
double TStreamWrapper::ReadDouble() {
  return _stream ? _stream->ReadDouble() : TStream::ReadDouble();
}
void TStreamWrapper::WriteDouble(double value) {
  _stream ? _stream->WriteDouble(value) : TStream::WriteDouble(value);
}
String TStreamWrapper::ReadLine() { return _stream ? _stream->ReadLine() : TStream::ReadLine(); }
bool TStreamWrapper::WriteLine(const String& text) {
  return _stream ? _stream->WriteLine(text) : TStream::WriteLine(text);
}
String TStreamWrapper::ReadString(int64_t length) {
  return _stream ? _stream->ReadString(length) : TStream::ReadString(length);
}
void TStreamWrapper::WriteString(const String& text) {
  _stream ? _stream->WriteString(text) : TStream::WriteString(text);
}
Ref<Object> TStreamWrapper::ReadObject() {
  return _stream ? _stream->ReadObject() : TStream::ReadObject();
}
void TStreamWrapper::WriteObject(const Ref<Object>& object) {
  _stream ? _stream->WriteObject(object) : TStream::WriteObject(object);
}

int TStreamStream::Close() {
  SetStream(nullptr);
  return 0;
}

Ref<TStreamStream> TStreamStream::Create(Ref<TStream> stream) {
  auto wrapper = std::make_shared<TStreamStream>();
  wrapper->SetStream(std::move(stream));
  return wrapper;
}

// ---- Module-level forwarders ------------------------------------------------------------

bool StreamEof(const Ref<TStream>& stream) { return stream->Eof(); }
int64_t StreamPos(const Ref<TStream>& stream) { return stream->Pos(); }
int64_t StreamSize(const Ref<TStream>& stream) { return stream->Size(); }
int64_t StreamSeek(const Ref<TStream>& stream, int64_t position) {
  return stream->Seek(position);
}
int StreamFlush(const Ref<TStream>& stream) { return stream->Flush(); }
int StreamClose(const Ref<TStream>& stream) { return stream->Close(); }
String StreamReadLine(const Ref<TStream>& stream) { return stream->ReadLine(); }
bool StreamWriteLine(const Ref<TStream>& stream, const String& text) {
  return stream->WriteLine(text);
}
String StreamReadString(const Ref<TStream>& stream, int64_t length) {
  return stream->ReadString(length);
}
void StreamWriteString(const Ref<TStream>& stream, const String& text) {
  stream->WriteString(text);
}
int64_t StreamRead(const Ref<TStream>& stream, void* buffer, int64_t count) {
  return stream->Read(buffer, count);
}
int64_t StreamWrite(const Ref<TStream>& stream, const void* buffer, int64_t count) {
  return stream->Write(buffer, count);
}
int64_t StreamReadBytes(const Ref<TStream>& stream, void* buffer, int64_t count) {
  return stream->ReadBytes(buffer, count);
}
int64_t StreamWriteBytes(const Ref<TStream>& stream, const void* buffer, int64_t count) {
  return stream->WriteBytes(buffer, count);
}
int64_t StreamSkipBytes(const Ref<TStream>& stream, int64_t count) {
  return stream->SkipBytes(count);
}
int StreamReadByte(const Ref<TStream>& stream) { return stream->ReadByte(); }
void StreamWriteByte(const Ref<TStream>& stream, int value) { stream->WriteByte(value); }
int StreamReadShort(const Ref<TStream>& stream) { return stream->ReadShort(); }
void StreamWriteShort(const Ref<TStream>& stream, int value) { stream->WriteShort(value); }
int32_t StreamReadInt(const Ref<TStream>& stream) { return stream->ReadInt(); }
void StreamWriteInt(const Ref<TStream>& stream, int32_t value) { stream->WriteInt(value); }
int64_t StreamReadLong(const Ref<TStream>& stream) { return stream->ReadLong(); }
void StreamWriteLong(const Ref<TStream>& stream, int64_t value) { stream->WriteLong(value); }
float StreamReadFloat(const Ref<TStream>& stream) { return stream->ReadFloat(); }
void StreamWriteFloat(const Ref<TStream>& stream, float value) { stream->WriteFloat(value); }
double StreamReadDouble(const Ref<TStream>& stream) { return stream->ReadDouble(); }
void StreamWriteDouble(const Ref<TStream>& stream, double value) { stream->WriteDouble(value); }

// ---- Whole-URL helpers ------------------------------------------------------------------

// The whole content of a URL, read until its end.
std::vector<uint8_t> LoadUrlBytes(const Ref<Object>& url) {
  Ref<TStream> stream = OpenUrlForReading(url);
  if (!stream) throw TStreamReadException();
  std::vector<uint8_t> bytes(kLoadBufferStart);
  size_t count = 0;
  while (!stream->Eof()) {
    if (count == bytes.size()) bytes.resize(bytes.size() * 3 / 2);
    int64_t n = stream->Read(bytes.data() + count, static_cast<int64_t>(bytes.size() - count));
    // Note: a stream that gives nothing before it reports its end is over all the same.
    if (n <= 0) break;
    count += static_cast<size_t>(n);
  }
  stream->Close();
  bytes.resize(count);
  return bytes;
}

// Replaces the content of a URL with the bytes.
void SaveUrlBytes(const std::vector<uint8_t>& bytes, const Ref<Object>& url) {
  Ref<TStream> stream = OpenUrlForWriting(url);
  if (!stream) throw TStreamWriteException();
  if (!bytes.empty()) stream->WriteBytes(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream->Close();
}

// The content of a URL as text, one character per byte.
String LoadUrlText(const Ref<Object>& url) {
  std::vector<uint8_t> bytes = LoadUrlBytes(url);
  return TextFromBytes(std::string_view(reinterpret_cast<const char*>(bytes.data()),
                                        bytes.size()));
}

// Replaces the content of a URL with the text, one byte per character.
void SaveUrlText(const String& text, const Ref<Object>& url) {
  Ref<TStream> stream = OpenUrlForWriting(url);
  if (!stream) throw TStreamWriteException();
  stream->WriteString(text);
  stream->Close();
}

Ref<Object> LoadUrlObject(const Ref<Object>& url) {
  Ref<TStream> stream = OpenUrlForReading(url);
  if (!stream) throw TStreamReadException();
  Ref<Object> object = stream->ReadObject();
  stream->Close();
  return object;
}

void SaveUrlObject(const Ref<Object>& object, const Ref<Object>& url) {
  Ref<TStream> stream = OpenUrlForWriting(url);
  if (!stream) throw TStreamWriteException();
  stream->WriteObject(object);
  stream->Close();
}

// Copies everything left in from to to.
void CopyStreamToEnd(const Ref<TStream>& from, const Ref<TStream>& to, int64_t bufferSize) {
  if (bufferSize < 1) bufferSize = 1;
  std::vector<uint8_t> buffer(static_cast<size_t>(bufferSize));
  while (!from->Eof()) {
    int64_t n = from->Read(buffer.data(), bufferSize);
    // Note: a zero-byte read ends the copy even when the source never reports its end.
    if (n <= 0) break;
    to->WriteBytes(buffer.data(), n);
  }
}

// Copies exactly count bytes; running short raises TStreamReadException.
void CopyStreamBytes(const Ref<TStream>& from, const Ref<TStream>& to, int64_t count,
                     int64_t bufferSize) {
  if (bufferSize < 1) bufferSize = 1;
  std::vector<uint8_t> buffer(static_cast<size_t>(bufferSize));
  while (count > 0) {
    int64_t n = count < bufferSize ? count : bufferSize;
    from->ReadBytes(buffer.data(), n);
    to->WriteBytes(buffer.data(), n);
    count -= n;
  }
}

// Starts the stream module: the factory chain is ready from the first call, and the
// console stream is created here.
void StartStream() {
  if (started) return;
  started = true;
  StartConsole();
}
