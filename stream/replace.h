// File replacement: a new content for a file is written to a temporary file beside it and
// takes the file's name only once it is complete, so a failed write never leaves a damaged
// file behind. The temporary file gets a name nobody can predict and is created
// exclusively, never through a link planted in its place. The result is what a user
// expects of "overwrite this file": a link is written through (the link stays), the file's
// permission bits, owner and other hard links are kept, a file the user may not write is
// refused, and a temporary file never outlives a Ctrl+C or a crash in the middle.
// Depends on the stream core (the new content is written through a TCStream).
// State: the temporary file being written, for the signal handler that removes it.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "stream/stream.h"

// One file being replaced. Begin opens the stream to write the new content to; Commit puts
// it in place; anything else (Abandon, or destruction before Commit) removes the temporary
// file and leaves the old file as it was.
//
// How the content gets in place, decided by Begin from the file that is there:
// - kRename: a new file, or one of ours with no other hard link: the temporary file, given
//   the old file's permission bits and owner, is renamed over it.
// - kCopyIn: a file with other hard links, or one whose owner we cannot give a new file:
//   the complete temporary file is copied into the existing file, so every name of it sees
//   the new content and its owner stays. Only a failure of that copy can damage the file.
// - kInPlace: no temporary file can be made (a folder we may not write to), or the target
//   is not a regular file: the existing file is truncated and written directly.
class TFileReplacement {
 public:
  enum Mode { kRename, kCopyIn, kInPlace };

  TFileReplacement() = default;
  TFileReplacement(const TFileReplacement&) = delete;
  TFileReplacement& operator=(const TFileReplacement&) = delete;
  ~TFileReplacement();

  // Prepares to replace the file at path (a plain path; backslashes count as slashes). A
  // symbolic link is followed to the file it names. False when that file cannot be
  // written, exactly where opening it for writing would fail (a read-only file, a missing
  // folder, a folder in the way); errno then says why, and nothing was created or changed.
  bool Begin(const String& path);
  // Closes the stream, checks that all `bytes` reached the file and puts the content in
  // place. False (errno says why) when it could not; no temporary file is left.
  bool Commit(int64_t bytes);
  // Closes the stream and removes the temporary file. Keeps errno.
  void Abandon();

  // Where the new content goes; null before Begin and after Commit or Abandon.
  Ref<TStream> stream;
  // How this replacement puts the content in place (valid after a successful Begin).
  Mode mode = kRename;

 private:
  bool OpenTarget(int flags);
  bool CopyIntoTarget(int64_t bytes);

  int folder_ = -1;          // the target's folder, open for the *at calls
  std::string name_;         // the target's name in that folder
  std::string temporary_;    // the temporary file's name in that folder; empty when none
  int file_ = -1;            // our own handle on the file being written, beside the stream's
  int target_ = -1;          // the existing target, open for writing (kCopyIn, kInPlace)
  bool exists_ = false;      // a file was there
  struct stat existing_ {};  // what was there when Begin looked
};

// Creates `name` in the folder exclusively for writing (mode 0600): fails with EEXIST when
// anything is there already, a symbolic link included, which is never followed. -1 on
// failure (errno says why), else the descriptor.
int CreateFileExclusively(int folder, const std::string& name);

// A fresh name for a temporary file beside `name`: `name` (shortened when needed, so that
// the whole stays within `limit` bytes) followed by ".tmp-" and random letters and digits.
std::string TemporaryNameFor(const std::string& name, std::size_t limit);
