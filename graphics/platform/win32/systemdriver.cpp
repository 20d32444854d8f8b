// System driver on Win32: the system module makes this driver at start-up; it raises the
// timer resolution to 1 ms, pumps the thread's message queue, turns the messages of
// graphics windows into TEvents (TranslateOSMessage, called by the window procedure in
// glcontext.cpp) and shows message boxes, requesters and the shell's open action.
// State: the modifier mask, the pointer wish, the tracked window and the last pump time.
#include "graphics/platform/win32/systemdriver.h"

#include <windows.h>
#include <commdlg.h>   // for GetOpenFileNameW, GetSaveFileNameW
#include <mmsystem.h>  // for timeBeginPeriod, timeGetTime
#include <shellapi.h>  // for ShellExecuteW
#include <shlobj.h>    // for SHBrowseForFolderW
// Note: windows.h names its event call CreateEvent too; ours is the one meant here.
#undef CreateEvent

#include <ctime>
#include <string>

#include "graphics/platform/win32/glcontext.h"
#include "runtime/runtime.h"

namespace {

constexpr UINT kTimerResolutionMs = 1;
// One wheel notch in the units of WM_MOUSEWHEEL.
constexpr int kWheelNotch = 120;
// Message filter of MsgWaitForMultipleObjectsEx: any input or message.
constexpr DWORD kAnyMessage = QS_ALLINPUT;
// The last stretch of a sleep is waited out on the clock: a Sleep of n ms at 1 ms
// resolution ends between n and n + 1 ms later.
constexpr long long kSpinNanoseconds = 1500000;

bool running = false;
int modifier_mask = 0;
int pointer_visible = 1;
HWND tracked_window = nullptr;
Ref<Object> tracked_source;
// The tick count at the last pass over the queue; see TWin32SystemDriver::Poll.
ULONGLONG last_pump = 0;
bool pumped_once = false;

LARGE_INTEGER CounterFrequency() {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  return frequency;
}

const wchar_t* Wide(const String& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

String FromWide(const wchar_t* text) {
  return text ? String(reinterpret_cast<const char16_t*>(text)) : String();
}

void Emit(int id, const Ref<Object>& source, int data, int mods, int x, int y) {
  EmitEvent(CreateEvent(id, source, data, mods, x, y, nullptr));
}

int LowSigned(intptr_t value) { return static_cast<short>(value & 0xFFFF); }
int HighSigned(intptr_t value) { return static_cast<short>((value >> 16) & 0xFFFF); }

// Pointer rule: shown unless the program hides it and it is inside a tracked window; the
// display counter always rests at 0 (shown) or -1 (hidden).
void ApplyPointerRule() {
  const BOOL shown = pointer_visible || tracked_window == nullptr;
  int counter = ShowCursor(shown);
  while (counter > 0) counter = ShowCursor(FALSE);
  while (counter < -1) counter = ShowCursor(TRUE);
}

void ClientSize(HWND window, int& width, int& height) {
  RECT client{};
  GetClientRect(window, &client);
  width = client.right - client.left;
  height = client.bottom - client.top;
}

// Moves the tracked window to `window` (null for none), emitting leave and enter.
void TrackPointer(HWND window, int x, int y, const Ref<Object>& source) {
  if (window == tracked_window) return;
  if (tracked_window) {
    POINT position{};
    GetCursorPos(&position);
    ScreenToClient(tracked_window, &position);
    Ref<Object> old_source = tracked_source;
    tracked_window = nullptr;
    tracked_source = nullptr;
    Emit(EVENT_MOUSELEAVE, old_source, 0, 0, position.x, position.y);
  }
  tracked_window = window;
  tracked_source = window ? source : nullptr;
  ApplyPointerRule();
  if (!window) return;
  Emit(EVENT_MOUSEENTER, source, 0, 0, x, y);
  TRACKMOUSEEVENT track{};
  track.cbSize = sizeof track;
  track.dwFlags = TME_LEAVE;
  track.hwndTrack = window;
  TrackMouseEvent(&track);
}

// Key code of a key message: wParam, except that the scan code names the side of the six
// modifier keys.
int KeyCode(uintptr_t wparam, intptr_t lparam) {
  const int scan = static_cast<int>((lparam >> 16) & 0x7F) | ((lparam & (1 << 24)) ? 0x80 : 0);
  switch (scan) {
    case 42: return VK_LSHIFT;
    case 54: return VK_RSHIFT;
    case 29: return VK_LCONTROL;
    case 157: return VK_RCONTROL;
    case 56: return VK_LMENU;
    case 184: return VK_RMENU;
    default: return static_cast<int>(wparam);
  }
}

bool BelongsToOtherProcess(HWND other) {
  if (!other) return true;
  DWORD process = 0;
  GetWindowThreadProcessId(other, &process);
  return process != GetCurrentProcessId();
}

int ModifierMaskFromKeyState() {
  auto down = [](int key) { return (GetKeyState(key) & 0x8000) != 0; };
  int mask = 0;
  if (down(VK_SHIFT)) mask |= MODIFIER_SHIFT;
  if (down(VK_CONTROL)) mask |= MODIFIER_CONTROL;
  if (down(VK_MENU)) mask |= MODIFIER_ALT;
  if (down(VK_LWIN) || down(VK_RWIN)) mask |= MODIFIER_SYSTEM;
  return mask;
}

// Removes and dispatches every pending message of the thread.
void PumpMessages() {
  MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    switch (message.message) {
      case WM_KEYDOWN: case WM_KEYUP: case WM_SYSKEYDOWN: case WM_SYSKEYUP:
        switch (message.wParam) {
          case VK_SHIFT: case VK_CONTROL: case VK_MENU: case VK_LWIN: case VK_RWIN:
            modifier_mask = ModifierMaskFromKeyState();
            break;
          default:
            break;
        }
        break;
      default:
        break;
    }
    // A tab-stop control in a dialog-like parent gets the dialog's keyboard handling.
    if (message.hwnd) {
      const LONG_PTR style = GetWindowLongPtrW(message.hwnd, GWL_STYLE);
      if ((style & WS_CHILD) && (style & WS_TABSTOP)) {
        HWND parent = message.hwnd;
        while (parent && (GetWindowLongPtrW(parent, GWL_STYLE) & (WS_CHILD | WS_TABSTOP)) ==
                             (WS_CHILD | WS_TABSTOP)) {
          parent = GetParent(parent);
        }
        if (parent && IsDialogMessageW(parent, &message)) continue;
      }
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// A message box with the application title, owned by the active window; the window that
// had the keyboard focus gets it back.
int ShowBox(const String& text, int serious, UINT buttons) {
  HWND focus = GetFocus();
  const String title = AppTitle();
  const UINT icon = serious ? MB_ICONWARNING : MB_ICONINFORMATION;
  const int pressed = MessageBoxW(GetActiveWindow(), Wide(text), Wide(title),
                                  buttons | icon | MB_TOPMOST);
  if (focus) SetFocus(focus);
  return pressed;
}

// "png,jpg" as a common-dialog filter: "png, jpg\0*.png;*.jpg\0All files\0*.*\0\0".
std::wstring DialogFilter(const String& extensions) {
  std::wstring patterns;
  std::wstring names;
  std::wstring current;
  auto flush = [&] {
    if (current.empty()) return;
    if (!patterns.empty()) {
      patterns += L';';
      names += L", ";
    }
    patterns += L"*." + current;
    names += current;
    current.clear();
  };
  for (char16_t unit : extensions) {
    if (unit == u',' || unit == u';' || unit == u' ' || unit == u'|') {
      flush();
    } else if (unit != u'*' && unit != u'.') {
      current += static_cast<wchar_t>(unit);
    }
  }
  flush();
  std::wstring filter;
  if (!patterns.empty()) {
    filter += names;
    filter += L'\0';
    filter += patterns;
    filter += L'\0';
  }
  filter += L"All files";
  filter += L'\0';
  filter += L"*.*";
  filter += L'\0';
  filter += L'\0';
  return filter;
}

}  // namespace

int Win32ModifierMask() { return modifier_mask; }
void SetWin32ModifierMask(int mask) { modifier_mask = mask; }

void TranslateOSMessage(HWND window, unsigned message, uintptr_t wparam, intptr_t lparam,
                        const Ref<Object>& source) {
  switch (message) {
    case WM_ACTIVATE: {
      const bool activating = LOWORD(wparam) != WA_INACTIVE;
      // Note: activating a minimised window emits nothing.
      if (activating && HIWORD(wparam) != 0) break;
      if (!BelongsToOtherProcess(reinterpret_cast<HWND>(lparam))) break;
      Emit(activating ? EVENT_APPRESUME : EVENT_APPSUSPEND, source, 0, 0, 0, 0);
      break;
    }
    case WM_CLOSE:
      Emit(EVENT_APPTERMINATE, source, 0, 0, 0, 0);
      break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (wparam < 1 || wparam > 255) break;
      Emit((lparam & (1 << 30)) ? EVENT_KEYREPEAT : EVENT_KEYDOWN, source,
           KeyCode(wparam, lparam), modifier_mask, 0, 0);
      break;
    case WM_KEYUP:
    case WM_SYSKEYUP:
      if (wparam < 1 || wparam > 255) break;
      Emit(EVENT_KEYUP, source, KeyCode(wparam, lparam), modifier_mask, 0, 0);
      break;
    case WM_CHAR:
    case WM_SYSCHAR:
      Emit(EVENT_KEYCHAR, source, static_cast<int>(wparam), modifier_mask, 0, 0);
      break;
    case WM_MOUSEMOVE: {
      const int x = LowSigned(lparam), y = HighSigned(lparam);
      int width = 0, height = 0;
      if (window) ClientSize(window, width, height);
      const bool inside = window && x >= 0 && x < width && y >= 0 && y < height;
      TrackPointer(inside ? window : nullptr, x, y, source);
      const int buttons = (wparam & MK_RBUTTON) ? 2 : (wparam & MK_MBUTTON) ? 4
                          : (wparam & MK_LBUTTON) ? 1 : 0;
      Emit(EVENT_MOUSEMOVE, source, buttons, modifier_mask, x, y);
      break;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
      const int number = message == WM_LBUTTONDOWN ? 1 : message == WM_RBUTTONDOWN ? 2 : 3;
      if (window) SetCapture(window);
      Emit(EVENT_MOUSEDOWN, source, number, modifier_mask, LowSigned(lparam),
           HighSigned(lparam));
      break;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
      const int number = message == WM_LBUTTONUP ? 1 : message == WM_RBUTTONUP ? 2 : 3;
      ReleaseCapture();
      Emit(EVENT_MOUSEUP, source, number, modifier_mask, LowSigned(lparam),
           HighSigned(lparam));
      break;
    }
    case WM_MOUSEWHEEL: {
      // Note: a partial notch of a fine-grained wheel truncates to 0.
      const int notches = HighSigned(static_cast<intptr_t>(wparam)) / kWheelNotch;
      POINT position{LowSigned(lparam), HighSigned(lparam)};
      if (window) ScreenToClient(window, &position);
      Emit(EVENT_MOUSEWHEEL, source, notches, modifier_mask, position.x, position.y);
      break;
    }
    case WM_MOUSELEAVE:
      if (window && window == tracked_window) TrackPointer(nullptr, 0, 0, nullptr);
      break;
    default:
      break;
  }
}

TWin32SystemDriver::TWin32SystemDriver() {
  pointer_visible = 1;
  running = true;
  // Sleeps and the millisecond clock to 1 ms, released after the graphics module closed
  // its window at exit.
  timeBeginPeriod(kTimerResolutionMs);
  AddExitAction([] {
    if (!running) return;
    running = false;
    timeEndPeriod(kTimerResolutionMs);
  });
}

// Passes over the queue at most once per tick of the system's tick count: an empty
// PeekMessageW is a trip into the window system (a server call under wine), and the sheet
// asks for Escape after every ring of every step, over a million times a sheet. Note:
// measured under wine, polling every time made a sheet take 14 s instead of 0.6 s.
// The tick count is read from memory the system keeps current, about 2 ns a read; a
// millisecond clock (timeGetTime) costs about 90 ns a read under wine, which made the
// clock alone a third of the main thread's time on a large sheet. The tick is about 16 ms,
// a frame: a key waits at most that long for the pass that sees it.
void TWin32SystemDriver::Poll() {
  const ULONGLONG now = GetTickCount64();
  if (pumped_once && now == last_pump) return;
  pumped_once = true;
  last_pump = now;
  PumpMessages();
}

void TWin32SystemDriver::Wait() {
  MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, kAnyMessage, MWMO_INPUTAVAILABLE);
  PumpMessages();
  last_pump = GetTickCount64();
}

void TWin32SystemDriver::MoveMouse(int x, int y) {
  POINT position{x, y};
  if (HWND active = GetActiveWindow()) ClientToScreen(active, &position);
  SetCursorPos(position.x, position.y);
}

void TWin32SystemDriver::SetMouseVisible(int visible) {
  pointer_visible = visible ? 1 : 0;
  ApplyPointerRule();
}

void TWin32SystemDriver::Notify(const String& text, int serious) {
  ShowBox(text, serious, MB_OK);
}

int TWin32SystemDriver::Confirm(const String& text, int serious) {
  return ShowBox(text, serious, MB_OKCANCEL) == IDOK ? 1 : 0;
}

int TWin32SystemDriver::Proceed(const String& text, int serious) {
  switch (ShowBox(text, serious, MB_YESNOCANCEL)) {
    case IDYES: return 1;
    case IDNO: return 0;
    default: return -1;
  }
}

String TWin32SystemDriver::RequestFile(const String& text, const String& extensions, int save,
                                       const String& path) {
  std::wstring filter = DialogFilter(extensions);
  wchar_t chosen[MAX_PATH * 4] = L"";
  String folder;
  const size_t slash = path.find_last_of(u"\\/");
  if (slash != String::npos) {
    folder = path.substr(0, slash);
    String name = path.substr(slash + 1);
    name.copy(reinterpret_cast<char16_t*>(chosen), std::min<size_t>(name.size(), MAX_PATH - 1));
  } else {
    path.copy(reinterpret_cast<char16_t*>(chosen), std::min<size_t>(path.size(), MAX_PATH - 1));
  }
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = GetActiveWindow();
  dialog.lpstrFilter = filter.c_str();
  dialog.lpstrFile = chosen;
  dialog.nMaxFile = static_cast<DWORD>(std::size(chosen));
  dialog.lpstrInitialDir = folder.empty() ? nullptr : Wide(folder);
  dialog.lpstrTitle = text.empty() ? nullptr : Wide(text);
  dialog.Flags = OFN_NOCHANGEDIR | OFN_EXPLORER |
                 (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
  const BOOL ok = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
  return ok ? FromWide(chosen) : String();
}

namespace {

// Starts the folder dialog in the given folder.
int CALLBACK StartFolder(HWND dialog, UINT message, LPARAM, LPARAM start) {
  if (message == BFFM_INITIALIZED && start) {
    SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, start);
  }
  return 0;
}

}  // namespace

String TWin32SystemDriver::RequestDir(const String& text, const String& path) {
  BROWSEINFOW browse{};
  browse.hwndOwner = GetActiveWindow();
  browse.lpszTitle = Wide(text);
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  browse.lpfn = StartFolder;
  browse.lParam = path.empty() ? 0 : reinterpret_cast<LPARAM>(Wide(path));
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  String chosen;
  if (PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&browse)) {
    wchar_t folder[MAX_PATH] = L"";
    if (SHGetPathFromIDListW(list, folder)) chosen = FromWide(folder);
    CoTaskMemFree(list);
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return chosen;
}

int TWin32SystemDriver::OpenURL(const String& url) {
  const HINSTANCE result =
      ShellExecuteW(nullptr, L"open", Wide(url), nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(result) > 32 ? 1 : 0;
}

Ref<TSystemDriver> CreatePlatformSystemDriver() {
  return std::make_shared<TWin32SystemDriver>();
}

bool PlatformRunning() { return running; }

int PlatformMillisecondClock() { return static_cast<int>(timeGetTime()); }

long long PlatformNanoseconds() {
  static const LARGE_INTEGER frequency = CounterFrequency();
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  // Whole seconds and the rest apart, so the product cannot overflow.
  const long long seconds = now.QuadPart / frequency.QuadPart;
  const long long rest = now.QuadPart % frequency.QuadPart;
  return seconds * 1000000000LL + rest * 1000000000LL / frequency.QuadPart;
}

void PlatformSleepUntil(long long deadline) {
  const long long left = deadline - PlatformNanoseconds() - kSpinNanoseconds;
  if (left > 0) Sleep(static_cast<DWORD>(left / 1000000));
  while (PlatformNanoseconds() < deadline) {
    // The rest on the clock, giving the processor to any thread that wants it.
    SwitchToThread();
  }
}

void PlatformYield() { Sleep(0); }

void PlatformLowerThreadPriority() {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

std::tm PlatformLocalTime(std::time_t now) {
  std::tm local{};
  localtime_s(&local, &now);
  return local;
}
