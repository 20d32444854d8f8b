// File streams over the C runtime's buffered handles. The stream keeps its own position
// and size so that Eof needs no system call. Paths go to fopen as the UTF-8 form of their
// 16-bit text. Keeps no module state.
#include <sys/stat.h>  // for fstat: telling a folder from a file

#include <cstdio>

#include "runtime/text.h"
#include "stream/stream.h"

namespace {

constexpr int kLastRead = 1;
constexpr int kLastWrite = 2;

}  // namespace

TCStream::~TCStream() { Close(); }

int64_t TCStream::Pos() { return _pos; }
int64_t TCStream::Size() { return _size; }

int64_t TCStream::Seek(int64_t position) {
  if (!_cstream) return -1;
  fseeko(_cstream, static_cast<off_t>(position), SEEK_SET);
  _lastop = 0;
  _pos = static_cast<int64_t>(ftello(_cstream));
  return _pos;
}

int64_t TCStream::Read(void* buffer, int64_t count) {
  if (!_cstream || count <= 0) return 0;
  // Note: C stdio needs a positioning call between a write and a read on an update stream.
  if (_lastop == kLastWrite) fseeko(_cstream, 0, SEEK_CUR);
  _lastop = kLastRead;
  int64_t n = static_cast<int64_t>(fread(buffer, 1, static_cast<size_t>(count), _cstream));
  if (_pos >= 0) _pos += n;
  return n;
}

int64_t TCStream::Write(const void* buffer, int64_t count) {
  if (!_cstream || count <= 0) return 0;
  if (_lastop == kLastRead) fseeko(_cstream, 0, SEEK_CUR);
  _lastop = kLastWrite;
  int64_t n = static_cast<int64_t>(fwrite(buffer, 1, static_cast<size_t>(count), _cstream));
  if (_pos >= 0) _pos += n;
  if (_pos > _size) _size = _pos;
  return n;
}

int TCStream::Flush() {
  if (_cstream) fflush(_cstream);
  return 0;
}

int TCStream::Close() {
  if (!_cstream) return 0;
  Flush();
  fclose(_cstream);
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
  FILE* file = fopen(TextToUtf8(fixed).c_str(), openMode);
  if (!file) return nullptr;
  // Note: this C runtime opens a folder for reading; it would read nothing while its size
  // is reported as the largest offset, so a line-reading loop would never reach the end.
  struct stat info {};
  if (fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
    fclose(file);
    return nullptr;
  }
  return CreateWithCStream(file, mode);
}

// Wraps an open handle; the stream owns it from now on.
Ref<TCStream> TCStream::CreateWithCStream(FILE* cstream, int mode) {
  if (!cstream) return nullptr;
  auto stream = std::make_shared<TCStream>();
  stream->_pos = static_cast<int64_t>(ftello(cstream));
  if (stream->_pos >= 0) {
    fseeko(cstream, 0, SEEK_END);
    stream->_size = static_cast<int64_t>(ftello(cstream));
    fseeko(cstream, static_cast<off_t>(stream->_pos), SEEK_SET);
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
