// What the stream layer asks of the operating system, in one small function each: opening a
// C runtime file by a 16-bit path, 64-bit positions, file status, folder listings, the
// standard streams, random bytes and the file system's name limit. Each platform folder
// (stream/posix, stream/win32) defines all of them; CMake builds the one of the target.
// Paths are 16-bit text: the POSIX side hands the system their UTF-8 form, the Windows side
// their UTF-16 form, so every character of a name survives. Keeps no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "runtime/object.h"

// Opens the file with the C runtime's buffered open in the given mode ("rb", "wb", "r+b").
// Null when it cannot be opened or names a folder; errno then says why.
FILE* OpenNativeFile(const String& path, const char* mode);
// The handle's position; -1 when it has none (a pipe, a terminal).
int64_t NativeTell(FILE* file);
// Moves the handle to offset from whence (SEEK_SET, SEEK_CUR, SEEK_END); 0 when it did.
int NativeSeek(FILE* file, int64_t offset, int whence);

// FILETYPE_FILE, FILETYPE_DIR, or FILETYPE_NONE for anything else or nothing there.
int NativeFileType(const String& path);
// True when anything at all is at the path.
bool NativeExists(const String& path);
// The names in a folder, "." and ".." included where the system lists them; empty when it
// cannot be read.
std::vector<String> FolderEntries(const String& folder);

// Makes standard output fit for the console stream: bytes go out as written, and a reader
// that went away shows as a failed write instead of ending the process.
void PrepareStandardStreams();

// Fills the buffer with bytes from the system's random source; false when it has none.
bool FillRandomBytes(unsigned char* bytes, std::size_t count);
