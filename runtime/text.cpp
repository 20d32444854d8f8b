// Runtime core: byte, UTF-8 and case conversions of the framework's 16-bit texts.
#include "runtime/text.h"

String TextFromBytes(std::string_view bytes) {
  String text(bytes.size(), u'\0');
  for (size_t i = 0; i < bytes.size(); ++i) text[i] = static_cast<unsigned char>(bytes[i]);
  return text;
}

std::string TextToBytes(const String& text) {
  std::string bytes(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) bytes[i] = static_cast<char>(text[i] & 0xFF);
  return bytes;
}

String TextFromUtf8(std::string_view utf8) {
  String text;
  text.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char a = static_cast<unsigned char>(utf8[i]);
    unsigned long code = a;
    int more = 0;
    if (a >= 0xF0) { code = a & 0x07; more = 3; }
    else if (a >= 0xE0) { code = a & 0x0F; more = 2; }
    else if (a >= 0xC0) { code = a & 0x1F; more = 1; }
    ++i;
    // Note: a truncated or malformed sequence keeps what it has; nothing here needs strictness.
    for (int k = 0; k < more && i < utf8.size(); ++k, ++i) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      text.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      text.push_back(static_cast<char16_t>(code));
    }
  }
  return text;
}

std::string TextToUtf8(const String& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned long code = text[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return out;
}

String TextLower(const String& text) {
  String out = text;
  for (auto& c : out) if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return out;
}

String TextUpper(const String& text) {
  String out = text;
  for (auto& c : out) if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return out;
}

String TextFromInt(long long value) {
  std::string digits = std::to_string(value);
  return TextFromBytes(digits);
}
