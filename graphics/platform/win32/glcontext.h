// GL window and context layer on Win32: the window class "Corvane GLGraphics", the
// graphics windows, their pixel formats and WGL contexts, full-screen display modes, and
// software windows shown with GDI. Where no window can be made (no display, a service
// session), a software context is drawn off-screen. Used by the graphics drivers through
// graphics/platform/glcontext.h and by the message pump. State: the context list.
#pragma once

#include "graphics/platform/glcontext.h"

struct HWND__;
struct HDC__;
struct HGLRC__;

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
  HDC__* device_context = nullptr;
  HWND__* window = nullptr;  // null for a software context drawn off-screen
  HGLRC__* rendering_context = nullptr;
  // 1 when the window is on a display, 0 off-screen.
  int visible = 0;
  // 1 for a software window: no pixel format or GL context; GLContextShowPixels shows it.
  int software = 0;
  // Set when the record was closed while its window procedure ran.
  bool closed = false;
};

// The listed record of this native window, or null.
GLContextRecord* GLContextForWindow(HWND__* window);
// True when this session can show windows (an interactive window station).
bool Win32CanShowWindows();
