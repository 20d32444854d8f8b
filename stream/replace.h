// File replacement: a new content for a file is written to a temporary file beside it and
// takes the file's name only once it is complete, so a failed write never leaves a damaged
// file behind. The temporary file gets a name nobody can predict and is created
// exclusively, never through a link planted in its place.
// Depends on the stream core (the temporary file is written through a TCStream).
// State: none beyond each replacement's own record.
#pragma once

#include <cstdint>
#include <string>

#include "stream/stream.h"

// One file being replaced. Begin opens the stream to write the new content to; Commit puts
// it in place; anything else (Abandon, or destruction before Commit) removes the temporary
// file and leaves the old file as it was.
class TFileReplacement {
 public:
  TFileReplacement() = default;
  TFileReplacement(const TFileReplacement&) = delete;
  TFileReplacement& operator=(const TFileReplacement&) = delete;
  ~TFileReplacement();

  // Prepares to replace the file at path (a plain path; backslashes count as slashes).
  // False when nothing can be written there; errno then says why, and nothing was created.
  bool Begin(const String& path);
  // Closes the stream, checks that all `bytes` reached the file and gives it the target's
  // name. False (errno says why) when it could not; the temporary file is then gone.
  bool Commit(int64_t bytes);
  // Closes the stream and removes the temporary file. Keeps errno.
  void Abandon();

  // Where the new content goes; null before Begin and after Commit or Abandon.
  Ref<TStream> stream;

 private:
  int folder_ = -1;          // the target's folder, open for the *at calls
  std::string name_;         // the target's name in that folder
  std::string temporary_;    // the temporary file's name in that folder; empty when none
  int file_ = -1;            // our own handle on the temporary file, beside the stream's
};

// Creates `name` in the folder exclusively for writing (mode 0600): fails with EEXIST when
// anything is there already, a symbolic link included, which is never followed. -1 on
// failure (errno says why), else the descriptor.
int CreateFileExclusively(int folder, const std::string& name);

// A fresh name for a temporary file beside `name`: `name` (shortened when needed, so that
// the whole stays within `limit` bytes) followed by ".tmp-" and random letters and digits.
std::string TemporaryNameFor(const std::string& name, std::size_t limit);
