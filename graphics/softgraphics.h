// Software graphics driver: windows whose content is a pixel buffer in main memory. A 2D
// driver that rasterises by itself (draw2d/soft) draws into a context's buffer and marks
// what it changed; Flip shows the changed part in the window, with no GL involved.
// It is never selected on its own: the software 2D driver makes its contexts through it.
// Depends on the graphics module and graphics/platform. State: the driver singleton and
// its current context.
#pragma once

#include <cstdint>
#include <memory>

#include "graphics/graphics.h"

// The pixels of a software context: RGBA bytes, row 0 at the top, black when made.
struct TPixelBuffer {
  uint8_t* pixels = nullptr;
  int pitch = 0;  // bytes from one row to the next
  int width = 0;
  int height = 0;
  // Owns the pixels with the context: whoever draws into them after the context may have
  // closed (a thread that finishes queued drawing) keeps a copy of this.
  std::shared_ptr<uint8_t> memory;
};

// The software graphics driver singleton, created on first call.
TGraphicsDriver* SoftGraphicsDriver();

// The buffer of a context made by SoftGraphicsDriver() (empty for any other context). An
// attached window that was resized gets a new, black buffer of its new size here, so the
// caller must have finished with the previous one.
TPixelBuffer SoftGraphicsBuffer(TGraphics& graphics);

// Marks a rectangle of a software context's buffer as changed since it was last shown;
// the context's next Flip shows it. Vertical sync does not apply to software windows:
// Flip sends the pixels to the window at once whatever its argument.
void SoftGraphicsDamage(TGraphics& graphics, int x, int y, int width, int height);
