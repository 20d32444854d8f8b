// File replacement: a new content for a file is written to a temporary file beside it and
// takes the file's name only once it is complete, so a failed write never leaves a damaged
// file behind. The temporary file gets a name nobody can predict and is created
// exclusively, never through a link planted in its place. The result is what a user
// expects of "overwrite this file": a link is written through (the link stays), the file's
// attributes (permission bits, owner) and other hard links are kept, a file the user may
// not write is refused, and a temporary file never outlives a Ctrl+C, a kill or a crash in
// the middle. Each platform folder (stream/posix, stream/win32) defines the replacement;
// the temporary names are shared.
// Depends on the stream core (the new content is written through a TCStream).
// State: the temporary file being written, for the clean-up that removes it when the
// process is ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "stream/stream.h"

// One file being replaced. Begin opens the stream to write the new content to; Commit puts
// it in place; anything else (Abandon, or destruction before Commit) removes the temporary
// file and leaves the old file as it was.
//
// How the content gets in place, decided by Begin from the file that is there:
// - kRename: a new file, or one of ours with no other hard link: the temporary file, given
//   the old file's attributes, is renamed over it.
// - kCopyIn: a file with other hard links, or one whose owner we cannot give a new file:
//   the complete temporary file is copied into the existing file, so every name of it sees
//   the new content and its owner stays. Only a failure of that copy can damage the file.
// - kInPlace: no temporary file can be made (a folder we may not write to), or the target
//   is not a regular file: the existing file is truncated and written directly.
class TFileReplacement {
 public:
  enum Mode { kRename, kCopyIn, kInPlace };

  TFileReplacement();
  TFileReplacement(const TFileReplacement&) = delete;
  TFileReplacement& operator=(const TFileReplacement&) = delete;
  ~TFileReplacement();

  // Prepares to replace the file at path (a plain path; backslashes count as slashes). A
  // symbolic link is followed to the file it names. False when that file cannot be
  // written, exactly where opening it for writing would fail (a read-only file, a missing
  // folder, a folder in the way); errno then says why, and nothing was created or changed.
  bool Begin(const String& path);
  // Closes the stream, checks that all `bytes` reached the file and puts the content in
  // place. False when it could not; errno (and `error`) then give the reason of the first
  // call that failed, a write or flush of the stream included. No temporary file is left.
  bool Commit(int64_t bytes);
  // Closes the stream and removes the temporary file. Keeps errno.
  void Abandon();

  // Where the new content goes; null before Begin and after Commit or Abandon.
  Ref<TStream> stream;
  // How this replacement puts the content in place (valid after a successful Begin).
  Mode mode = kRename;
  // The errno value of the first call that failed for this file (open, write, flush, close,
  // rename); 0 while none has.
  int error = 0;

 private:
  struct Target;  // what the platform keeps of the file being replaced
  std::unique_ptr<Target> target_;
};

// Creates the file at path exclusively, for writing (mode 0600 where files have modes):
// fails with EEXIST when anything is there already, a symbolic link included, which is
// never followed. Null on failure (errno says why), else the open handle.
FILE* CreateFileExclusively(const String& path);

// Length of what a temporary name adds to the name it is made from: ".tmp-" and ten random
// letters and digits.
extern const std::size_t kTemporarySuffixLength;
// A fresh name for a temporary file beside `name` (UTF-8): `name`, shortened on a character
// boundary when needed so that the whole stays within `limit` bytes, followed by ".tmp-"
// and random letters and digits.
std::string TemporaryNameFor(const std::string& name, std::size_t limit);
// The same for a name counted in 16-bit units, as Windows counts them.
String TemporaryNameFor(const String& name, std::size_t limit);

// The longest file name the file system of `folder` takes, counted as FileNameLength counts.
std::size_t FileNameLimit(const String& folder);
// A name's length as the file system counts it: UTF-8 bytes on POSIX systems, UTF-16 units
// on Windows.
std::size_t FileNameLength(const String& name);
// What FileNameLength counts, in words for a message: "bytes" or "UTF-16 units".
const char* FileNameUnits();

// For tests of the clean-up: `hook` runs right after each temporary file is created (null
// for none), inside the span the clean-up must already cover.
void SetTemporaryFileCreatedHook(void (*hook)());
