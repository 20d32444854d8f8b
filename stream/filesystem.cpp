// The small filesystem layer: file-type test, case-insensitive path resolution, and the
// open and close calls the application uses. Paths reach the system through
// stream/platform.h. Keeps no module state.
#include "runtime/text.h"
#include "stream/bank.h"
#include "stream/platform.h"
#include "stream/stream.h"

namespace {

// The entry of folder whose name matches name without regard to letter case; empty when
// there is none. An exact match is preferred.
String MatchEntry(const String& folder, const String& name) {
  String lowered = TextLower(name);
  String found;
  for (const String& candidate : FolderEntries(folder)) {
    if (candidate == name) return candidate;
    if (found.empty() && TextLower(candidate) == lowered) found = candidate;
  }
  return found;
}

}  // namespace

String NormalisePath(const String& path) {
  String fixed = path;
  for (auto& c : fixed) if (c == u'\\') c = u'/';
  if (fixed.rfind(u"//", 0) == 0) {
    if (fixed.find(u'/', 2) == String::npos) fixed.push_back(u'/');
    return fixed;
  }
  size_t colon = fixed.find(u':');
  if (colon == String::npos) return fixed;
  bool single = colon + 1 == fixed.size() || fixed[colon + 1] != u':';
  size_t slash = fixed.find(u'/');
  if (single && (slash == String::npos || slash > colon + 1)) fixed.insert(colon + 1, u"/");
  return fixed;
}

// FILETYPE_FILE, FILETYPE_DIR, or FILETYPE_NONE for anything else or nothing there.
int GetFileType(const String& path) {
  String fixed = NormalisePath(path);
  if (fixed.find_first_of(u"<>") != String::npos) return FILETYPE_NONE;
  return NativeFileType(fixed);
}

// The path as it exists on disk, matching each component without regard to letter case;
// empty when some component has no match.
String ResolvePathCase(const String& path) {
  if (path.empty() || NativeExists(path)) return path;
  String resolved;  // empty stands for the current folder "."
  size_t start = 0;
  if (path[0] == u'/') {
    resolved = u"/";
    start = 1;
  }
  while (start <= path.size()) {
    size_t end = path.find(u'/', start);
    if (end == String::npos) end = path.size();
    String part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    String joined = resolved.empty() ? part
                    : resolved.back() == u'/' ? resolved + part
                                              : resolved + u"/" + part;
    if (part == u"." || part == u".." || NativeExists(joined)) {
      resolved = joined;
      continue;
    }
    String match = MatchEntry(resolved.empty() ? String(u".") : resolved, part);
    if (match.empty()) return String();
    resolved = resolved.empty() ? match
               : resolved.back() == u'/' ? resolved + match
                                         : resolved + u"/" + match;
  }
  return resolved;
}

// Opens a URL as a stream that can always seek: one without a position is first read into
// memory. Null when the URL cannot be opened.
Ref<TStream> OpenFileStream(const String& url, bool readable, bool writeable) {
  Ref<TStream> stream = OpenUrlStream(url, readable, writeable);
  // Note: a write-only stream has nothing to read into memory; it is handed out as it is.
  if (!stream || stream->Pos() != -1 || !readable) return stream;
  auto bank = TBank::Create(0);
  auto memory = TBankStream::Create(bank);
  CopyStreamToEnd(stream, memory);
  stream->Close();
  memory->Seek(0);
  return memory;
}

Ref<TStream> OpenFileForReading(const String& url) { return OpenFileStream(url, true, false); }
Ref<TStream> OpenFileForWriting(const String& url) { return OpenFileStream(url, false, true); }

void CloseFileStream(const Ref<TStream>& stream) {
  if (stream) stream->Close();
}
