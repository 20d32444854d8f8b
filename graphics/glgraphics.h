// OpenGL graphics driver: GL contexts on the platform layer, presented with a swap.
// Depends on the graphics module and graphics/platform. State: the driver singleton.
#pragma once

#include "graphics/graphics.h"

class TGLGraphicsDriver;

// The GL graphics driver singleton, created on first call.
TGraphicsDriver* GLGraphicsDriver();
// SelectGraphicsDriver(GLGraphicsDriver(), 2), then OpenGraphics with the same arguments.
Ref<TGraphics> OpenGLGraphics(int width, int height, int depth, int hertz, int flags);

// Starts the GL graphics module: selects the GL driver. Runs once.
void StartGLGraphics();
