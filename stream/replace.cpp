// File replacement: the temporary file beside the target, created under an unpredictable
// name with O_EXCL | O_NOFOLLOW, written through a TCStream and renamed over the target
// once complete. Every call works relative to the target's folder, opened once, so the
// folder cannot be swapped for another between the steps.
#include "stream/replace.h"

#include <fcntl.h>
#include <limits.h>      // for NAME_MAX
#include <sys/random.h>  // for getrandom: the unpredictable part of a temporary name
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>  // for the fallback when the kernel has no random source

#include "runtime/text.h"

namespace {

// ---- constants -------------------------------------------------------------------------

const std::string kTemporaryMark = ".tmp-";
constexpr std::size_t kRandomLetters = 10;  // 62^10 names: guessing one is hopeless
constexpr int kNameAttempts = 100;          // names already taken before giving up
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr mode_t kNewFileMode = 0666;  // before the umask, as a plain create gives it

// ---- internal helpers ------------------------------------------------------------------

// Restores errno when it goes out of scope, so that clean-up never hides the reason.
struct KeepErrno {
  int saved = errno;
  ~KeepErrno() { errno = saved; }
};

void FillRandom(unsigned char* bytes, std::size_t count) {
  std::size_t got = 0;
  while (got < count) {
    ssize_t n = getrandom(bytes + got, count - got, 0);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got == count) return;
  // Note: without a kernel random source the clock still varies the name; exclusive
  // creation keeps it safe either way.
  auto seed = static_cast<unsigned long long>(
      std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<unsigned long long>(getpid()) << 32);
  for (std::size_t i = got; i < count; ++i) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    bytes[i] = static_cast<unsigned char>(seed >> 56);
  }
}

mode_t CurrentUmask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// Splits a native path into its folder (".") and its last name.
void SplitPath(const std::string& path, std::string& folder, std::string& name) {
  // Note: built with assign; g++ 12 warns falsely (-Wrestrict) on assigning literals here.
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    folder.assign(1, '.');
    name = path;
  } else {
    folder.assign(path, 0, slash == 0 ? 1 : slash);
    name.assign(path, slash + 1, std::string::npos);
  }
}

}  // namespace

// ---- free functions --------------------------------------------------------------------

int CreateFileExclusively(int folder, const std::string& name) {
  return openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                0600);
}

std::string TemporaryNameFor(const std::string& name, std::size_t limit) {
  const std::size_t suffix = kTemporaryMark.size() + kRandomLetters;
  std::size_t keep = name.size();
  if (limit > suffix && keep > limit - suffix) {
    keep = limit - suffix;
    // Note: cut on a character boundary, so a UTF-8 name stays readable.
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
  }
  unsigned char random[kRandomLetters];
  FillRandom(random, kRandomLetters);
  std::string result = name.substr(0, keep) + kTemporaryMark;
  for (unsigned char byte : random) result += kAlphabet[byte % (sizeof(kAlphabet) - 1)];
  return result;
}

// ---- TFileReplacement ------------------------------------------------------------------

TFileReplacement::~TFileReplacement() { Abandon(); }

bool TFileReplacement::Begin(const String& path) {
  Abandon();
  String fixed = path;
  for (char16_t& c : fixed) if (c == u'\\') c = u'/';
  std::string folder;
  SplitPath(TextToUtf8(fixed), folder, name_);
  if (name_.empty()) {
    errno = EISDIR;
    return false;
  }
  folder_ = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder_ < 0) return false;
  long limit = fpathconf(folder_, _PC_NAME_MAX);
  if (limit <= 0) limit = NAME_MAX;

  int fd = -1;
  for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
    temporary_ = TemporaryNameFor(name_, static_cast<std::size_t>(limit));
    fd = CreateFileExclusively(folder_, temporary_);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    KeepErrno keep;
    temporary_.clear();
    close(folder_);
    folder_ = -1;
    return false;
  }
  file_ = dup(fd);
  FILE* file = file_ >= 0 ? fdopen(fd, "wb") : nullptr;
  if (!file) {
    KeepErrno keep;
    close(fd);
    Abandon();
    return false;
  }
  stream = TCStream::CreateWithCStream(file, MODE_WRITE);
  return true;
}

bool TFileReplacement::Commit(int64_t bytes) {
  if (temporary_.empty()) {
    errno = EBADF;
    return false;
  }
  errno = 0;
  stream->Close();
  stream.reset();
  // Note: buffered bytes reach the disk only when the stream closes, and a full disk may
  // show only there; the file must hold every byte before it may replace the target.
  struct stat info {};
  if (fstat(file_, &info) != 0 || info.st_size != bytes) {
    if (errno == 0) errno = EIO;
    Abandon();
    return false;
  }
  // The permissions a plain create would have given the file.
  if (fchmod(file_, kNewFileMode & ~CurrentUmask()) != 0 ||
      renameat(folder_, temporary_.c_str(), folder_, name_.c_str()) != 0) {
    Abandon();
    return false;
  }
  temporary_.clear();
  Abandon();  // closes the handles; nothing is left to remove
  return true;
}

void TFileReplacement::Abandon() {
  KeepErrno keep;
  if (stream) {
    try {
      stream->Close();
    } catch (...) {
      // the temporary file goes anyway
    }
    stream.reset();
  }
  if (!temporary_.empty()) unlinkat(folder_, temporary_.c_str(), 0);
  temporary_.clear();
  if (file_ >= 0) close(file_);
  file_ = -1;
  if (folder_ >= 0) close(folder_);
  folder_ = -1;
}
