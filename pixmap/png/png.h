// PNG files: PixmapSavePNG writes a pixmap through libpng and the stream layer; the PNG
// reader joins the pixmap loader chain when the module starts.
// Depends on pixmaps and streams. State: the one stream slot of the save or load in progress.
#pragma once

#include "pixmap/pixmap.h"

// Writes the pixmap as PNG; 1 on success, 0 when the file cannot be opened or libpng fails.
// A stream write failure raises TStreamWriteException. A plain path is saved through a
// TFileReplacement (stream/replace.h): a temporary file beside it replaces the target only
// once the image is complete, so a failed save never leaves a truncated file nor loses the
// previous one; a failure leaves errno saying why. An empty pixmap (width or height 0) is not
// saved: 0, and no file.
int PixmapSavePNG(const Ref<TPixmap>& pixmap, const String& url, int compression);
int PixmapSavePNG(const Ref<TPixmap>& pixmap, const Ref<Object>& url, int compression);

// The PNG reader of the loader chain: 8-bit grey, RGB and RGBA images (16-bit samples are
// stripped, palettes and small grey depths expanded, grey with alpha becomes RGBA).
class TPixmapLoaderPNG : public TPixmapLoader {
 public:
  Ref<TPixmap> LoadPixmap(const Ref<TStream>& stream) override;
};

// Reads a PNG image from the stream (the caller's stream is not closed); null when the
// stream does not hold a PNG image this reader understands or libpng fails. A stream read
// failure raises TStreamReadException.
Ref<TPixmap> LoadPixmapPNG(const Ref<TStream>& stream);

// How many threads compress one image: 0 (the default) one per core. The image data is cut
// into bands whatever the number, so the files are the same byte for byte.
void SetPngThreads(int threads);

// Starts the PNG module: registers the PNG reader with the loader chain. Runs once.
void StartPNG();
