// OpenGL 2D driver ("OpenGL"): draws the 2D front end's primitives, images and text with
// OpenGL 1.1 immediate mode into the GL graphics driver's contexts, and reads pixels back.
// Depends on the 2D front end and the GL graphics driver. State: the device state cache.
#pragma once

#include "draw2d/draw2d.h"

// The GL 2D driver singleton, or null when there is no GL graphics driver.
TVex2DDriver* GLVex2DDriver();

// Counts of the GL state changes the driver's cache let through (for tests and benchmarks:
// a repeated blend mode or texture binding must not reach the GL).
struct TGLVex2DStats {
  int blend_changes = 0;
  int texture_binds = 0;
  int texturing_switches = 0;
  int textures_deleted = 0;
};
const TGLVex2DStats& GLVex2DStats();

// Starts the GL 2D module: selects the driver with default flags 2. Runs once.
void StartGLVex2D();
