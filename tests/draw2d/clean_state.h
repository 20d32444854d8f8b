// The drawing state the 2D driver tests start each picture from: the whole context as the
// viewport, no origin, handle, rotation or scale, one-pixel lines, solid opaque white, and
// the context cleared to black.
#pragma once

#include "draw2d/draw2d.h"

inline void StartCleanPicture(int width, int height) {
  SetViewport(0, 0, width, height);
  SetOrigin(0, 0);
  SetHandle(0, 0);
  SetRotationScale(0, 1, 1);
  SetLineWidth(1);
  SetBlend(BLEND_SOLID);
  SetColor(255, 255, 255);
  SetAlpha(1);
  SetClsColor(0, 0, 0);
  Cls();
}
