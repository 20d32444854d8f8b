// The stream layer's system calls on POSIX systems: paths go to the system as the UTF-8
// form of their 16-bit text; positions are 64-bit off_t. Chosen by CMake everywhere but
// Windows. Keeps no state.
#include "stream/platform.h"

#include <dirent.h>      // for opendir, readdir: listing a folder
#include <sys/random.h>  // for getrandom
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>  // for ignoring SIGPIPE

#include "runtime/text.h"
#include "stream/stream.h"

FILE* OpenNativeFile(const String& path, const char* mode) {
  FILE* file = fopen(TextToUtf8(path).c_str(), mode);
  if (!file) return nullptr;
  // Note: this C runtime opens a folder for reading; it would read nothing while its size
  // is reported as the largest offset, so a line-reading loop would never reach the end.
  struct stat info {};
  if (fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
    fclose(file);
    errno = EISDIR;
    return nullptr;
  }
  return file;
}

int64_t NativeTell(FILE* file) { return static_cast<int64_t>(ftello(file)); }

int NativeSeek(FILE* file, int64_t offset, int whence) {
  return fseeko(file, static_cast<off_t>(offset), whence);
}

int NativeFileType(const String& path) {
  struct stat info {};
  if (stat(TextToUtf8(path).c_str(), &info) != 0) return FILETYPE_NONE;
  if (S_ISREG(info.st_mode)) return FILETYPE_FILE;
  if (S_ISDIR(info.st_mode)) return FILETYPE_DIR;
  return FILETYPE_NONE;
}

bool NativeExists(const String& path) {
  struct stat info {};
  return stat(TextToUtf8(path).c_str(), &info) == 0;
}

std::vector<String> FolderEntries(const String& folder) {
  std::vector<String> names;
  DIR* dir = opendir(TextToUtf8(folder).c_str());
  if (!dir) return names;
  while (dirent* entry = readdir(dir)) names.push_back(TextFromUtf8(entry->d_name));
  closedir(dir);
  return names;
}

void PrepareStandardStreams() {
  // Note: a reader that went away (a closed pipe) must become "Error writing to stream",
  // not a signal that ends the process without a word.
  signal(SIGPIPE, SIG_IGN);
}

bool FillRandomBytes(unsigned char* bytes, std::size_t count) {
  std::size_t got = 0;
  while (got < count) {
    ssize_t n = getrandom(bytes + got, count - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}
