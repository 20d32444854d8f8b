// Temporary names of file replacement, the part both platforms share: the target's name,
// cut to fit the file system's limit, then ".tmp-" and random letters and digits from the
// system's random source (stream/platform.h).
#include "stream/replace.h"

#include <unistd.h>  // for getpid: the fallback seed when there is no random source

#include <chrono>  // for the fallback when the system has no random source

#include "stream/platform.h"

namespace {

// ---- constants -------------------------------------------------------------------------

constexpr char16_t kTemporaryMark[] = u".tmp-";
constexpr std::size_t kTemporaryMarkLength = 5;
constexpr std::size_t kRandomLetters = 10;  // 62^10 names: guessing one is hopeless
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// ---- internal helpers ------------------------------------------------------------------

// The suffix: the mark, then the random letters.
std::string TemporarySuffix() {
  unsigned char random[kRandomLetters];
  if (!FillRandomBytes(random, kRandomLetters)) {
    // Note: without a system random source the clock still varies the name; exclusive
    // creation keeps it safe either way.
    auto seed = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (static_cast<unsigned long long>(getpid()) << 32);
    for (unsigned char& byte : random) {
      seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
      byte = static_cast<unsigned char>(seed >> 56);
    }
  }
  std::string suffix(kTemporaryMark, kTemporaryMark + kTemporaryMarkLength);
  for (unsigned char byte : random) suffix += kAlphabet[byte % (sizeof(kAlphabet) - 1)];
  return suffix;
}

// How much of a name of `size` units may stay so that the suffix fits within `limit`.
std::size_t KeptLength(std::size_t size, std::size_t limit) {
  if (limit > kTemporarySuffixLength && size > limit - kTemporarySuffixLength) {
    return limit - kTemporarySuffixLength;
  }
  return size;
}

}  // namespace

const std::size_t kTemporarySuffixLength = kTemporaryMarkLength + kRandomLetters;

std::string TemporaryNameFor(const std::string& name, std::size_t limit) {
  std::size_t keep = KeptLength(name.size(), limit);
  // Note: cut on a character boundary, so a UTF-8 name stays readable.
  while (keep > 0 && keep < name.size() &&
         (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) {
    --keep;
  }
  return name.substr(0, keep) + TemporarySuffix();
}

String TemporaryNameFor(const String& name, std::size_t limit) {
  std::size_t keep = KeptLength(name.size(), limit);
  // Note: never between the two halves of a character outside the 16-bit range.
  if (keep > 0 && keep < name.size() && name[keep] >= 0xDC00 && name[keep] <= 0xDFFF) --keep;
  const std::string suffix = TemporarySuffix();
  return name.substr(0, keep) + String(suffix.begin(), suffix.end());
}
