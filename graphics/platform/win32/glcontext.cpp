// GL window and context layer on Win32: the window class "Corvane GLGraphics", fixed-size
// windows centred on the desktop or full-screen pop-ups, a pixel format and WGL context for
// GL windows, and software windows shown with GDI (present.cpp). Where this session cannot
// show windows (no display under wine, a service), a software context has no window and
// is drawn off-screen. GraphicsWindowProc only translates: each message of a listed window
// goes to TranslateOSMessage, then gets the handling below.
// State: the context list (newest first), the current record and the display-mode holder.
#include "graphics/platform/win32/glcontext.h"

#include <windows.h>
#include <GL/gl.h>

#include <algorithm>  // for std::max
#include <string>

#include "graphics/graphics.h"  // for the GRAPHICS_ flag names
#include "graphics/platform/win32/present.h"
#include "graphics/platform/win32/systemdriver.h"
#include "graphics/system.h"
#include "runtime/runtime.h"
#include "runtime/text.h"

namespace {

constexpr wchar_t kWindowClass[] = L"Corvane GLGraphics";
constexpr char kDisplayModeError[] = "GLGraphicsDriver failed to set display mode";
constexpr int kKindAttached = 1;
constexpr int kKindDesktop = 2;
constexpr int kKindFullScreen = 3;
// A fixed-size window with title bar, close box and minimise box.
constexpr DWORD kDesktopStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
// The largest window side the platform makes (the same limit as on the other platform).
constexpr int kLargestWindowSide = 16384;
constexpr WPARAM kScreenSaver = 0xF140;
constexpr WPARAM kMonitorPower = 0xF170;
constexpr WPARAM kF4 = 115;

using SwapIntervalCall = BOOL(WINAPI*)(int);

GLContextRecord* context_list = nullptr;
GLContextRecord* current_record = nullptr;
GLContextRecord* mode_holder = nullptr;
bool class_registered = false;
// Window procedures under way; records closed meanwhile are freed when the last ends.
int record_holds = 0;
GLContextRecord* closed_while_held = nullptr;
std::string failure_reason;
// Set when a full-screen window was refused its display mode inside its window procedure,
// which an exception must not leave (it would cross the platform's own frames); the
// create step that showed the window raises the error instead.
bool display_mode_refused = false;

LRESULT CALLBACK GraphicsWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

void RegisterWindowClass() {
  if (class_registered) return;
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = GraphicsWindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  window_class.lpszClassName = kWindowClass;
  // Note: without the class no window can ever be made; the process ends as the platform
  // layer does on a fatal failure.
  if (!RegisterClassExW(&window_class)) ExitProgram(-1);
  class_registered = true;
}

std::string SizeText(int width, int height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

// Pixel format request: one bit per asked-for buffer so that the platform's nearest match
// decides the real sizes.
bool SetPixelFormatFor(HDC device_context, int flags) {
  PIXELFORMATDESCRIPTOR format{};
  format.nSize = sizeof format;
  format.nVersion = 1;
  format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL;
  // Note: the drawing must survive the swap; a copying swap keeps it where the driver
  // honours the hint.
  if (flags & GRAPHICS_BACKBUFFER) format.dwFlags |= PFD_DOUBLEBUFFER | PFD_SWAP_COPY;
  format.iPixelType = PFD_TYPE_RGBA;
  format.cColorBits = 1;
  format.cAlphaBits = (flags & GRAPHICS_ALPHABUFFER) ? 1 : 0;
  format.cAccumBits = (flags & GRAPHICS_ACCUMBUFFER) ? 1 : 0;
  format.cDepthBits = (flags & GRAPHICS_DEPTHBUFFER) ? 1 : 0;
  format.cStencilBits = (flags & GRAPHICS_STENCILBUFFER) ? 1 : 0;
  format.iLayerType = PFD_MAIN_PLANE;
  const int chosen = ChoosePixelFormat(device_context, &format);
  return chosen != 0 && SetPixelFormat(device_context, chosen, &format);
}

// The GL side of a record whose window and device context exist.
bool MakeRenderingContext(GLContextRecord* record) {
  if (!SetPixelFormatFor(record->device_context, record->flags)) {
    failure_reason = "no pixel format matches its buffers";
    return false;
  }
  record->rendering_context = wglCreateContext(record->device_context);
  if (!record->rendering_context) {
    failure_reason = "the GL context could not be made";
    return false;
  }
  return true;
}

void Unlink(GLContextRecord* record) {
  for (GLContextRecord** link = &context_list; *link; link = &(*link)->next) {
    if (*link == record) {
      *link = record->next;
      record->next = nullptr;
      return;
    }
  }
}

void GiveBackDisplayMode(GLContextRecord* record) {
  if (mode_holder != record) return;
  ChangeDisplaySettingsW(nullptr, CDS_FULLSCREEN);
  ShowWindow(record->window, SW_MINIMIZE);
  GLContextSetSwapInterval(0);
  mode_holder = nullptr;
}

// Full screen at the record's size, at its refresh rate when it names one, else any.
void SwitchDisplayMode(GLContextRecord* record) {
  DEVMODEW mode{};
  mode.dmSize = sizeof mode;
  mode.dmPelsWidth = static_cast<DWORD>(record->width);
  mode.dmPelsHeight = static_cast<DWORD>(record->height);
  mode.dmBitsPerPel = static_cast<DWORD>(record->depth);
  mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL;
  if (record->hertz != 0) {
    mode.dmDisplayFrequency = static_cast<DWORD>(record->hertz);
    mode.dmFields |= DM_DISPLAYFREQUENCY;
  }
  if (ChangeDisplaySettingsW(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL) {
    mode_holder = record;
    GLContextSetSwapInterval(record->hertz != 0 ? 1 : 0);
    return;
  }
  if (record->hertz != 0) {
    mode.dmFields &= ~DM_DISPLAYFREQUENCY;
    if (ChangeDisplaySettingsW(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL) {
      mode_holder = record;
      GLContextSetSwapInterval(0);
      return;
    }
  }
  if (!mode_holder) {
    display_mode_refused = true;
    return;
  }
  GLContextSetSwapInterval(record->hertz != 0 ? 1 : 0);
}

// The window handling after the translation, for a listed record.
LRESULT HandleMessage(GLContextRecord* record, HWND window, UINT message, WPARAM wparam,
                      LPARAM lparam) {
  switch (message) {
    case WM_DESTROY:
    case WM_KILLFOCUS:
      if (!record->closed) GiveBackDisplayMode(record);
      return 0;
    case WM_CLOSE:
      // The window stays open: the AppTerminate event is all a close request does.
      return 0;
    case WM_SETFOCUS:
      if (!record->closed && record->kind == kKindFullScreen && mode_holder != record) {
        SwitchDisplayMode(record);
      }
      return 0;
    case WM_PAINT:
      ValidateRect(window, nullptr);
      return 0;
    case WM_SYSKEYDOWN:
      // Alt+F4 closes through WM_CLOSE; other system keys do not open the window menu.
      if (wparam == kF4) return DefWindowProcW(window, message, wparam, lparam);
      return 0;
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) == kScreenSaver || (wparam & 0xFFF0) == kMonitorPower) return 1;
      return DefWindowProcW(window, message, wparam, lparam);
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

LRESULT CALLBACK GraphicsWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_GETMINMAXINFO) {
    // Note: a captioned window is kept at least as wide as its title bar's buttons (over
    // 100 pixels); a sheet may be narrower, and the client area must be the sheet's size.
    reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = POINT{1, 1};
    return 0;
  }
  GLContextRecord* record = GLContextForWindow(window);
  if (!record) return DefWindowProcW(window, message, wparam, lparam);
  // Note: a hook run by the translation may close the window; the record stays readable
  // until this message is handled.
  ++record_holds;
  struct Release {
    ~Release() {
      if (--record_holds > 0) return;
      while (GLContextRecord* closed = closed_while_held) {
        closed_while_held = closed->next;
        delete closed;
      }
    }
  } release;
  TranslateOSMessage(window, message, static_cast<uintptr_t>(wparam),
                     static_cast<intptr_t>(lparam), nullptr);
  if (record->closed) return DefWindowProcW(window, message, wparam, lparam);
  return HandleMessage(record, window, message, wparam, lparam);
}

// A software record with no window: the buffer is drawn and read back, never shown.
GLContextRecord* OffScreenRecord(int width, int height, int depth, int hertz, int flags) {
  auto* record = new GLContextRecord;
  record->kind = depth != 0 ? kKindFullScreen : kKindDesktop;
  record->width = width;
  record->height = height;
  record->depth = depth;
  record->hertz = hertz;
  record->flags = flags;
  record->software = 1;
  record->visible = 0;
  record->next = context_list;
  context_list = record;
  return record;
}

GLContextRecord* CreateWindowRecord(int width, int height, int depth, int hertz, int flags,
                                    bool software) {
  failure_reason.clear();
  if (width <= 0 || height <= 0) {
    failure_reason = "a window needs at least one pixel each way";
    return nullptr;
  }
  if (width > kLargestWindowSide || height > kLargestWindowSide) {
    failure_reason = "the graphics system refused that size (at most " +
                     SizeText(kLargestWindowSide, kLargestWindowSide) + ")";
    return nullptr;
  }
  if (!Win32CanShowWindows()) {
    if (software) return OffScreenRecord(width, height, depth, hertz, flags);
    failure_reason = "no display to make a GL window on";
    return nullptr;
  }
  RegisterWindowClass();
  const int kind = depth != 0 ? kKindFullScreen : kKindDesktop;
  const DWORD style = kind == kKindFullScreen ? WS_POPUP : kDesktopStyle;
  RECT rect{0, 0, width, height};
  if (kind == kKindDesktop) {
    RECT desktop{};
    GetWindowRect(GetDesktopWindow(), &desktop);
    rect.left = desktop.right / 2 - width / 2;
    rect.top = desktop.bottom / 2 - height / 2;
    rect.right = rect.left + width;
    rect.bottom = rect.top + height;
  }
  AdjustWindowRectEx(&rect, style, FALSE, 0);
  const String title = AppTitle();
  HWND window = CreateWindowExW(0, kWindowClass, reinterpret_cast<const wchar_t*>(title.c_str()),
                                style, rect.left, rect.top, rect.right - rect.left,
                                rect.bottom - rect.top, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  if (!window) {
    // Note: a session whose window station looked interactive may still make no window
    // (wine with no display): a software sheet is then drawn off-screen all the same.
    if (software) return OffScreenRecord(width, height, depth, hertz, flags);
    failure_reason = "the window could not be made";
    return nullptr;
  }
  auto* record = new GLContextRecord;
  record->kind = kind;
  record->depth = depth;
  record->hertz = hertz;
  record->flags = flags;
  record->window = window;
  record->software = software ? 1 : 0;
  record->visible = 1;
  RECT client{};
  GetClientRect(window, &client);
  record->width = client.right - client.left;
  record->height = client.bottom - client.top;
  record->device_context = GetDC(window);
  if (!software && !MakeRenderingContext(record)) {
    DestroyWindow(window);
    delete record;
    return nullptr;
  }
  record->next = context_list;
  context_list = record;
  // Showing activates the window: its activation (and, full screen, the display-mode
  // switch) is handled inside this step, with the record already listed.
  display_mode_refused = false;
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  if (display_mode_refused) {
    // Note: the refused window is closed before the error leaves, instead of staying
    // behind as an orphan that nothing can reach.
    display_mode_refused = false;
    GLContextClose(record);
    throw TRuntimeError(kDisplayModeError);
  }
  SystemPoll();
  return record;
}

GLContextRecord* AttachWindowRecord(int widget, int flags, bool software) {
  failure_reason = "no window to attach to";
  HWND window = reinterpret_cast<HWND>(static_cast<intptr_t>(widget));
  if (!window || !IsWindow(window)) return nullptr;
  failure_reason.clear();
  auto* record = new GLContextRecord;
  record->kind = kKindAttached;
  record->flags = flags;
  record->window = window;
  record->software = software ? 1 : 0;
  record->visible = 1;
  record->device_context = GetDC(window);
  if (!record->device_context) {
    failure_reason = "the window has no device context";
    delete record;
    return nullptr;
  }
  if (!software && !MakeRenderingContext(record)) {
    ReleaseDC(window, record->device_context);
    delete record;
    return nullptr;
  }
  RECT client{};
  GetClientRect(window, &client);
  record->width = client.right - client.left;
  record->height = client.bottom - client.top;
  record->next = context_list;
  context_list = record;
  return record;
}

}  // namespace

bool Win32CanShowWindows() {
  // A service's window station is not visible: its windows would be seen by nobody.
  HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS station_flags{};
  if (station && GetUserObjectInformationW(station, UOI_FLAGS, &station_flags,
                                           sizeof station_flags, nullptr) &&
      !(station_flags.dwFlags & WSF_VISIBLE)) {
    return false;
  }
  return GetDesktopWindow() != nullptr;
}

GLContextRecord* GLContextCreate(int width, int height, int depth, int hertz, int flags) {
  return CreateWindowRecord(width, height, depth, hertz, flags, false);
}

GLContextRecord* GLContextCreateSoftware(int width, int height, int depth, int hertz,
                                         int flags) {
  return CreateWindowRecord(width, height, depth, hertz, flags, true);
}

bool GLContextShowPixels(GLContextRecord* record, const uint8_t* rgba, int pitch, int x,
                         int y, int width, int height) {
  if (!record || !record->software || !record->window) return false;
  x = std::max(x, 0);
  y = std::max(y, 0);
  return GDIShowPixels(record->device_context, rgba, pitch, x, y, width, height);
}

GLContextRecord* GLContextAttach(int widget, int flags) {
  return AttachWindowRecord(widget, flags, false);
}

GLContextRecord* GLContextAttachSoftware(int widget, int flags) {
  return AttachWindowRecord(widget, flags, true);
}

void GLContextSettings(GLContextRecord* record, int& width, int& height, int& depth,
                       int& hertz, int& flags) {
  if (record->kind == kKindAttached && record->window) {
    RECT client{};
    if (GetClientRect(record->window, &client)) {
      record->width = client.right - client.left;
      record->height = client.bottom - client.top;
    }
  }
  width = record->width;
  height = record->height;
  depth = record->depth;
  hertz = record->hertz;
  flags = record->flags;
}

void GLContextSize(const GLContextRecord* record, int& width, int& height) {
  width = record->width;
  height = record->height;
}

int GLContextVisible(const GLContextRecord* record) { return record->visible; }

void GLContextMakeCurrent(GLContextRecord* record) {
  if (record == current_record) return;
  if (!record || record->software) {
    // Note: a software window has no GL context; none is current while it is.
    if (current_record && !current_record->software) wglMakeCurrent(nullptr, nullptr);
    current_record = record;
    return;
  }
  if (!wglMakeCurrent(record->device_context, record->rendering_context)) return;
  current_record = record;
}

void GLContextClose(GLContextRecord* record) {
  if (!record) return;
  Unlink(record);
  if (current_record == record) GLContextMakeCurrent(nullptr);
  if (mode_holder == record) GiveBackDisplayMode(record);
  if (record->rendering_context) wglDeleteContext(record->rendering_context);
  record->rendering_context = nullptr;
  if (record->window) {
    if (record->kind == kKindAttached) {
      ReleaseDC(record->window, record->device_context);
    } else {
      DestroyWindow(record->window);
    }
  }
  record->window = nullptr;
  record->device_context = nullptr;
  if (record_holds > 0) {
    record->closed = true;
    record->next = closed_while_held;
    closed_while_held = record;
  } else {
    delete record;
  }
}

void GLContextSetSwapInterval(int interval) {
  // Looked up on every call: the entry point belongs to the context current now.
  auto call = reinterpret_cast<SwapIntervalCall>(
      reinterpret_cast<void*>(wglGetProcAddress("wglSwapIntervalEXT")));
  if (call) call(interval);
}

void GLContextSwap(int sync) {
  GLContextRecord* record = current_record;
  if (!record || record->software || !record->device_context) return;
  GLContextSetSwapInterval(sync ? 1 : 0);
  SwapBuffers(record->device_context);
}

int GLContextEnumModes(int* table, int capacity) {
  int count = 0;
  DEVMODEW mode{};
  mode.dmSize = sizeof mode;
  for (DWORD number = 0; count < capacity && EnumDisplaySettingsW(nullptr, number, &mode);
       ++number) {
    if (mode.dmBitsPerPel < 16) continue;
    table[count * 4 + 0] = static_cast<int>(mode.dmPelsWidth);
    table[count * 4 + 1] = static_cast<int>(mode.dmPelsHeight);
    table[count * 4 + 2] = static_cast<int>(mode.dmBitsPerPel);
    table[count * 4 + 3] = static_cast<int>(mode.dmDisplayFrequency);
    ++count;
  }
  return count;
}

GLContextRecord* GLContextCurrent() { return current_record; }

const std::string& GLContextFailure() { return failure_reason; }

GLContextRecord* GLContextForWindow(HWND window) {
  if (!window) return nullptr;
  for (GLContextRecord* record = context_list; record; record = record->next) {
    if (record->window == window) return record;
  }
  return nullptr;
}
