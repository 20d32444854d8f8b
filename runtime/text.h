// Runtime core: conversions between the framework's 16-bit texts and bytes.
// Files and streams use one byte per character (codes 0-255, no decoding); UTF-8 is only
// for the console, for messages on stderr and for the platform layer's native texts.
#pragma once

#include <string>
#include <string_view>

#include "runtime/object.h"

// One character per byte: byte b becomes the character with code b.
String TextFromBytes(std::string_view bytes);
// One byte per character: the low 8 bits of each code.
std::string TextToBytes(const String& text);
// Decodes UTF-8 into UTF-16 code units (characters above U+FFFF become surrogate pairs).
String TextFromUtf8(std::string_view utf8);
// Encodes UTF-16 code units as UTF-8, for stderr and native calls.
std::string TextToUtf8(const String& text);
// Letter case of A-Z / a-z only; every other code is kept.
String TextLower(const String& text);
String TextUpper(const String& text);
// Decimal text of an integer.
String TextFromInt(long long value);
