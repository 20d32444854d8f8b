// Messages to the user: one line each on stderr, quoted values cut to a readable length.
#include "app/messages.h"

#include <cstdio>

#include "runtime/text.h"

namespace {

constexpr char16_t kEllipsis = u'\u2026';
constexpr std::size_t kQuotedTail = 20;  // characters kept from the end of a cut value
constexpr char kShownForControl = '?';

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// Module state.
bool quiet_messages = false;

}  // namespace

bool IsControlCharacter(char16_t c) { return c < 32 || (c >= 127 && c < 160); }

void SetQuietMessages(bool quiet) { quiet_messages = quiet; }

void ReportNote(const std::string& line) {
  if (!quiet_messages) ReportLine(line);
}

void ReportLine(const std::string& line) {
  // Note: the line is UTF-8, where a C1 character is the two bytes 0xC2 0x80-0x9F; a
  // terminal that is not UTF-8 would take the second byte for a control byte.
  std::string shown;
  shown.reserve(line.size() + 1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<unsigned char>(line[i]);
    const auto next = i + 1 < line.size() ? static_cast<unsigned char>(line[i + 1]) : 0;
    if (byte == 0xC2 && next >= 0x80 && next < 0xA0) {
      shown += kShownForControl;
      ++i;
    } else if (byte < 32 || byte == 127) {
      shown += kShownForControl;
    } else {
      shown += line[i];
    }
  }
  shown += '\n';
  std::fputs(shown.c_str(), stderr);
  std::fflush(stderr);
}

std::string QuotedName(const String& name) {
  String shown = name;
  if (shown.size() > kLongestQuotedValue) {
    // The start and the end stay, so that "-hd.png" and "-hd2.png" still tell files apart.
    std::size_t head = kLongestQuotedValue - 1 - kQuotedTail;
    std::size_t tail_start = shown.size() - kQuotedTail;
    // Note: never between the two halves of a character outside the 16-bit range.
    if (IsHighSurrogate(shown[head - 1])) --head;
    if (IsHighSurrogate(shown[tail_start - 1])) ++tail_start;
    shown = shown.substr(0, head) + kEllipsis + shown.substr(tail_start);
  }
  for (char16_t& c : shown) {
    if (IsControlCharacter(c)) c = kShownForControl;
  }
  // Note: built by appending; g++ 12 warns falsely (-Wrestrict) on "literal" + string.
  std::string quoted(1, '"');
  quoted += TextToUtf8(shown);
  quoted += '"';
  return quoted;
}
