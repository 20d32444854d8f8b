// Messages to the user: the program's few lines on stderr, one line each, in UTF-8. A value
// quoted in a message (a file name, a setting as written) is cut to a readable length.
// Depends on the runtime's texts. State: whether the user asked for quiet (errors only).
#pragma once

#include <cstddef>
#include <string>

#include "runtime/object.h"

// Most characters of a value quoted in a message; a longer one is cut to this many, its
// start and its end joined by "…".
constexpr std::size_t kLongestQuotedValue = 80;

// True for the control characters: below 32, DEL (127) and the C1 range 128-159.
bool IsControlCharacter(char16_t c);
// One line of text on stderr (UTF-8), for the program's few messages to the user. A control
// character in it is written as "?", never raw.
void ReportLine(const std::string& line);
// A line that tells rather than reports a failure (the files written without a display, a
// setting mended, a copy skipped): on stderr like ReportLine, unless the run is quiet.
void ReportNote(const std::string& line);
// Quiet (-q): from now on notes are not shown, only failures.
void SetQuietMessages(bool quiet);
// A value as the user sees it in a message: in double quotes, UTF-8, at most
// kLongestQuotedValue characters, control characters shown as "?" so the line stays one.
std::string QuotedName(const String& name);
