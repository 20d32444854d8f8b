// File streams over the C runtime's buffered handles. The stream keeps its own position
// and size so that Eof needs no system call, and the reason of its first failed write,
// flush or close. Paths reach the system through stream/platform.h. Keeps no module state.
#include <cerrno>  // for the reason of a failed call
#include <cstdio>

#include "stream/platform.h"
#include "stream/stream.h"

namespace {

constexpr int kLastRead = 1;
constexpr int kLastWrite = 2;

// Keeps the reason of the first failed call; a later one is often only its echo.
void NoteFailure(int& error) {
  if (error == 0) error = errno != 0 ? errno : EIO;
}

}  // namespace

TCStream::~TCStream() { Close(); }

int64_t TCStream::Pos() { return _pos; }
int64_t TCStream::Size() { return _size; }

int64_t TCStream::Seek(int64_t position) {
  if (!_cstream) return -1;
  NativeSeek(_cstream, position, SEEK_SET);
  _lastop = 0;
  _pos = NativeTell(_cstream);
  return _pos;
}

int64_t TCStream::Read(void* buffer, int64_t count) {
  if (!_cstream || count <= 0) return 0;
  // Note: C stdio needs a positioning call between a write and a read on an update stream.
  if (_lastop == kLastWrite) NativeSeek(_cstream, 0, SEEK_CUR);
  _lastop = kLastRead;
  int64_t n = static_cast<int64_t>(fread(buffer, 1, static_cast<size_t>(count), _cstream));
  if (_pos >= 0) _pos += n;
  return n;
}

int64_t TCStream::Write(const void* buffer, int64_t count) {
  if (!_cstream || count <= 0) return 0;
  if (_lastop == kLastRead) NativeSeek(_cstream, 0, SEEK_CUR);
  _lastop = kLastWrite;
  errno = 0;
  int64_t n = static_cast<int64_t>(fwrite(buffer, 1, static_cast<size_t>(count), _cstream));
  if (n < count) NoteFailure(_error);
  if (_pos >= 0) _pos += n;
  if (_pos > _size) _size = _pos;
  return n;
}

int TCStream::Flush() {
  if (!_cstream) return 0;
  errno = 0;
  if (fflush(_cstream) != 0) NoteFailure(_error);
  return 0;
}

int TCStream::Close() {
  if (!_cstream) return 0;
  Flush();
  errno = 0;
  if (fclose(_cstream) != 0) NoteFailure(_error);
  _cstream = nullptr;
  _pos = 0;
  _size = 0;
  _lastop = 0;
  return 0;
}

// Opens a file: read and write "r+b", write only "wb" (truncating), otherwise "rb".
// Null when the file cannot be opened.
Ref<TCStream> TCStream::OpenFile(const String& path, bool readable, bool writeable) {
  const char* openMode = "rb";
  int mode = MODE_READ;
  if (readable && writeable) {
    openMode = "r+b";
    mode = MODE_READ | MODE_WRITE;
  } else if (writeable) {
    openMode = "wb";
    mode = MODE_WRITE;
  }
  String fixed = path;
  for (auto& c : fixed) if (c == u'\\') c = u'/';
  FILE* file = OpenNativeFile(fixed, openMode);
  if (!file) return nullptr;
  return CreateWithCStream(file, mode);
}

// Wraps an open handle; the stream owns it from now on.
Ref<TCStream> TCStream::CreateWithCStream(FILE* cstream, int mode) {
  if (!cstream) return nullptr;
  auto stream = std::make_shared<TCStream>();
  stream->_pos = NativeTell(cstream);
  if (stream->_pos >= 0) {
    NativeSeek(cstream, 0, SEEK_END);
    stream->_size = NativeTell(cstream);
    NativeSeek(cstream, stream->_pos, SEEK_SET);
  } else {
    // Note: a pipe or terminal has no position; Pos stays -1 so that OpenFileStream reads
    // it into memory, and the reads end on their first empty transfer.
    stream->_pos = -1;
    stream->_size = 0;
  }
  stream->_cstream = cstream;
  stream->_mode = mode;
  return stream;
}
