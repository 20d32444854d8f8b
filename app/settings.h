// Settings file: reads "settings.ini" once into a table of normalised key/value pairs and
// looks settings up under their alias keys, and holds the sheet builder's configured
// values (sheet and sprite size, scaling mode, output name, optional seed, and the opt-in
// atlas and sprite files, and the drawing threads).
// Depends on streams (file reading) and the debug trace. State: the pair table and the
// configured values below.
#pragma once

#include <optional>
#include <stdexcept>  // for std::runtime_error
#include <string>
#include <vector>

#include "runtime/object.h"

// Which 2D driver draws the sheet.
enum class TRenderer {
  Software,  // the default: the same pixels on every machine
  OpenGL,    // the GL 2D driver, drawn by the machine's GL
};

constexpr int SCALE_NONE = 0;
constexpr int SCALE_SHRINK = 1;
constexpr int SCALE_GROW = 2;

// The atlas written beside each sheet file, if any.
enum class AtlasFormat { None, Json };

// Pair table: positions 1 .. setting_count are used, position 0 never.
extern std::vector<String> setting_keys;
extern std::vector<String> setting_values;
extern int setting_count;

// Configured values, at their defaults until ReadSheetSettings runs.
extern int sheet_width;
extern int sheet_height;
extern int sprite_width;
extern int sprite_height;
extern int scale_mode;
extern String output_name;
extern std::optional<int> random_seed;  // from "Seed" / "Random Seed"; none: use the clock
extern TRenderer renderer;               // from "Renderer": "OpenGL", else Software
extern AtlasFormat atlas_format;        // from "Atlas" / "Atlas File"
extern bool split_sprites;              // from "Split" / "Sprite Files": a PNG per cell
extern int draw_threads;  // from "Threads": threads drawing off-screen and compressing, 0 all cores
// What the user should hear about settings that were mended (an empty output name), one
// line each; filled by ReadSheetSettings.
extern std::vector<std::string> setting_notes;

// A settings file that exists but cannot be read, or a value the program cannot work with.
// what() is the one line shown to the user.
class TSettingsError : public std::runtime_error {
 public:
  explicit TSettingsError(const std::string& message) : std::runtime_error(message) {}
};

// Every setting users can write, in the order of the lookups. One table serves the reader,
// the command line's key check, --help and --print-settings.
enum class TSettingId {
  SheetWidth, SheetHeight, SpriteWidth, SpriteHeight, Scaling, OutputName, Seed, Atlas, Split,
  Renderer, Threads
};

// One setting as users write it.
struct TSettingInfo {
  TSettingId id;
  const char* key;               // the key shown by --help and written by --print-settings
  const char* name;              // how messages name it
  std::vector<String> aliases;   // every key that sets it, in lookup order
  const char* default_text;      // its default, as --help shows it
  const char* meaning;           // one line for --help
};

const std::vector<TSettingInfo>& SettingTable();
const TSettingInfo& SettingInfo(TSettingId id);

// Where the settings come from: a file (none given: "settings.ini" in the current
// directory, and no such file is fine), or standard input; then `KEY=VALUE` lines from the
// command line, read by the file's rules after it, so they win over it.
struct TSettingsSource {
  std::optional<String> file;  // given with -s; "-" reads standard input
  std::vector<String> lines;   // command-line settings, in order
};

// Where the value in force of a setting came from.
enum class TSettingOrigin { Default, File, CommandLine };

// The name of the settings file the source reads, for messages and remarks.
String SettingsFileName(const TSettingsSource& source);

// Whether `key` (written as users write it) is a key of some setting; "-1" counts, as it
// sets every setting in a file.
bool IsSettingKey(const String& key);
// The setting key closest to an unknown one (a typo), or empty when none is close.
String ClosestSettingKey(const String& key);

// Fills the pair table from "settings.ini" in the current directory (nothing when absent).
void LoadSettings();
int SettingInt(int defaultValue, const String& key1, const String& key2 = u"-1",
               const String& key3 = u"-1", const String& key4 = u"-1",
               const String& key5 = u"-1", const String& key6 = u"-1",
               const String& key7 = u"-1");
String SettingString(const String& defaultValue, const String& key1, const String& key2 = u"-1",
                     const String& key3 = u"-1", const String& key4 = u"-1",
                     const String& key5 = u"-1", const String& key6 = u"-1",
                     const String& key7 = u"-1");
String SplitField(const String& text, const String& separator, int n);
int ParseInt(const String& text);
// ParseInt, also telling whether the digits fit in 32 bits (fits false: the result wrapped).
int ParseIntFitting(const String& text, bool& fits);
// Replaces / \ ; : * ? ! and control characters (codes below 32) with _ and removes double
// quotes.
String CleanOutputName(const String& name);

// Creates the pair table, LoadSettings, the six lookups in order, the output-name cleaning
// and the seed, renderer, atlas, split and threads lookups; then refuses sizes the program
// cannot work with. Raises TSettingsError (before any window opens) for an unreadable file
// or an unusable value: a size below 1, or a number whose digits need more than 32 bits.
void ReadSheetSettings();
// ReadSheetSettings from the given file (or standard input) and command-line lines. A file
// given by name that cannot be read raises TSettingsError too.
void ReadSheetSettings(const TSettingsSource& source);
// Where the value in force of a setting came from (after ReadSheetSettings).
TSettingOrigin SettingOrigin(TSettingId id);
// The settings in force as a settings file (after ReadSheetSettings): one "Key = value" line
// each, defaults included, each under a remark saying where it came from (the default,
// the file or standard input `source` read, or the command line). Read back, it gives the
// same sheet. Bytes as the reader reads them, one per character.
std::string SettingsFileText(const TSettingsSource& source);
