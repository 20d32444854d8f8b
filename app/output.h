// Sheet output: reads the finished sheet back from the drawing buffer, makes the background
// key colour transparent and writes the PNG files that scale_mode asks for, named after
// output_name with the suffixes ".png", "-hd.png" and "-hd2.png"; when asked, also an atlas
// beside each of them and a PNG of every single sprite.
// Depends on the 2D pixel grab, pixmaps, resizing, the PNG writer and the atlas files;
// reads the settings.
// State: the files written by the last run and the file being written now.
#pragma once

#include <string>
#include <vector>

#include "app/messages.h"  // ReportLine and QuotedName, for the messages of the output step
#include "pixmap/pixmap.h"
#include "runtime/object.h"

// Background key colour (red 255, green 0, blue 255), compared with a pixel's low 24 bits.
constexpr uint32_t key_colour = 0xFF00FF;
// Compression level of every PNG the sheet builder writes.
constexpr int kSheetCompression = 5;

// Grabs the whole sheet, keys it out and writes its files. Returns 0 when every file was
// written, 1 when any could not be (each missing file is reported on stderr as one line,
// running out of memory included).
// A stream write failure after a file was opened escapes as TStreamException;
// SheetFileInProgress() then names the file.
int WriteSheetOutput();

// Writes the files for scale_mode from an already keyed sheet; same result as above.
int SaveSheetFiles(const Ref<TPixmap>& sheet);
// Turns every pixel whose low 24 bits are key_colour into 0, in place (x outer, y inner).
void KeyOutSheet(const Ref<TPixmap>& sheet);
// The sheet enlarged `factor` times by pixel replication (x outer, y inner). Null when the
// copy would be larger than a pixmap can be (kPixmapByteLimit), which is decided from the
// size alone; raises std::bad_alloc when its memory cannot be had.
Ref<TPixmap> EnlargeSheet(const Ref<TPixmap>& sheet, int factor);

// Sheet files and atlases written by the last WriteSheetOutput or SaveSheetFiles, in the
// order written (the single-sprite files are only counted).
const std::vector<String>& WrittenSheetFiles();
// One file written: its name and, for a PNG, its size in pixels (0 x 0 for an atlas).
struct TWrittenFile {
  String name;
  int width = 0;
  int height = 0;
};
// Every file written by the last WriteSheetOutput or SaveSheetFiles, sprite files included,
// in the order written.
const std::vector<TWrittenFile>& WrittenFiles();
// Single-sprite files written by the last WriteSheetOutput or SaveSheetFiles.
int WrittenSpriteFileCount();
// The file whose save is in progress (empty between saves).
const String& SheetFileInProgress();

// The longest name among the files the settings will have the run write: the sheet files,
// their atlases and the sprite files.
String LongestOutputName();
// Checks before anything is drawn that every file the run will write into `folder` has a
// name the file system there takes. Empty when they all fit; otherwise the one line that
// names the longest and the limit.
std::string OutputNameProblem(const String& folder);
