// GL image frames: one texture made from a pixmap, padded to power-of-two sizes, drawn as
// one textured quad through the GL 2D driver's transform.
// Depends on the GL 2D driver's state (bound texture, texturing flag, pending deletions).
#pragma once

#include "draw2d/device.h"
#include "draw2d/driver.h"

class TGLImageFrame : public TImageFrame {
 public:
  ~TGLImageFrame() override;
  void Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx, float sy,
            float sw, float sh) override;
  // Makes the texture, or null for an empty pixmap; raises "Unable to calculate tex size"
  // when the GL takes no size.
  static Ref<TGLImageFrame> CreateFromPixmap(const Ref<TPixmap>& pixmap, int flags);

  float u0 = 0.0f, v0 = 0.0f, u1 = 0.0f, v1 = 0.0f;
  float uscale = 0.0f, vscale = 0.0f;
  int name = 0;
  int seq = 0;
};
