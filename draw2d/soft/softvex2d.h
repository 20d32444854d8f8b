// Software 2D driver ("Software"): draws the 2D front end's primitives, images and text
// into a pixel buffer in main memory, on a raster thread of its own, and shows it through
// the software graphics driver's windows. It follows the raster rules of the GL 2D
// driver's GL, so it draws what that driver draws, with the same pixels on every machine.
// It is the default 2D driver: its module starts after the GL 2D driver's and selects
// itself.
// Depends on the 2D front end, the software graphics driver and the rasteriser. State: the
// device state, the raster queue and the context the queue draws into.
#pragma once

#include "draw2d/draw2d.h"

// The software 2D driver singleton.
TVex2DDriver* SoftVex2DDriver();

// What presenting a visible window has cost so far (for benchmarks): the presentations,
// and the milliseconds spent in them waiting for the raster thread and showing pixels.
struct TSoftVex2DStats {
  int presents = 0;
  double wait_ms = 0;
  double show_ms = 0;
};
const TSoftVex2DStats& SoftVex2DStats();

// How many threads draw for a context nobody sees (off-screen): 0 (the default) one per
// core, 1 one raster thread beside the recording thread, more that many, each drawing one
// clip rectangle (a sheet's cell) at a time; below 0 counts as 0. Visible windows are
// drawn by one raster thread. The pixels are the same whatever the number; the change
// waits for what was recorded before it.
void SetSoftVex2DThreads(int threads);

// Starts the software 2D module: selects the driver with default flags 2. Runs once.
void StartSoftVex2D();
