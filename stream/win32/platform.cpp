// The stream layer's system calls on Windows: paths go to the wide-character calls of the
// C runtime and the system in UTF-16, so a folder named "Спрайты" or "スプライト" works;
// positions are 64-bit; random bytes come from the system's preferred generator. Chosen by
// CMake when the target is Windows. Keeps no state.
#include "stream/platform.h"

#include "stream/win32/native.h"

#include <bcrypt.h>  // for BCryptGenRandom
#include <fcntl.h>   // for _O_BINARY
#include <io.h>      // for _setmode, _get_osfhandle
#include <sys/stat.h>

#include "stream/stream.h"

namespace {

// The path for _wstat: a trailing slash makes it fail, except after a drive ("C:/").
std::wstring StatPath(const String& path) {
  std::wstring wide = WidePath(path);
  while (wide.size() > 1 && wide.back() == L'\\' && wide[wide.size() - 2] != L':') {
    wide.pop_back();
  }
  return wide;
}

}  // namespace

FILE* OpenNativeFile(const String& path, const char* mode) {
  std::wstring wide_mode(mode, mode + std::char_traits<char>::length(mode));
  FILE* file = _wfopen(WidePath(path).c_str(), wide_mode.c_str());
  if (!file) return nullptr;
  struct _stat64 info {};
  if (_fstat64(_fileno(file), &info) == 0 && (info.st_mode & _S_IFDIR)) {
    fclose(file);
    errno = EISDIR;
    return nullptr;
  }
  return file;
}

int64_t NativeTell(FILE* file) {
  // Note: the C runtime answers a position for a pipe or a console too; only a file on a
  // disk has one.
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK) return -1;
  return static_cast<int64_t>(_ftelli64(file));
}

int NativeSeek(FILE* file, int64_t offset, int whence) {
  return _fseeki64(file, static_cast<__int64>(offset), whence);
}

int NativeFileType(const String& path) {
  struct _stat64 info {};
  if (_wstat64(StatPath(path).c_str(), &info) != 0) return FILETYPE_NONE;
  if (info.st_mode & _S_IFREG) return FILETYPE_FILE;
  if (info.st_mode & _S_IFDIR) return FILETYPE_DIR;
  return FILETYPE_NONE;
}

bool NativeExists(const String& path) {
  struct _stat64 info {};
  return _wstat64(StatPath(path).c_str(), &info) == 0;
}

std::vector<String> FolderEntries(const String& folder) {
  std::vector<String> names;
  std::wstring pattern = WidePath(folder);
  if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const wchar_t* name = found.cFileName;
    names.emplace_back(name, name + std::char_traits<wchar_t>::length(name));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

void PrepareStandardStreams() {
  // Note: the console stream writes its own CR LF; in the C runtime's text mode every LF
  // would gain another CR. A reader that went away makes a write fail (Windows has no
  // broken-pipe signal), which the console stream reports as a failed write.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
}

bool FillRandomBytes(unsigned char* bytes, std::size_t count) {
  return BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(count),
                         BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}
