// File replacement on Windows: the temporary file is created new (CREATE_NEW) beside the
// target under an unpredictable name, written through a TCStream over its handle, and then
// takes the target's place: ReplaceFileW where a file is there (it keeps that file's
// attributes and security), MoveFileExW for a new one. A console control handler removes
// the temporary file on Ctrl+C, Ctrl+Break and the closing of the console. Paths are UTF-16
// at the system boundary.
// State: the one temporary file the control handler removes, under a lock the handler's
// thread shares with the saving one.
#include "stream/replace.h"

#include "stream/win32/native.h"

#include <fcntl.h>  // for _O_BINARY
#include <io.h>     // for _open_osfhandle

#include <cerrno>
#include <cstdio>
#include <vector>

namespace {

// ---- constants -------------------------------------------------------------------------

constexpr int kNameAttempts = 100;  // names already taken before giving up
constexpr std::size_t kNameLimit = 255;  // UTF-16 units in one name, on every Windows volume
constexpr DWORD kCopyChunk = 1 << 16;
// Note: the temporary file is shared for deletion, so the control handler can remove it
// while the stream still has it open.
constexpr DWORD kTemporarySharing = FILE_SHARE_READ | FILE_SHARE_DELETE;

// ---- module state ----------------------------------------------------------------------

// The temporary file the control handler removes. The lock makes "create, then arm" and
// "rename, then disarm" single steps as the handler's thread sees them.
struct Cleanup {
  SRWLOCK lock = SRWLOCK_INIT;
  bool armed = false;
  bool installed = false;
  std::wstring path;
};
Cleanup cleanup;
void (*temporary_created_hook)() = nullptr;

// ---- internal helpers ------------------------------------------------------------------

struct KeepErrno {
  int saved = errno;
  ~KeepErrno() { errno = saved; }
};

struct HoldCleanup {
  HoldCleanup() { AcquireSRWLockExclusive(&cleanup.lock); }
  ~HoldCleanup() { ReleaseSRWLockExclusive(&cleanup.lock); }
};

// Runs on a thread of its own when the console asks the process to end.
BOOL WINAPI RemoveTemporaryOnControl(DWORD) {
  HoldCleanup hold;
  if (cleanup.armed) DeleteFileW(cleanup.path.c_str());
  cleanup.armed = false;
  return FALSE;  // the next handler (in the end the system's: the process ends) runs
}

// Registers the control handler, once for the whole process.
void InstallCleanup() {
  if (cleanup.installed) return;
  cleanup.installed = SetConsoleCtrlHandler(RemoveTemporaryOnControl, TRUE) != 0;
}

// The path with every link at its end resolved, as opening it would resolve them; the path
// itself when nothing is there or it is no link.
std::wstring FinalPath(const std::wstring& path, DWORD attributes) {
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return path;
  HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE |
                            FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return path;
  std::vector<wchar_t> buffer(32768);
  const DWORD length = GetFinalPathNameByHandleW(file, buffer.data(),
                                                 static_cast<DWORD>(buffer.size()), 0);
  CloseHandle(file);
  if (length == 0 || length >= buffer.size()) return path;
  return std::wstring(buffer.data(), length);
}

// Splits a path into its folder (with its final "\", empty for the current one) and name.
void SplitPath(const std::wstring& path, std::wstring& folder, std::wstring& name) {
  const std::size_t slash = path.find_last_of(L"\\:");
  if (slash == std::wstring::npos) {
    folder.clear();
    name = path;
  } else {
    folder = path.substr(0, slash + 1);
    name = path.substr(slash + 1);
  }
}

// A C runtime handle over a system handle; the handle belongs to it from now on. Null when
// it cannot be made (the handle is then closed).
FILE* CFileOver(HANDLE handle) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  FILE* file = _fdopen(fd, "wb");
  if (!file) {
    KeepErrno keep;
    _close(fd);
  }
  return file;
}

bool SizeOf(const std::wstring& path, int64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

}  // namespace

// ---- TFileReplacement::Target ------------------------------------------------------------

struct TFileReplacement::Target {
  std::wstring path;       // the target
  std::wstring temporary;  // the temporary file beside it; empty when none
  bool exists = false;     // a file was there
  bool disk_file = true;   // the target is a file on a disk, whose size can be checked
  Ref<TCStream> written;   // the stream handed out, for the reason of a failed write

  // Creates the temporary file beside the target, covered by the control handler from the
  // moment it exists. Null when none can be made (errno says why).
  HANDLE CreateTemporary() {
    std::wstring folder, name;
    SplitPath(path, folder, name);
    InstallCleanup();
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      const String name16(name.begin(), name.end());
      const String temporary16 = TemporaryNameFor(name16, kNameLimit);
      temporary = folder + std::wstring(temporary16.begin(), temporary16.end());
      HoldCleanup hold;  // the handler waits until the new file is armed
      handle = CreateFileW(temporary.c_str(), GENERIC_WRITE, kTemporarySharing, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle != INVALID_HANDLE_VALUE) {
        if (temporary_created_hook) temporary_created_hook();
        if (!cleanup.armed) {
          cleanup.path = temporary;
          cleanup.armed = true;
        }
        return handle;
      }
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    SetErrnoFromLastError();
    temporary.clear();
    return nullptr;
  }

  // Copies the complete temporary file into the existing target, from its start.
  bool CopyIntoTarget(int64_t bytes) {
    HANDLE from = CreateFileW(temporary.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (from == INVALID_HANDLE_VALUE) return Failed();
    HANDLE to = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = to != INVALID_HANDLE_VALUE;
    std::vector<char> chunk(kCopyChunk);
    for (int64_t done = 0; ok && done < bytes;) {
      DWORD got = 0, put = 0;
      ok = ReadFile(from, chunk.data(), kCopyChunk, &got, nullptr) && got > 0 &&
           WriteFile(to, chunk.data(), got, &put, nullptr) && put == got;
      done += got;
    }
    if (!ok) SetErrnoFromLastError();
    KeepErrno keep;
    CloseHandle(from);
    if (to != INVALID_HANDLE_VALUE && !CloseHandle(to) && ok) {
      SetErrnoFromLastError();
      ok = false;
    }
    return ok;
  }

  // Puts the temporary file in the target's place and disarms the clean-up in one step.
  bool MoveIntoPlace() {
    HoldCleanup hold;
    // Note: ReplaceFileW keeps the old file's attributes and security; where the volume
    // cannot (or wine does not), a plain move still replaces it.
    bool ok = exists && ReplaceFileW(path.c_str(), temporary.c_str(), nullptr,
                                     REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
    if (!ok) {
      ok = MoveFileExW(temporary.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (!ok) return Failed();
    temporary.clear();
    cleanup.armed = false;
    return true;
  }

  static bool Failed() {
    SetErrnoFromLastError();
    return false;
  }

  void Release() {
    if (!temporary.empty()) {
      HoldCleanup hold;
      DeleteFileW(temporary.c_str());
      cleanup.armed = false;
    }
    temporary.clear();
    exists = false;
    disk_file = true;
    written.reset();
  }
};

// ---- free functions --------------------------------------------------------------------

FILE* CreateFileExclusively(const String& path) {
  HANDLE handle = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetErrnoFromLastError();
    return nullptr;
  }
  return CFileOver(handle);
}

std::size_t FileNameLimit(const String&) { return kNameLimit; }

std::size_t FileNameLength(const String& name) { return name.size(); }

const char* FileNameUnits() { return "UTF-16 units"; }

void SetTemporaryFileCreatedHook(void (*hook)()) { temporary_created_hook = hook; }

// ---- TFileReplacement ------------------------------------------------------------------

TFileReplacement::TFileReplacement() : target_(std::make_unique<Target>()) {}

TFileReplacement::~TFileReplacement() { Abandon(); }

bool TFileReplacement::Begin(const String& path) {
  Abandon();
  error = 0;
  Target& t = *target_;
  auto failed = [this] {
    const int reason = errno != 0 ? errno : EIO;
    Abandon();
    error = errno = reason;
    return false;
  };

  t.path = WidePath(path);
  DWORD attributes = GetFileAttributesW(t.path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD missing = GetLastError();
    if (missing != ERROR_FILE_NOT_FOUND) {
      errno = ErrnoFromWin32(missing);
      return failed();
    }
  } else {
    // Note: a link named like the file is written through, as opening it would.
    t.path = FinalPath(t.path, attributes);
    attributes = GetFileAttributesW(t.path.c_str());
  }
  std::wstring folder, name;
  SplitPath(t.path, folder, name);
  if (name.empty()) {
    errno = EISDIR;
    return failed();
  }
  t.exists = attributes != INVALID_FILE_ATTRIBUTES;
  mode = kRename;
  if (t.exists) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      errno = EISDIR;
      return failed();
    }
    // Note: a read-only file is refused, exactly as opening it for writing would be,
    // although the folder would let a rename replace it.
    if (attributes & FILE_ATTRIBUTE_READONLY) {
      errno = EACCES;
      return failed();
    }
    HANDLE probe = CreateFileW(t.path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE |
                               FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
      BY_HANDLE_FILE_INFORMATION info;
      t.disk_file = GetFileType(probe) == FILE_TYPE_DISK;
      if (!t.disk_file) {
        mode = kInPlace;
      } else if (GetFileInformationByHandle(probe, &info) && info.nNumberOfLinks > 1) {
        mode = kCopyIn;
      }
      CloseHandle(probe);
    }
  }

  HANDLE handle = nullptr;
  if (mode != kInPlace) {
    handle = t.CreateTemporary();
    if (!handle) {
      // Note: a file we may write in a folder we may not: written in place, as opening
      // it would; only then can a failed write damage it.
      if (!t.exists || errno != EACCES) return failed();
      mode = kInPlace;
    }
  }
  if (mode == kInPlace) {
    handle = CreateFileW(t.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      SetErrnoFromLastError();
      return failed();
    }
    if (t.disk_file && !SetEndOfFile(handle)) {
      SetErrnoFromLastError();
      CloseHandle(handle);
      return failed();
    }
  }
  FILE* file = CFileOver(handle);
  if (!file) return failed();
  t.written = TCStream::CreateWithCStream(file, MODE_WRITE);
  stream = t.written;
  return true;
}

bool TFileReplacement::Commit(int64_t bytes) {
  Target& t = *target_;
  if (!t.written) {
    error = errno = EBADF;
    return false;
  }
  errno = 0;
  stream->Close();
  stream.reset();
  // Note: buffered bytes reach the disk only when the stream closes, and a full disk may
  // show only there; the file must hold every byte before it may replace the target.
  int reason = t.written->_error;
  const std::wstring& written = t.temporary.empty() ? t.path : t.temporary;
  int64_t size = 0;
  if (reason == 0 && t.disk_file) {
    if (!SizeOf(written, size)) {
      SetErrnoFromLastError();
      reason = errno;
    } else if (size != bytes) {
      reason = EIO;
    }
  }
  if (reason == 0) {
    bool ok = true;
    if (mode == kCopyIn) ok = t.CopyIntoTarget(bytes);
    if (mode == kRename) ok = t.MoveIntoPlace();
    if (!ok) reason = errno != 0 ? errno : EIO;
  }
  Abandon();  // removes a temporary file that is still there
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
