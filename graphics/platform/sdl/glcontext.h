// GL window and context layer on SDL2: the graphics window, its GL context and the
// off-screen framebuffer that keeps the drawing across presented frames; or, for a
// software window, the window alone, showing pixels drawn in main memory.
// Used by the GL graphics driver (graphics/glgraphics.cpp) and by the SDL message pump,
// which routes each window's events through GLWindowEvent. State: the context list.
#pragma once

#include "graphics/platform/glcontext.h"

struct SDL_Window;
struct X11Presenter;
union SDL_Event;

// One GL context and the window it draws into on SDL.
struct GLContextRecord {
  GLContextRecord* next = nullptr;
  // 0 shared hidden context, 1 attached to a foreign window, 2 own window on the desktop,
  // 3 own full-screen window.
  int kind = 0;
  int width = 0;
  int height = 0;
  int depth = 0;
  int hertz = 0;
  int flags = 0;
  SDL_Window* window = nullptr;
  void* context = nullptr;  // SDL_GLContext
  unsigned window_id = 0;
  // Off-screen drawing buffer presented by copying it to the window at each swap; 0 when
  // the GL lacks framebuffer objects and drawing goes to the window's back buffer.
  unsigned framebuffer = 0;
  unsigned colorbuffer = 0;
  unsigned depthbuffer = 0;
  // 1 when the window is on a display, 0 on the off-screen video driver.
  int visible = 0;
  // 1 for a software window: no GL context or drawing buffer; GLContextShowPixels shows
  // its content.
  int software = 0;
  // How a software window on X11 is shown (null: through SDL's window surface), made at
  // its first showing.
  X11Presenter* presenter = nullptr;
  bool presenter_made = false;
  // Set when the record was closed while held (see GLContextHoldRecords).
  bool closed = false;
};

// The listed record whose window has this SDL window id, or null.
GLContextRecord* GLContextForWindowId(unsigned window_id);
// Window-procedure handling after the event translation (only for listed windows); does
// nothing for a record closed meanwhile.
void GLWindowEvent(GLContextRecord* record, const SDL_Event& event);
// While held, a closed record is marked closed and unlinked but its memory stays, so the
// window handling that follows an emitted event (whose hooks may close the window) still
// reads a valid record. Holds nest; the last release frees the records closed meanwhile.
void GLContextHoldRecords();
void GLContextReleaseRecords();
