// GL window and context layer: what the graphics drivers (graphics/glgraphics.cpp,
// graphics/softgraphics.cpp) ask of the platform's windows. Each platform folder
// (graphics/platform/sdl, graphics/platform/win32) defines GLContextRecord and these
// operations in its glcontext.cpp; CMake builds the one folder of the target platform, so
// nothing above this header knows which one runs. State: the context list, in the
// platform's glcontext.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "graphics/graphics.h"  // for TGraphicsMode

// One GL context (or software window) and the window it draws into; each platform
// defines its fields. TGLGraphics._context points at one.
struct GLContextRecord;

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
// in a software window. Vertical sync does not apply. False when the window has no surface
// to show them on.
bool GLContextShowPixels(GLContextRecord* record, const uint8_t* rgba, int pitch, int x,
                         int y, int width, int height);
// A GL context on an existing native window, or null.
GLContextRecord* GLContextAttach(int widget, int flags);
// A software window record on an existing native window, or null.
GLContextRecord* GLContextAttachSoftware(int widget, int flags);
// The record's settings; an attached window is measured again.
void GLContextSettings(GLContextRecord* record, int& width, int& height, int& depth,
                       int& hertz, int& flags);
// The record's client size as last measured (no new measurement).
void GLContextSize(const GLContextRecord* record, int& width, int& height);
// 1 when the record's window is on a display someone can see, 0 when drawn off-screen.
int GLContextVisible(const GLContextRecord* record);
// Makes the record's context current (null: none); its drawing buffer is bound for
// drawing and reading.
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
// makes windows on this layer); defined once in graphics/glgraphics.cpp.
std::vector<TGraphicsMode> DisplayGraphicsModes();
GLContextRecord* GLContextCurrent();
// Why the last GLContextCreate or GLContextAttach gave no record, in the user's words
// ("the graphics system refused that size (at most 16384 x 16384)").
const std::string& GLContextFailure();
