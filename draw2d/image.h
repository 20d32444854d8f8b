// Images: one or more pixmaps with the drawable frames (textures) the 2D driver makes from
// them, rebuilt once for every graphics generation. Glyphs of image fonts are images.
// Depends on pixmaps, the graphics module (graphicsGeneration) and the 2D driver in force.
// Keeps no module state.
#pragma once

#include <vector>

#include "draw2d/driver.h"

constexpr int IMAGEFLAG_MASKED = 1;

class TImage : public Object {
 public:
  // A one-frame image of a pixmap (or of anything a pixmap loads from); null when no pixmap.
  // With IMAGEFLAG_MASKED a pixmap without alpha has the mask colour keyed out.
  static Ref<TImage> Load(const Ref<Object>& source, int flags, int maskRed, int maskGreen,
                          int maskBlue);
  // The drawable frame for the current context; made by the driver in force when the
  // generation changed since it was last made. Null when the driver made none or the image
  // has no such frame.
  Ref<TImageFrame> Frame(int index);

  int width = 0, height = 0, flags = 0;
  int mask_r = 0, mask_g = 0, mask_b = 0;
  float handle_x = 0.0f, handle_y = 0.0f;
  std::vector<Ref<TPixmap>> pixmaps;
  std::vector<Ref<TImageFrame>> frames;
  std::vector<int> seqs;
};
