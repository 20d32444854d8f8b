// Presentation of a software window on X11 without waiting for the X server. SDL's window
// surface ends every update with a round trip to the server (XSync), about 0.15 ms a time
// here, and the sheet presents 1,200 times; a GPU's swap does not wait either. This sends
// the pixels with XPutImage, converted to the window's visual a band at a time, and only
// flushes the connection: the server draws them as soon as it gets to them, in order with
// everything else sent on SDL's connection. Whoever must read the window back from another
// connection makes a round trip on SDL's first, as after a GL swap it would call glFinish.
// Windows whose visual has not 8 bits a channel (rare) are left to SDL's surface.
// Used by the software windows of graphics/platform/glcontext. State: none but the
// presenters handed out.
#pragma once

#include <cstdint>

struct SDL_Window;
struct X11Presenter;

// A presenter for `window`, or null when it is no X11 window or its visual is not one
// this fills (TrueColor or DirectColor, 24 or 32 bits, 8 bits a channel, red highest).
X11Presenter* X11PresenterCreate(SDL_Window* window);
void X11PresenterDestroy(X11Presenter* presenter);
// Sends a rectangle of RGBA pixels (row 0 on top, `pitch` bytes a row) to the window at
// the same place; the server clips it to the window. False when X would not take it.
bool X11PresenterShow(X11Presenter* presenter, const uint8_t* rgba, int pitch, int x, int y,
                      int width, int height);
