// GL window and context layer on SDL2: the graphics window, its GL context and the
// off-screen framebuffer that keeps the drawing across presented frames; or, for a
// software window, the window alone, showing pixels drawn in main memory.
// Used by the GL graphics driver (graphics/glgraphics.cpp) and by the SDL message pump,
// which routes each window's events through GLWindowEvent. State: the context list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "graphics/graphics.h"  // for TGraphicsMode

struct SDL_Window;
struct X11Presenter;
union SDL_Event;

// One GL context and the window it draws into; TGLGraphics._context points at one.
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

// A desktop (depth 0) or full-screen window of the given client size with a GL context and
// its drawing buffer, or null (GLContextFailure says why). Raises "GLGraphicsDriver failed
// to set display mode" when full screen is refused.
GLContextRecord* GLContextCreate(int width, int height, int depth, int hertz, int flags);
// A window like GLContextCreate's whose content is a pixel buffer in main memory, shown
// with GLContextShowPixels: no GL context and no drawing buffer. Null when no window can be
// made; raises the display-mode error like GLContextCreate.
GLContextRecord* GLContextCreateSoftware(int width, int height, int depth, int hertz,
                                         int flags);
// Shows a rectangle of RGBA pixels (the window's size, row 0 on top, `pitch` bytes a row)
// in a software window. Vertical sync does not apply. On X11 the pixels are handed to the
// server without waiting for it to draw them (see x11present.h); elsewhere they are shown
// before this returns. False when the window has no surface to show them on.
bool GLContextShowPixels(GLContextRecord* record, const uint8_t* rgba, int pitch, int x,
                         int y, int width, int height);
// A GL context on an existing native (X11) window, or null.
GLContextRecord* GLContextAttach(int widget, int flags);
// A software window record on an existing native (X11) window, or null.
GLContextRecord* GLContextAttachSoftware(int widget, int flags);
// The record's settings; an attached window is measured again.
void GLContextSettings(GLContextRecord* record, int& width, int& height, int& depth,
                       int& hertz, int& flags);
// Makes the record's context current (null: none); its framebuffer is bound for drawing
// and reading.
void GLContextMakeCurrent(GLContextRecord* record);
// Unlinks the record, deletes its context and, for own windows, the window.
void GLContextClose(GLContextRecord* record);
// Presents the current record's drawing with swap interval 1 when sync is non-zero.
void GLContextSwap(int sync);
void GLContextSetSwapInterval(int interval);
// Fills up to `capacity` entries of width, height, bits per pixel, refresh rate; returns
// the count. Modes under 16 bits per pixel are skipped.
int GLContextEnumModes(int* table, int capacity);
// The display's modes through GLContextEnumModes, as graphics modes (for every driver that
// makes windows on this layer).
std::vector<TGraphicsMode> DisplayGraphicsModes();
GLContextRecord* GLContextCurrent();
// Why the last GLContextCreate or GLContextAttach gave no record, in the user's words
// ("the graphics system refused that size (at most 16384 x 16384)").
const std::string& GLContextFailure();
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
