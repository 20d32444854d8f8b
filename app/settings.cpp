// Settings file: reads "settings.ini" from the current directory into a table of
// normalised key/value pairs, looks settings up under their alias keys, and holds the
// sheet builder's configured values. Depends on streams (file reading) and the debug trace.
// State: the pair table and the configured values, all declared in settings.h.
#include "app/settings.h"

#include <algorithm>  // for std::min, std::max
#include <cstdint>
#include <cstdio>     // for reading standard input
#include <cstring>    // for std::memcpy
#include <string>     // for std::to_string

#include "app/messages.h"  // for QuotedName: a value as written, in a refusal
#include "runtime/text.h"
#include "stream/bank.h"  // standard input is read into memory, then line by line
#include "stream/console.h"
#include "stream/stream.h"

#ifndef SHEETBUILDER_VERSION
#define SHEETBUILDER_VERSION "unknown"
#endif

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

// The lookup keys of a setting, free slots filled with kFreeSlot.
void KeysOf(TSettingId id, String (&keys)[kKeySlots]) {
  const std::vector<String>& aliases = SettingInfo(id).aliases;
  for (int k = 0; k < kKeySlots; ++k) {
    keys[k] = k < static_cast<int>(aliases.size()) ? aliases[k] : kFreeSlot;
  }
}

int FindSetting(TSettingId id) {
  String keys[kKeySlots];
  KeysOf(id, keys);
  return FindSetting(keys);
}

// The value text of the last line setting it; the default when none does.
String StringSetting(TSettingId id, const String& defaultValue) {
  const int found = FindSetting(id);
  return found ? setting_values[found] : defaultValue;
}

// The number a setting gives, none when no line sets it. A number whose digits need more
// than 32 bits is refused, naming the setting and the value as written, instead of wrapping
// round to some other number.
std::optional<int> FoundNumber(TSettingId id) {
  const int found = FindSetting(id);
  if (!found) return std::nullopt;
  bool fits = true;
  const int value = ParseIntFitting(setting_values[found], fits);
  if (!fits) {
    throw TSettingsError(std::string(SettingInfo(id).name) + " must fit in 32 bits (got " +
                         QuotedName(setting_values[found]) + ")");
  }
  return value;
}

// FoundNumber, or the default when no line sets it.
int NumberSetting(TSettingId id, int defaultValue) {
  return FoundNumber(id).value_or(defaultValue);
}

// Stores one line that contains "=" as the next pair, growing the table when the command
// line adds pairs beyond the file's.
void StorePair(const String& line) {
  ++setting_count;
  if (static_cast<int>(setting_keys.size()) <= setting_count) {
    setting_keys.resize(setting_count + 1);
    setting_values.resize(setting_count + 1);
  }
  setting_keys[setting_count] = StoredKey(SplitField(line, u"=", 1));
  setting_values[setting_count] = Trim(SplitField(line, u"=", 2));
}

// Reads pairs from a settings file's stream until its end or the pair limit.
void LoadSettingsFrom(const Ref<TStream>& stream) {
  for (bool first = true;; first = false) {
    const int64_t before = StreamPos(stream);
    String line = StreamReadLine(stream);
    // Note: a byte-order mark at the very start would otherwise join the first key.
    if (first && line.rfind(kByteOrderMark, 0) == 0) line.erase(0, kByteOrderMark.size());
    if (line.find(u'=') != String::npos) StorePair(line);
    // The end test follows the line, so a last line without a line end still counts.
    // Note: a file whose size the system does not report (a /proc file), one that shrank
    // while we read, or a read error never reaches the end by position; a line that read
    // nothing means nothing more can be read, and reading on would never stop.
    if (setting_count >= kPairLimit || StreamEof(stream) || StreamPos(stream) == before) break;
  }
}

// Standard input, read to its end, as a stream the settings reader can read lines from.
Ref<TStream> StandardInputStream() {
  Ref<TBank> bank = TBank::Create(0);
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof(buffer), stdin)) > 0;) {
    const int64_t at = bank->Size();
    bank->Resize(at + static_cast<int64_t>(got));
    std::memcpy(bank->Lock() + at, buffer, got);
  }
  if (std::ferror(stdin)) throw TSettingsError("Could not read the settings from standard input");
  return TBankStream::Create(bank);
}

// The file named with -s: it must be there and readable, unlike the default settings.ini.
Ref<TStream> NamedSettingsFile(const String& file) {
  const int type = GetFileType(file);
  std::string reason;
  if (type == FILETYPE_DIR) {
    reason = "it is a folder";
  } else if (type != FILETYPE_FILE) {
    reason = "no such file";
  } else if (Ref<TStream> stream = OpenFileForReading(file)) {
    return stream;
  } else {
    reason = "it cannot be opened for reading";
  }
  throw TSettingsError("Could not read the settings file " + QuotedName(file) + ": " + reason);
}

// Optimal string alignment distance: edits, a swap of two neighbours counting as one.
int EditDistance(const String& a, const String& b) {
  std::vector<std::vector<int>> d(a.size() + 1, std::vector<int>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = static_cast<int>(i);
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = static_cast<int>(j);
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const int cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// Pairs stored from the file; those after them came from the command line.
int file_pair_count = 0;

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
int draw_threads = 0;
std::vector<std::string> setting_notes;

void LoadSettings() {
  setting_count = 0;
  file_pair_count = 0;
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
  LoadSettingsFrom(stream);
  CloseFileStream(stream);
  file_pair_count = setting_count;
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

const std::vector<TSettingInfo>& SettingTable() {
  // Note: built on first use, not by a global constructor.
  static const std::vector<TSettingInfo> table = {
      {TSettingId::SheetWidth, "Sheet Width", "sheet width", {u"Screen Width", u"Sheet Width"},
       "512", "width of the window and of the sheet, in pixels"},
      {TSettingId::SheetHeight, "Sheet Height", "sheet height",
       {u"Screen Height", u"Sheet Height"}, "512", "height of the window and of the sheet"},
      {TSettingId::SpriteWidth, "Sprite Width", "sprite width",
       {u"Sprite Size", u"Size", u"Sprite Width", u"Width"}, "64",
       "width of a cell (Size and Sprite Size set width and height)"},
      {TSettingId::SpriteHeight, "Sprite Height", "sprite height",
       {u"Sprite Size", u"Size", u"Sprite Height", u"Height"}, "64", "height of a cell"},
      {TSettingId::Scaling, "Make", "scaling", {u"Rescale", u"Make"}, "None",
       "Grow (or Larger, Bigger, True): also double and quadruple size; Shrink (or Smaller): "
       "also half and quarter size"},
      {TSettingId::OutputName, "Output", "output name", {u"Filename", u"Save As", u"Output"},
       "Out", "base name of the PNG files"},
      {TSettingId::Seed, "Seed", "seed", {u"Seed", u"Random Seed"}, "the clock",
       "start of the random sequence: the same seed gives the same sheet"},
      {TSettingId::Atlas, "Atlas", "atlas", {u"Atlas", u"Atlas File"}, "None",
       "JSON (or True): also write an atlas beside every sheet PNG"},
      {TSettingId::Split, "Split", "split", {u"Split", u"Sprite Files"}, "False",
       "True: also write every sprite as a PNG file of its own"},
      {TSettingId::Renderer, "Renderer", "renderer", {u"Renderer"}, "Software",
       "OpenGL: draw with the machine's OpenGL; anything else: the software renderer"},
      {TSettingId::Threads, "Threads", "threads", {u"Threads"}, "0",
       "threads drawing without a display and compressing each PNG: 0 one per core, 1 one"},
  };
  return table;
}

const TSettingInfo& SettingInfo(TSettingId id) {
  return SettingTable()[static_cast<std::size_t>(id)];
}

String SettingsFileName(const TSettingsSource& source) {
  if (!source.file) return kSettingsFile;
  return *source.file == u"-" ? String(u"standard input") : *source.file;
}

bool IsSettingKey(const String& key) {
  const String wanted = StoredKey(key);
  if (wanted == LookupKey(kFreeSlot)) return true;
  for (const TSettingInfo& setting : SettingTable()) {
    for (const String& alias : setting.aliases) {
      if (LookupKey(alias) == wanted) return true;
    }
  }
  return false;
}

String ClosestSettingKey(const String& key) {
  const String wanted = StoredKey(key);
  String closest;
  int best = 0;
  for (const TSettingInfo& setting : SettingTable()) {
    for (const String& alias : setting.aliases) {
      const int distance = EditDistance(wanted, LookupKey(alias));
      if (closest.empty() || distance < best) {
        closest = alias;
        best = distance;
      }
    }
  }
  // Close: two edits, or a third of the longer key for long ones ("Spritewidht").
  const int allowed = std::max<int>(2, static_cast<int>(wanted.size()) / 3);
  return best <= allowed && best < static_cast<int>(wanted.size()) ? closest : String();
}

TSettingOrigin SettingOrigin(TSettingId id) {
  const int found = FindSetting(id);
  if (found == 0) return TSettingOrigin::Default;
  return found <= file_pair_count ? TSettingOrigin::File : TSettingOrigin::CommandLine;
}

std::string SettingsFileText(const TSettingsSource& source) {
  // Note: a remark must hold no "=", or the reader would take it for a setting.
  String shown_file = SettingsFileName(source);
  for (char16_t& c : shown_file) if (c == u'=') c = u'_';
  const std::string from_file = source.file && *source.file == u"-"
                                    ? std::string("standard input")
                                    : QuotedName(shown_file);
  std::string text = "# Sheet Builder " SHEETBUILDER_VERSION
                     ": the settings in force; read back with -s, they give the same sheet\n";
  for (const TSettingInfo& setting : SettingTable()) {
    switch (SettingOrigin(setting.id)) {
      case TSettingOrigin::Default: text += "# the default\n"; break;
      case TSettingOrigin::File: text += "# from " + from_file + "\n"; break;
      case TSettingOrigin::CommandLine: text += "# from the command line\n"; break;
    }
    String value;
    bool wide = false;  // a character the reader's one byte cannot hold
    switch (setting.id) {
      case TSettingId::SheetWidth: value = TextFromUtf8(std::to_string(sheet_width)); break;
      case TSettingId::SheetHeight: value = TextFromUtf8(std::to_string(sheet_height)); break;
      case TSettingId::SpriteWidth: value = TextFromUtf8(std::to_string(sprite_width)); break;
      case TSettingId::SpriteHeight: value = TextFromUtf8(std::to_string(sprite_height)); break;
      case TSettingId::Scaling:
        value = scale_mode == SCALE_GROW     ? u"Grow"
                : scale_mode == SCALE_SHRINK ? u"Shrink"
                                             : u"None";
        break;
      case TSettingId::OutputName:
        value = output_name;
        // Note: the reader takes one byte per character; a wider one cannot come back.
        for (char16_t c : output_name) {
          if (c > 0xFF) {
            wide = true;
            text += "# this name has characters a settings file cannot hold; give it as "
                    "Output on the command line\n";
            break;
          }
        }
        break;
      case TSettingId::Seed:
        if (!random_seed) {
          // Note: no value reads back as "the clock"; an empty one would be seed 0.
          text += "# " + std::string(setting.key) +
                  " is not set: each run takes it from the clock\n";
          continue;
        }
        value = TextFromUtf8(std::to_string(*random_seed));
        break;
      case TSettingId::Atlas: value = atlas_format == AtlasFormat::Json ? u"JSON" : u"None"; break;
      case TSettingId::Split: value = split_sprites ? u"True" : u"False"; break;
      case TSettingId::Renderer:
        value = renderer == TRenderer::OpenGL ? u"OpenGL" : u"Software";
        break;
      case TSettingId::Threads: value = TextFromUtf8(std::to_string(draw_threads)); break;
    }
    text += std::string(setting.key) + " = " +
            (wide ? TextToUtf8(value) : TextToBytes(value)) + "\n";
  }
  return text;
}

void ReadSheetSettings() { ReadSheetSettings(TSettingsSource{}); }

void ReadSheetSettings(const TSettingsSource& source) {
  setting_keys.assign(kTableSize, String());
  setting_values.assign(kTableSize, String());
  setting_count = 0;
  file_pair_count = 0;
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
  draw_threads = 0;
  setting_notes.clear();

  if (!source.file) {
    LoadSettings();
  } else {
    DebugTrace(u"Found ini file");
    const bool from_stdin = *source.file == u"-";
    Ref<TStream> stream = from_stdin ? StandardInputStream() : NamedSettingsFile(*source.file);
    LoadSettingsFrom(stream);
    if (!from_stdin) CloseFileStream(stream);
    file_pair_count = setting_count;
  }
  // Note: the command line's pairs come after the file's, so they win; the file's pair
  // limit does not apply to them.
  for (const String& line : source.lines) {
    if (line.find(u'=') != String::npos) StorePair(line);
  }

  sheet_width = NumberSetting(TSettingId::SheetWidth, kDefaultSheetSize);
  sheet_height = NumberSetting(TSettingId::SheetHeight, kDefaultSheetSize);
  sprite_width = NumberSetting(TSettingId::SpriteWidth, kDefaultSpriteSize);
  sprite_height = NumberSetting(TSettingId::SpriteHeight, kDefaultSpriteSize);
  String scale = TextUpper(StringSetting(TSettingId::Scaling, u""));
  if (scale == u"TRUE" || scale == u"LARGER" || scale == u"BIGGER" || scale == u"GROW") {
    scale_mode = SCALE_GROW;
  } else if (scale == u"SMALLER" || scale == u"SHRINK") {
    scale_mode = SCALE_SHRINK;
  } else {
    scale_mode = SCALE_NONE;
  }
  const String written_name = StringSetting(TSettingId::OutputName, kDefaultOutputName);
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

  random_seed = FoundNumber(TSettingId::Seed);
  // Note: any other word keeps the default renderer, as an unknown scaling word keeps none.
  renderer = TextUpper(StringSetting(TSettingId::Renderer, u"")) == u"OPENGL"
                 ? TRenderer::OpenGL
                 : TRenderer::Software;

  // Opt-in files; their words are compared without regard to case, like the scaling word.
  const String atlas = TextUpper(StringSetting(TSettingId::Atlas, u""));
  atlas_format = atlas == u"JSON" || atlas == u"TRUE" ? AtlasFormat::Json : AtlasFormat::None;
  split_sprites = TextUpper(StringSetting(TSettingId::Split, u"")) == u"TRUE";
  // Note: a count below 0 means nothing else, so it counts as 0 (every core).
  draw_threads = std::max(NumberSetting(TSettingId::Threads, 0), 0);

  // Note: a size below 1 would divide by zero in the grid or ask for an empty window.
  RequireAtLeastOne("sheet width", sheet_width);
  RequireAtLeastOne("sheet height", sheet_height);
  RequireAtLeastOne("sprite width", sprite_width);
  RequireAtLeastOne("sprite height", sprite_height);
}
