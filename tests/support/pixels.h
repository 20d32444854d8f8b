// Comparing drawn pictures in tests.
#pragma once

#include "pixmap/pixmap.h"

// How many pixels of two pixmaps of one size differ.
inline int DifferingPixels(TPixmap& a, TPixmap& b) {
  int differing = 0;
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) differing += a.ReadPixel(x, y) != b.ReadPixel(x, y);
  }
  return differing;
}
