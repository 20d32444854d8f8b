// Settings file: reads "settings.ini" from the current directory into a table of
// normalised key/value pairs, looks settings up under their alias keys, and holds the
// sheet builder's configured values. Depends on streams (file reading) and the debug trace.
// State: the pair table and the configured values, all declared in settings.h.
#include "app/settings.h"

#include <cstdint>
#include <initializer_list>
#include <string>  // for std::to_string

#include "app/messages.h"  // for QuotedName: a value as written, in a refusal
#include "runtime/text.h"
#include "stream/console.h"
#include "stream/stream.h"

namespace {

constexpr int kTableSize = 512;
// The table stops growing right after this many pairs are stored.
constexpr int kPairLimit = 501;
constexpr int kKeySlots = 7;
// A key slot the caller leaves free.
const String kFreeSlot = u"-1";

const String kSettingsFile = u"settings.ini";
// A UTF-8 byte-order mark, read byte by byte: editors such as Notepad start a file with it.
const String kByteOrderMark = u"\u00EF\u00BB\u00BF";

constexpr int kDefaultSheetSize = 512;
constexpr int kDefaultSpriteSize = 64;
const String kDefaultOutputName = u"Out";

bool IsBlank(char16_t c) { return c <= 32; }

String Trim(const String& text) {
  size_t start = 0;
  size_t end = text.size();
  while (start < end && IsBlank(text[start])) ++start;
  while (end > start && IsBlank(text[end - 1])) --end;
  return text.substr(start, end - start);
}

String RemoveSpaces(const String& text) {
  String out;
  out.reserve(text.size());
  for (char16_t c : text) if (c != u' ') out.push_back(c);
  return out;
}

// How a key is stored from the file.
String StoredKey(const String& field) {
  return TextLower(RemoveSpaces(Trim(TextUpper(Trim(field)))));
}

// How a key is looked up.
String LookupKey(const String& key) { return TextLower(Trim(RemoveSpaces(key))); }

// Index of the last stored pair matching any of the keys, 0 when none does.
int FindSetting(const String* keys) {
  String normal[kKeySlots];
  for (int k = 0; k < kKeySlots; ++k) normal[k] = LookupKey(keys[k]);
  int found = 0;
  for (int i = 1; i <= setting_count; ++i) {
    for (const String& key : normal) {
      if (setting_keys[i] == key) found = i;
    }
  }
  return found;
}

// The number a setting gives, none when no line sets it. A number whose digits need more
// than 32 bits is refused, naming the setting and the value as written, instead of wrapping
// round to some other number.
std::optional<int> FoundNumber(const char* name, std::initializer_list<String> aliases) {
  String keys[kKeySlots];
  std::size_t k = 0;
  for (const String& alias : aliases) keys[k++] = alias;
  for (; k < kKeySlots; ++k) keys[k] = kFreeSlot;
  const int found = FindSetting(keys);
  if (!found) return std::nullopt;
  bool fits = true;
  const int value = ParseIntFitting(setting_values[found], fits);
  if (!fits) {
    throw TSettingsError(std::string(name) + " must fit in 32 bits (got " +
                         QuotedName(setting_values[found]) + ")");
  }
  return value;
}

// FoundNumber, or the default when no line sets it.
int NumberSetting(const char* name, int defaultValue, std::initializer_list<String> aliases) {
  return FoundNumber(name, aliases).value_or(defaultValue);
}

void RequireAtLeastOne(const char* name, int value) {
  if (value < 1) {
    throw TSettingsError(std::string(name) + " must be at least 1 (got " +
                         std::to_string(value) + ")");
  }
}

}  // namespace

std::vector<String> setting_keys;
std::vector<String> setting_values;
int setting_count = 0;

int sheet_width = kDefaultSheetSize;
int sheet_height = kDefaultSheetSize;
int sprite_width = kDefaultSpriteSize;
int sprite_height = kDefaultSpriteSize;
int scale_mode = SCALE_NONE;
String output_name = kDefaultOutputName;
std::optional<int> random_seed;
TRenderer renderer = TRenderer::Software;
AtlasFormat atlas_format = AtlasFormat::None;
bool split_sprites = false;
std::vector<std::string> setting_notes;

void LoadSettings() {
  setting_count = 0;
  if (static_cast<int>(setting_keys.size()) < kTableSize) setting_keys.resize(kTableSize);
  if (static_cast<int>(setting_values.size()) < kTableSize) setting_values.resize(kTableSize);
  if (GetFileType(kSettingsFile) != FILETYPE_FILE) return;
  DebugTrace(u"Found ini file");
  Ref<TStream> stream = OpenFileForReading(kSettingsFile);
  // Note: the file is there but will not open (permissions, a special file); going on with
  // defaults would silently ignore what the user wrote.
  if (!stream) {
    throw TSettingsError("settings.ini exists but cannot be opened for reading");
  }
  for (bool first = true;; first = false) {
    const int64_t before = StreamPos(stream);
    String line = StreamReadLine(stream);
    // Note: a byte-order mark at the very start would otherwise join the first key.
    if (first && line.rfind(kByteOrderMark, 0) == 0) line.erase(0, kByteOrderMark.size());
    if (line.find(u'=') != String::npos) {
      ++setting_count;
      setting_keys[setting_count] = StoredKey(SplitField(line, u"=", 1));
      setting_values[setting_count] = Trim(SplitField(line, u"=", 2));
    }
    // The end test follows the line, so a last line without a line end still counts.
    // Note: a file whose size the system does not report (a /proc file), one that shrank
    // while we read, or a read error never reaches the end by position; a line that read
    // nothing means nothing more can be read, and reading on would never stop.
    if (setting_count >= kPairLimit || StreamEof(stream) || StreamPos(stream) == before) break;
  }
  CloseFileStream(stream);
}

// The value of the last line matching any alias, as an integer; the default when none does.
int SettingInt(int defaultValue, const String& key1, const String& key2, const String& key3,
               const String& key4, const String& key5, const String& key6,
               const String& key7) {
  const String keys[kKeySlots] = {key1, key2, key3, key4, key5, key6, key7};
  int found = FindSetting(keys);
  return found ? ParseInt(setting_values[found]) : defaultValue;
}

// The value of the last line matching any alias; the default when none does.
String SettingString(const String& defaultValue, const String& key1, const String& key2,
                     const String& key3, const String& key4, const String& key5,
                     const String& key6, const String& key7) {
  const String keys[kKeySlots] = {key1, key2, key3, key4, key5, key6, key7};
  int found = FindSetting(keys);
  return found ? setting_values[found] : defaultValue;
}

// The n-th field (from 1) of the trimmed text; empty when there are fewer fields.
String SplitField(const String& text, const String& separator, int n) {
  String trimmed = Trim(text);
  if (n < 1 || separator.empty()) return n == 1 ? trimmed : String();
  size_t start = 0;
  for (int field = 1; field < n; ++field) {
    size_t at = trimmed.find(separator, start);
    if (at == String::npos) return String();
    start = at + separator.size();
  }
  size_t end = trimmed.find(separator, start);
  if (end == String::npos) end = trimmed.size();
  return trimmed.substr(start, end - start);
}

// Leading white space, an optional sign, then "%" binary, "$" hexadecimal or decimal
// digits up to the first character that does not belong.
int ParseInt(const String& text) {
  bool fits = true;
  return ParseIntFitting(text, fits);
}

int ParseIntFitting(const String& text, bool& fits) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && text[i] == u'%') {
    base = 2;
    ++i;
  } else if (i < text.size() && text[i] == u'$') {
    base = 16;
    ++i;
  }
  // Note: unsigned arithmetic so that an over-long number wraps instead of overflowing;
  // the wide copy tells whether the digits needed more than 32 bits.
  uint32_t value = 0;
  uint64_t wide = 0;
  fits = true;
  for (; i < text.size(); ++i) {
    char16_t c = text[i];
    int digit = -1;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    else if (c >= u'a' && c <= u'f') digit = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
    if (digit < 0 || digit >= base) break;
    value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
    if (fits) {
      wide = wide * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
      fits = wide <= UINT32_MAX;
    }
  }
  if (negative) value = 0u - value;
  return static_cast<int>(value);
}

String CleanOutputName(const String& name) {
  String out;
  out.reserve(name.size());
  for (char16_t c : name) {
    if (c == u'"') continue;
    // Note: control characters (a tab, bytes below 32, DEL and the C1 bytes 0x80-0x9F,
    // one of which starts an escape sequence on some terminals) make names nobody can type.
    if (c == u'/' || c == u'\\' || c == u';' || c == u':' || c == u'*' || c == u'?' ||
        c == u'!' || IsControlCharacter(c)) {
      c = u'_';
    }
    out.push_back(c);
  }
  return out;
}

void ReadSheetSettings() {
  setting_keys.assign(kTableSize, String());
  setting_values.assign(kTableSize, String());
  setting_count = 0;
  sheet_width = kDefaultSheetSize;
  sheet_height = kDefaultSheetSize;
  sprite_width = kDefaultSpriteSize;
  sprite_height = kDefaultSpriteSize;
  scale_mode = SCALE_NONE;
  output_name = kDefaultOutputName;
  random_seed.reset();
  renderer = TRenderer::Software;
  atlas_format = AtlasFormat::None;
  split_sprites = false;
  setting_notes.clear();

  LoadSettings();

  sheet_width = NumberSetting("sheet width", kDefaultSheetSize, {u"Screen Width", u"Sheet Width"});
  sheet_height =
      NumberSetting("sheet height", kDefaultSheetSize, {u"Screen Height", u"Sheet Height"});
  sprite_width = NumberSetting("sprite width", kDefaultSpriteSize,
                               {u"Sprite Size", u"Size", u"Sprite Width", u"Width"});
  sprite_height = NumberSetting("sprite height", kDefaultSpriteSize,
                                {u"Sprite Size", u"Size", u"Sprite Height", u"Height"});
  String scale = TextUpper(SettingString(u"", u"Rescale", u"Make"));
  if (scale == u"TRUE" || scale == u"LARGER" || scale == u"BIGGER" || scale == u"GROW") {
    scale_mode = SCALE_GROW;
  } else if (scale == u"SMALLER" || scale == u"SHRINK") {
    scale_mode = SCALE_SHRINK;
  } else {
    scale_mode = SCALE_NONE;
  }
  const String written_name =
      SettingString(kDefaultOutputName, u"Filename", u"Save As", u"Output");
  output_name = CleanOutputName(written_name);
  // Note: an empty name would write hidden files named ".png"; the default takes its place.
  if (output_name.empty()) {
    output_name = kDefaultOutputName;
    setting_notes.push_back(
        (written_name.empty() ? std::string("The output name is empty")
                              : "The output name " + QuotedName(written_name) +
                                    " is empty once its double quotes are removed") +
        "; the files are named " + QuotedName(kDefaultOutputName));
  }

  random_seed = FoundNumber("seed", {u"Seed", u"Random Seed"});
  // Note: any other word keeps the default renderer, as an unknown scaling word keeps none.
  renderer = TextUpper(SettingString(u"", u"Renderer")) == u"OPENGL" ? TRenderer::OpenGL
                                                                      : TRenderer::Software;

  // Opt-in files; their words are compared without regard to case, like the scaling word.
  const String atlas = TextUpper(SettingString(u"", u"Atlas", u"Atlas File"));
  atlas_format = atlas == u"JSON" || atlas == u"TRUE" ? AtlasFormat::Json : AtlasFormat::None;
  split_sprites = TextUpper(SettingString(u"", u"Split", u"Sprite Files")) == u"TRUE";

  // Note: a size below 1 would divide by zero in the grid or ask for an empty window.
  RequireAtLeastOne("sheet width", sheet_width);
  RequireAtLeastOne("sheet height", sheet_height);
  RequireAtLeastOne("sprite width", sprite_width);
  RequireAtLeastOne("sprite height", sprite_height);
}
