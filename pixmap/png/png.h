// PNG files: PixmapSavePNG writes a pixmap through libpng and the stream layer; the PNG
// reader joins the pixmap loader chain when the module starts.
// Depends on pixmaps and streams. State: the one stream slot of the save or load in progress.
#pragma once

#include "pixmap/pixmap.h"

// Writes the pixmap as PNG; 1 on success, 0 when the file cannot be opened or libpng fails.
// A stream write failure raises TStreamWriteException.
int PixmapSavePNG(const Ref<TPixmap>& pixmap, const String& url, int compression);
int PixmapSavePNG(const Ref<TPixmap>& pixmap, const Ref<Object>& url, int compression);

// Starts the PNG module: registers the PNG reader with the loader chain. Runs once.
void StartPNG();
