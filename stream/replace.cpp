// File replacement: the temporary file beside the target, created under an unpredictable
// name with O_EXCL | O_NOFOLLOW, written through a TCStream and renamed over the target (or
// copied into it) once complete. Every call works relative to the target's folder, opened
// once, so the folder cannot be swapped for another between the steps.
#include "stream/replace.h"

#include <fcntl.h>
#include <limits.h>      // for NAME_MAX, PATH_MAX
#include <signal.h>
#include <sys/random.h>  // for getrandom: the unpredictable part of a temporary name
#include <unistd.h>

#include <cerrno>
#include <chrono>   // for the fallback when the kernel has no random source
#include <cstring>  // for std::memcpy
#include <utility>  // for std::exchange

#include "runtime/text.h"

namespace {

// ---- constants -------------------------------------------------------------------------

const std::string kTemporaryMark = ".tmp-";
constexpr std::size_t kRandomLetters = 10;  // 62^10 names: guessing one is hopeless
constexpr int kNameAttempts = 100;          // names already taken before giving up
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr mode_t kNewFileMode = 0666;  // before the umask, as a plain create gives it
constexpr mode_t kPermissionBits = 07777;
constexpr int kMaxLinkHops = 40;  // as the kernel allows when it resolves a path
constexpr std::size_t kCopyChunk = 1 << 16;

// Signals that end the process: a temporary file being written must go with it. Faults
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL) raised by the CPU happen again when the handler returns.
constexpr int kEndingSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGABRT, SIGSEGV,
                                  SIGBUS,  SIGFPE,  SIGILL,  SIGXFSZ, SIGXCPU};
constexpr int kEndingSignalCount = sizeof(kEndingSignals) / sizeof(kEndingSignals[0]);

// ---- module state ----------------------------------------------------------------------

// The one temporary file the signal handler removes. Plain data only: the handler reads it.
struct Cleanup {
  volatile sig_atomic_t armed = 0;
  int folder = -1;
  char name[NAME_MAX + 1] = {};
  bool installed[kEndingSignalCount] = {};
  struct sigaction previous[kEndingSignalCount] = {};
};
Cleanup cleanup;

// ---- internal helpers ------------------------------------------------------------------

// Restores errno when it goes out of scope, so that clean-up never hides the reason.
struct KeepErrno {
  int saved = errno;
  ~KeepErrno() { errno = saved; }
};

void RestoreSignalHandlers() {
  for (int i = 0; i < kEndingSignalCount; ++i) {
    if (!cleanup.installed[i]) continue;
    cleanup.installed[i] = false;
    sigaction(kEndingSignals[i], &cleanup.previous[i], nullptr);
  }
}

// Removes the temporary file, then lets the signal do what it did before: async-signal-safe
// calls only.
void RemoveTemporaryOnSignal(int signal, siginfo_t* info, void*) {
  const int saved = errno;
  if (cleanup.armed) {
    cleanup.armed = 0;
    unlinkat(cleanup.folder, cleanup.name, 0);
  }
  RestoreSignalHandlers();
  errno = saved;
  const bool fault = (signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE ||
                      signal == SIGILL) && info && info->si_code > 0;
  // Note: a fault returns and happens again under the previous handler; any other signal
  // is raised again and arrives, under the previous handler, once this one returns.
  if (!fault) raise(signal);
}

// Covers the temporary file against the ending signals until Disarm. A signal the process
// ignores stays ignored. Only one file is covered at a time.
void ArmCleanup(int folder, const std::string& name) {
  if (cleanup.armed || name.size() > NAME_MAX) return;
  cleanup.folder = folder;
  std::memcpy(cleanup.name, name.c_str(), name.size() + 1);
  cleanup.armed = 1;
  struct sigaction action {};
  action.sa_sigaction = RemoveTemporaryOnSignal;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < kEndingSignalCount; ++i) {
    struct sigaction previous {};
    if (sigaction(kEndingSignals[i], nullptr, &previous) != 0) continue;
    if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN) continue;
    cleanup.previous[i] = previous;
    cleanup.installed[i] = true;
    sigaction(kEndingSignals[i], &action, nullptr);
  }
}

void DisarmCleanup(int folder) {
  if (!cleanup.armed || cleanup.folder != folder) return;
  cleanup.armed = 0;
  RestoreSignalHandlers();
  cleanup.folder = -1;
}

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

// Follows symbolic links at the end of the path to the name they finally give, as opening
// the path would. False (ELOOP) for a chain that never ends; a name that is missing or no
// link ends the walk.
bool FollowLinks(std::string& path) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    char target[PATH_MAX];
    ssize_t length = readlink(path.c_str(), target, sizeof(target));
    if (length < 0) return true;  // not a link, or nothing there: the caller finds out which
    if (static_cast<std::size_t>(length) == sizeof(target)) {
      errno = ENAMETOOLONG;
      return false;
    }
    std::string next(target, static_cast<std::size_t>(length));
    if (next.empty() || next[0] != '/') {
      std::string folder, name;
      SplitPath(path, folder, name);
      next = folder + "/" + next;
    }
    path = next;
  }
  errno = ELOOP;
  return false;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool WriteAll(int fd, const char* data, std::size_t count) {
  while (count > 0) {
    ssize_t n = write(fd, data, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

// ---- free functions --------------------------------------------------------------------

int CreateFileExclusively(int folder, const std::string& name) {
  return openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
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

// Opens the existing target for writing without following a link, and makes sure it is
// still the file Begin looked at.
bool TFileReplacement::OpenTarget(int flags) {
  target_ = openat(folder_, name_.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | flags);
  if (target_ < 0) return false;
  struct stat now {};
  if (fstat(target_, &now) != 0) return false;
  if (!SameFile(now, existing_)) {
    errno = EAGAIN;  // swapped under us
    return false;
  }
  return true;
}

bool TFileReplacement::Begin(const String& path) {
  Abandon();
  String fixed = path;
  for (char16_t& c : fixed) if (c == u'\\') c = u'/';
  std::string native = TextToUtf8(fixed);
  // Note: a link named like the file is written through, as opening it would; the new
  // content then goes beside the file the link names, and the link stays.
  if (!FollowLinks(native)) return false;
  std::string folder;
  SplitPath(native, folder, name_);
  if (name_.empty()) {
    errno = EISDIR;
    return false;
  }
  folder_ = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder_ < 0) return false;

  exists_ = fstatat(folder_, name_.c_str(), &existing_, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists_ && errno != ENOENT) {
    Abandon();
    return false;
  }
  mode = kRename;
  if (exists_) {
    if (S_ISDIR(existing_.st_mode)) {
      errno = EISDIR;
      Abandon();
      return false;
    }
    // Note: a file the user may not write (mode 444) is refused here, exactly as opening it
    // for writing would be, although the folder would let a rename replace it.
    if (faccessat(folder_, name_.c_str(), W_OK, AT_EACCESS) != 0) {
      Abandon();
      return false;
    }
    const bool ours = geteuid() == 0 || existing_.st_uid == geteuid();
    if (!S_ISREG(existing_.st_mode)) {
      mode = kInPlace;
    } else if (existing_.st_nlink > 1 || !ours) {
      mode = kCopyIn;
    }
  }

  int fd = -1;
  if (mode != kInPlace) {
    long limit = fpathconf(folder_, _PC_NAME_MAX);
    if (limit <= 0) limit = NAME_MAX;
    for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
      temporary_ = TemporaryNameFor(name_, static_cast<std::size_t>(limit));
      fd = CreateFileExclusively(folder_, temporary_);
      if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
      temporary_.clear();
      // Note: a file we may write in a folder we may not: written in place, as opening
      // it would; only then can a failed write damage it.
      const bool folder_refused = errno == EACCES || errno == EPERM || errno == EROFS;
      if (!exists_ || !folder_refused) {
        Abandon();
        return false;
      }
      mode = kInPlace;
    }
  }
  if (mode == kInPlace) {
    // Note: opened without truncation, checked to be the file we looked at, then emptied.
    if (!OpenTarget(O_NONBLOCK) ||
        fcntl(target_, F_SETFL, fcntl(target_, F_GETFL) & ~O_NONBLOCK) != 0 ||
        (S_ISREG(existing_.st_mode) && ftruncate(target_, 0) != 0)) {
      Abandon();
      return false;
    }
    fd = dup(target_);
    if (fd < 0) {
      Abandon();
      return false;
    }
  } else {
    ArmCleanup(folder_, temporary_);
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

// Copies the complete temporary file into the existing target, from its start.
bool TFileReplacement::CopyIntoTarget(int64_t bytes) {
  if (!OpenTarget(0) || ftruncate(target_, 0) != 0) return false;
  std::string chunk(kCopyChunk, '\0');
  for (int64_t done = 0; done < bytes;) {
    ssize_t n = pread(file_, chunk.data(), chunk.size(), static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;  // the temporary file shrank under us
      return false;
    }
    if (!WriteAll(target_, chunk.data(), static_cast<std::size_t>(n))) return false;
    done += n;
  }
  return close(std::exchange(target_, -1)) == 0;
}

bool TFileReplacement::Commit(int64_t bytes) {
  if (file_ < 0) {
    errno = EBADF;
    return false;
  }
  errno = 0;
  stream->Close();
  stream.reset();
  // Note: buffered bytes reach the disk only when the stream closes, and a full disk may
  // show only there; the file must hold every byte before it may replace the target.
  struct stat written {};
  if (fstat(file_, &written) != 0 ||
      (S_ISREG(written.st_mode) && written.st_size != bytes)) {
    if (errno == 0) errno = EIO;
    Abandon();
    return false;
  }
  bool ok = true;
  if (mode == kCopyIn) {
    ok = CopyIntoTarget(bytes);
  } else if (mode == kRename) {
    if (exists_) {
      // The old file's owner and permission bits; the owner first, because changing it
      // clears the set-user-id bit. Note: an owner we may not give is left as it is.
      if (fchown(file_, existing_.st_uid, existing_.st_gid) != 0) {
        static_cast<void>(fchown(file_, static_cast<uid_t>(-1), existing_.st_gid));
      }
      ok = fchmod(file_, existing_.st_mode & kPermissionBits) == 0;
    } else {
      // The permissions a plain create would have given the file.
      ok = fchmod(file_, kNewFileMode & ~CurrentUmask()) == 0;
    }
    ok = ok && renameat(folder_, temporary_.c_str(), folder_, name_.c_str()) == 0;
    if (ok) {
      DisarmCleanup(folder_);
      temporary_.clear();
    }
  }
  Abandon();  // closes the handles and removes a temporary file that is still there
  return ok;
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
  DisarmCleanup(folder_);
  for (int* fd : {&file_, &target_, &folder_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  exists_ = false;
}
