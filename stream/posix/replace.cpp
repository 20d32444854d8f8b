// File replacement on POSIX systems: the temporary file beside the target, created under an
// unpredictable name with O_EXCL | O_NOFOLLOW, written through a TCStream and renamed over
// the target (or copied into it) once complete. Every call works relative to the target's
// folder, opened once, so the folder cannot be swapped for another between the steps.
// State: the one temporary file the ending signals remove, and the handlers they had before
// ours (installed at the first replacement and left in place).
#include "stream/replace.h"

#include <fcntl.h>
#include <limits.h>  // for NAME_MAX, PATH_MAX
#include <signal.h>
#include <sys/stat.h>
#include <time.h>  // for nanosleep while another thread arms the clean-up
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>  // for std::memcpy
#include <utility>  // for std::exchange

#include "runtime/text.h"

namespace {

// ---- constants -------------------------------------------------------------------------

constexpr int kNameAttempts = 100;     // names already taken before giving up
constexpr mode_t kNewFileMode = 0666;  // before the umask, as a plain create gives it
constexpr mode_t kPermissionBits = 07777;
constexpr int kMaxLinkHops = 40;  // as the kernel allows when it resolves a path
constexpr std::size_t kCopyChunk = 1 << 16;

// Signals that end the process: a temporary file being written must go with it. Faults
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL) raised by the CPU happen again when the handler returns.
constexpr int kEndingSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGABRT, SIGSEGV,
                                  SIGBUS,  SIGFPE,  SIGILL,  SIGXFSZ, SIGXCPU};
constexpr int kEndingSignalCount = sizeof(kEndingSignals) / sizeof(kEndingSignals[0]);
// The ending signals another process sends; they are held back while a temporary file is
// created and its clean-up armed.
constexpr int kSentSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXFSZ, SIGXCPU};

// ---- types -----------------------------------------------------------------------------

// Where the clean-up stands. kCreating: the name is set and the file is being created on
// a thread that holds the sent signals back; a handler on any other thread waits for it.
enum CleanupState : int { kIdle, kCreating, kArmed };

// The one temporary file the signal handler removes. Plain data and lock-free atomics
// only: the handler reads it.
struct Cleanup {
  std::atomic<int> state{kIdle};
  int folder = -1;
  char name[NAME_MAX + 1] = {};
  struct sigaction previous[kEndingSignalCount] = {};
};

// ---- module state ----------------------------------------------------------------------

Cleanup cleanup;
void (*temporary_created_hook)() = nullptr;

// ---- internal helpers ------------------------------------------------------------------

// Restores errno when it goes out of scope, so that clean-up never hides the reason.
struct KeepErrno {
  int saved = errno;
  ~KeepErrno() { errno = saved; }
};

// Holds the sent ending signals back on this thread while it lives.
struct HoldSentSignals {
  sigset_t previous;
  HoldSentSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : kSentSignals) sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &previous);
  }
  ~HoldSentSignals() {
    KeepErrno keep;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
};

int SignalIndex(int signal) {
  for (int i = 0; i < kEndingSignalCount; ++i) {
    if (kEndingSignals[i] == signal) return i;
  }
  return -1;
}

// Removes the temporary file, then lets the signal do what it did before: async-signal-safe
// calls only.
void RemoveTemporaryOnSignal(int signal, siginfo_t* info, void* context) {
  const int saved = errno;
  // Note: only a thread other than the one creating the file gets here in kCreating (that
  // one holds the signals back); the creator needs a few system calls to finish.
  while (cleanup.state.load() == kCreating) {
    const timespec pause{0, 100000};
    nanosleep(&pause, nullptr);
  }
  if (cleanup.state.exchange(kIdle) == kArmed) unlinkat(cleanup.folder, cleanup.name, 0);
  const int i = SignalIndex(signal);
  if (i < 0) return;
  const struct sigaction& previous = cleanup.previous[i];
  errno = saved;
  if (previous.sa_flags & SA_SIGINFO) {
    previous.sa_sigaction(signal, info, context);
    return;
  }
  if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal);
    return;
  }
  // The default action: put it back, and the signal happens again under it.
  sigaction(signal, &previous, nullptr);
  errno = saved;
  const bool fault = (signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE ||
                      signal == SIGILL) && info && info->si_code > 0;
  // Note: a fault returns and happens again; any other signal is raised again and arrives
  // once this handler returns.
  if (!fault) raise(signal);
}

// Puts the handler on every ending signal the process does not ignore, keeping the handler
// it replaces to pass the signal on to. Installed at the first replacement and left in
// place; a later save only looks whether someone put another handler over it since.
void InstallCleanup() {
  struct sigaction action {};
  action.sa_sigaction = RemoveTemporaryOnSignal;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kSentSignals) sigaddset(&action.sa_mask, signal);
  for (int i = 0; i < kEndingSignalCount; ++i) {
    struct sigaction current {};
    if (sigaction(kEndingSignals[i], nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == RemoveTemporaryOnSignal) {
      continue;
    }
    if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN) continue;
    cleanup.previous[i] = current;
    sigaction(kEndingSignals[i], &action, nullptr);
  }
}

// Names the file about to be created, for the handlers; false when one is covered already.
bool StartCreating(int folder, const std::string& name) {
  if (cleanup.state.load() != kIdle || name.size() > NAME_MAX) return false;
  cleanup.folder = folder;
  std::memcpy(cleanup.name, name.c_str(), name.size() + 1);
  cleanup.state.store(kCreating);
  return true;
}

void Disarm(int folder) {
  if (cleanup.state.load() == kIdle || cleanup.folder != folder) return;
  cleanup.state.store(kIdle);
}

int CreateExclusivelyAt(int folder, const std::string& name) {
  return openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                0600);
}

mode_t CurrentUmask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

std::string NativePath(const String& path) {
  String fixed = path;
  for (char16_t& c : fixed) if (c == u'\\') c = u'/';
  return TextToUtf8(fixed);
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

// ---- TFileReplacement::Target ------------------------------------------------------------

struct TFileReplacement::Target {
  int folder = -1;          // the target's folder, open for the *at calls
  std::string name;         // the target's name in that folder
  std::string temporary;    // the temporary file's name in that folder; empty when none
  int file = -1;            // our own handle on the file being written, beside the stream's
  int target = -1;          // the existing target, open for writing (kCopyIn, kInPlace)
  bool exists = false;      // a file was there
  struct stat existing {};  // what was there when Begin looked
  Ref<TCStream> written;    // the stream handed out, for the reason of a failed write

  // Opens the existing target for writing without following a link, and makes sure it is
  // still the file Begin looked at.
  bool OpenTarget(int flags) {
    target = openat(folder, name.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | flags);
    if (target < 0) return false;
    struct stat now {};
    if (fstat(target, &now) != 0) return false;
    if (!SameFile(now, existing)) {
      errno = EAGAIN;  // swapped under us
      return false;
    }
    return true;
  }

  // Creates the temporary file beside the target, covered by the clean-up from the moment
  // it exists. -1 when none can be made (errno says why).
  int CreateTemporary() {
    long limit = fpathconf(folder, _PC_NAME_MAX);
    if (limit <= 0) limit = NAME_MAX;
    InstallCleanup();
    int fd = -1;
    for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
      temporary = TemporaryNameFor(name, static_cast<std::size_t>(limit));
      // Note: an ending signal is held back from before the file exists until the
      // handlers know its name, so no moment is left in which it would outlive us.
      HoldSentSignals hold;
      const bool covered = StartCreating(folder, temporary);
      fd = CreateExclusivelyAt(folder, temporary);
      if (fd >= 0) {
        if (temporary_created_hook) temporary_created_hook();
        if (covered) cleanup.state.store(kArmed);
      } else {
        KeepErrno keep;
        if (covered) cleanup.state.store(kIdle);
        if (errno != EEXIST) break;
      }
    }
    if (fd < 0) temporary.clear();
    return fd;
  }

  // Copies the complete temporary file into the existing target, from its start.
  bool CopyIntoTarget(int64_t bytes) {
    if (!OpenTarget(0) || ftruncate(target, 0) != 0) return false;
    std::string chunk(kCopyChunk, '\0');
    for (int64_t done = 0; done < bytes;) {
      ssize_t n = pread(file, chunk.data(), chunk.size(), static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = EIO;  // the temporary file shrank under us
        return false;
      }
      if (!WriteAll(target, chunk.data(), static_cast<std::size_t>(n))) return false;
      done += n;
    }
    return close(std::exchange(target, -1)) == 0;
  }

  // Gives the temporary file the old file's owner and permission bits, or those a plain
  // create would have given a new file.
  bool CopyAttributes() {
    if (!exists) return fchmod(file, kNewFileMode & ~CurrentUmask()) == 0;
    // The owner first, because changing it clears the set-user-id bit. Note: an owner we
    // may not give is left as it is.
    if (fchown(file, existing.st_uid, existing.st_gid) != 0) {
      static_cast<void>(fchown(file, static_cast<uid_t>(-1), existing.st_gid));
    }
    return fchmod(file, existing.st_mode & kPermissionBits) == 0;
  }

  // Closes every handle and removes the temporary file when it is still there.
  void Release() {
    if (!temporary.empty()) unlinkat(folder, temporary.c_str(), 0);
    temporary.clear();
    Disarm(folder);  // after the removal: a signal in between finds nothing to remove
    for (int* fd : {&file, &target, &folder}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
    exists = false;
    written.reset();
  }
};

// ---- free functions --------------------------------------------------------------------

FILE* CreateFileExclusively(const String& path) {
  const int fd = CreateExclusivelyAt(AT_FDCWD, NativePath(path));
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "wb");
  if (!file) {
    KeepErrno keep;
    close(fd);
  }
  return file;
}

std::size_t FileNameLimit(const String& folder) {
  const std::string native = NativePath(folder.empty() ? String(u".") : folder);
  const long limit = pathconf(native.c_str(), _PC_NAME_MAX);
  return limit > 0 ? static_cast<std::size_t>(limit) : static_cast<std::size_t>(NAME_MAX);
}

std::size_t FileNameLength(const String& name) { return TextToUtf8(name).size(); }

const char* FileNameUnits() { return "bytes"; }

void SetTemporaryFileCreatedHook(void (*hook)()) { temporary_created_hook = hook; }

// ---- TFileReplacement ------------------------------------------------------------------

TFileReplacement::TFileReplacement() : target_(std::make_unique<Target>()) {}

TFileReplacement::~TFileReplacement() { Abandon(); }

bool TFileReplacement::Begin(const String& path) {
  Abandon();
  error = 0;
  Target& t = *target_;
  // Whatever fails below: errno is the reason, and it is kept as this file's.
  struct Failed {
    TFileReplacement& self;
    bool operator()() {
      const int reason = errno != 0 ? errno : EIO;
      self.Abandon();
      self.error = errno = reason;
      return false;
    }
  } failed{*this};

  std::string native = NativePath(path);
  // Note: a link named like the file is written through, as opening it would; the new
  // content then goes beside the file the link names, and the link stays.
  if (!FollowLinks(native)) return failed();
  std::string folder;
  SplitPath(native, folder, t.name);
  if (t.name.empty()) {
    errno = EISDIR;
    return failed();
  }
  t.folder = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (t.folder < 0) return failed();

  t.exists = fstatat(t.folder, t.name.c_str(), &t.existing, AT_SYMLINK_NOFOLLOW) == 0;
  if (!t.exists && errno != ENOENT) return failed();
  mode = kRename;
  if (t.exists) {
    if (S_ISDIR(t.existing.st_mode)) {
      errno = EISDIR;
      return failed();
    }
    // Note: a file the user may not write (mode 444) is refused here, exactly as opening it
    // for writing would be, although the folder would let a rename replace it.
    if (faccessat(t.folder, t.name.c_str(), W_OK, AT_EACCESS) != 0) return failed();
    const bool ours = geteuid() == 0 || t.existing.st_uid == geteuid();
    if (!S_ISREG(t.existing.st_mode)) {
      mode = kInPlace;
    } else if (t.existing.st_nlink > 1 || !ours) {
      mode = kCopyIn;
    }
  }

  int fd = -1;
  if (mode != kInPlace) {
    fd = t.CreateTemporary();
    if (fd < 0) {
      // Note: a file we may write in a folder we may not: written in place, as opening
      // it would; only then can a failed write damage it.
      const bool folder_refused = errno == EACCES || errno == EPERM || errno == EROFS;
      if (!t.exists || !folder_refused) return failed();
      mode = kInPlace;
    }
  }
  if (mode == kInPlace) {
    // Note: opened without truncation, checked to be the file we looked at, then emptied.
    if (!t.OpenTarget(O_NONBLOCK) ||
        fcntl(t.target, F_SETFL, fcntl(t.target, F_GETFL) & ~O_NONBLOCK) != 0 ||
        (S_ISREG(t.existing.st_mode) && ftruncate(t.target, 0) != 0)) {
      return failed();
    }
    fd = dup(t.target);
    if (fd < 0) return failed();
  }
  t.file = dup(fd);
  FILE* file = t.file >= 0 ? fdopen(fd, "wb") : nullptr;
  if (!file) {
    KeepErrno keep;
    close(fd);
    return failed();
  }
  t.written = TCStream::CreateWithCStream(file, MODE_WRITE);
  stream = t.written;
  return true;
}

bool TFileReplacement::Commit(int64_t bytes) {
  Target& t = *target_;
  if (t.file < 0) {
    error = errno = EBADF;
    return false;
  }
  errno = 0;
  stream->Close();
  stream.reset();
  // Note: buffered bytes reach the disk only when the stream closes, and a full disk may
  // show only there; the file must hold every byte before it may replace the target. The
  // first failure of the stream's own calls is the reason, whoever closed it.
  int reason = t.written ? t.written->_error : 0;
  struct stat written {};
  if (reason == 0 && fstat(t.file, &written) != 0) reason = errno != 0 ? errno : EIO;
  if (reason == 0 && S_ISREG(written.st_mode) && written.st_size != bytes) reason = EIO;
  if (reason == 0) {
    bool ok = true;
    if (mode == kCopyIn) {
      ok = t.CopyIntoTarget(bytes);
    } else if (mode == kRename) {
      ok = t.CopyAttributes() &&
           renameat(t.folder, t.temporary.c_str(), t.folder, t.name.c_str()) == 0;
      if (ok) t.temporary.clear();
    }
    if (!ok) reason = errno != 0 ? errno : EIO;
  }
  Abandon();  // closes the handles and removes a temporary file that is still there
  error = errno = reason;
  return reason == 0;
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
  // A write that failed before the caller gave up is the reason it did.
  if (error == 0 && target_->written) error = target_->written->_error;
  target_->Release();
}
