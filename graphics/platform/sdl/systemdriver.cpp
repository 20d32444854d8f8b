// System driver on SDL2: SDL plays the native window system's role on this platform. The
// system module makes this driver at start-up; it pumps SDL's event queue, turns the
// events of graphics windows into TEvents, and shows message boxes through SDL.
// State: the modifier mask, the pointer wish, the tracked window and the video mode.
#include "graphics/platform/sdl/systemdriver.h"

#include <sched.h>  // for sched_yield

#include <SDL.h>
#if defined(__linux__)
#include <sys/prctl.h>     // for the timer slack
#include <sys/resource.h>  // for getpriority, setpriority
#include <sys/syscall.h>   // for SYS_gettid
#endif
#if defined(SDL_VIDEO_DRIVER_X11)
#include <X11/Xlib.h>  // for the handlers that end the run in one line when X fails
#endif
#include <unistd.h>  // for write, _exit

#include <algorithm>  // for std::min
#include <atomic>
#include <cstdlib>  // for getenv, setenv
#include <cerrno>
#include <ctime>    // for clock_gettime, localtime_r
#include <string>

#include "graphics/platform/sdl/glcontext.h"
#include "runtime/runtime.h"
#include "runtime/text.h"

namespace {

// Timer slack of the process while the system driver runs (see its constructor).
constexpr unsigned long kTimerSlackNanoseconds = 1000;
// How many nice steps LowerThreadPriority puts a helper thread below the process.
constexpr int kHelperNiceStep = 5;
// X11 takes the class part of WM_CLASS from this variable when video starts.
constexpr char kWindowClass[] = "Corvane GLGraphics";
constexpr int kNoKey = 0;
// A sleep wakes some tens of microseconds after it asked to (the scheduler's latency, on
// top of the timer slack); the last stretch of a sleep is waited out on the clock instead,
// so that the program's 2 ms pauses take 2 ms and not 5 % more. The cost is at most this
// much busy waiting per sleep.
constexpr long long kSpinNanoseconds = 60000;

// Video: 0 not started, 1 on a display, 2 off-screen, -1 unavailable.
int video_state = 0;
int modifier_mask = 0;
int pointer_visible = 1;
unsigned tracked_window = 0;  // SDL window id, 0 for none
Ref<Object> tracked_source;
// True while one of our windows has the keyboard focus, so that focus moving between two
// of our windows is neither a suspend nor a resume.
bool app_active = false;
bool sdl_running = false;
// The pump tick at the last native pump; see TSDLSystemDriver::Poll.
long long last_pump = 0;
bool pumped_once = false;

// The longest tick of the kernel's coarse clock that may limit the native pumps: a key
// waits up to one tick for the pump that sees it.
constexpr long kLongestPumpTickNanoseconds = 10000000;

// A number that changes at most once a millisecond, and at least once every 10: the
// native pump runs once per change. An empty poll in a tight query loop (the sheet asks
// for Escape after every ring of every step, 1.6 million times a sheet) is mostly this
// read, so it reads the kernel's coarse clock, a few nanoseconds where the precise one
// costs about 30 on a virtual machine. Its tick is the kernel's timer period (4 ms at
// 250 Hz); a kernel whose coarse tick is longer gets the precise clock in milliseconds.
long long PumpTick() {
  static const bool coarse = [] {
    timespec resolution{};
    return clock_getres(CLOCK_MONOTONIC_COARSE, &resolution) == 0 &&
           resolution.tv_sec == 0 && resolution.tv_nsec <= kLongestPumpTickNanoseconds;
  }();
  timespec now{};
  clock_gettime(coarse ? CLOCK_MONOTONIC_COARSE : CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Set (from any thread) whenever SDL queues an event; see TSDLSystemDriver::Poll.
std::atomic<bool> events_queued{true};

int NoteQueuedEvent(void*, SDL_Event*) {
  events_queued.store(true, std::memory_order_release);
  return 1;
}

void Emit(int id, const Ref<Object>& source, int data, int mods, int x, int y) {
  EmitEvent(CreateEvent(id, source, data, mods, x, y, nullptr));
}

// Whether an SDL video driver puts windows on a display someone can see.
bool ShowsWindows(const char* driver) {
  if (!driver) return false;
  const std::string name = driver;
  return name == "x11" || name == "wayland";
}

bool OneOfOurWindows(SDL_Window* window) {
  return window && GLContextForWindowId(SDL_GetWindowID(window)) != nullptr;
}

// Pointer rule: shown unless the program hides it and it is inside a tracked window.
void ApplyPointerRule() {
  if (video_state <= 0) return;
  bool shown = pointer_visible || tracked_window == 0;
  SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE);
}

void PointerPosition(unsigned window_id, int& x, int& y) {
  x = 0;
  y = 0;
  SDL_Window* window = SDL_GetWindowFromID(window_id);
  if (!window) return;
  int global_x = 0, global_y = 0, left = 0, top = 0;
  SDL_GetGlobalMouseState(&global_x, &global_y);
  SDL_GetWindowPosition(window, &left, &top);
  x = global_x - left;
  y = global_y - top;
}

// Moves the tracked window to `window_id` (0 for none), emitting leave and enter.
void TrackPointer(unsigned window_id, int x, int y, const Ref<Object>& source) {
  if (window_id == tracked_window) return;
  if (tracked_window != 0) {
    int old_x = 0, old_y = 0;
    PointerPosition(tracked_window, old_x, old_y);
    Ref<Object> old_source = tracked_source;
    tracked_window = 0;
    tracked_source = nullptr;
    Emit(EVENT_MOUSELEAVE, old_source, 0, 0, old_x, old_y);
  }
  tracked_window = window_id;
  tracked_source = window_id ? source : nullptr;
  ApplyPointerRule();
  if (window_id != 0) Emit(EVENT_MOUSEENTER, source, 0, 0, x, y);
}

bool InsideClient(unsigned window_id, int x, int y) {
  SDL_Window* window = SDL_GetWindowFromID(window_id);
  if (!window) return false;
  int width = 0, height = 0;
  SDL_GetWindowSize(window, &width, &height);
  return x >= 0 && x < width && y >= 0 && y < height;
}

// Mouse buttons as the system numbers them: 1 left, 2 right, 3 middle.
int ButtonNumber(Uint8 sdl_button) {
  switch (sdl_button) {
    case SDL_BUTTON_LEFT: return 1;
    case SDL_BUTTON_RIGHT: return 2;
    case SDL_BUTTON_MIDDLE: return 3;
    default: return 0;
  }
}

int MoveButtonData(Uint32 state) {
  if (state & SDL_BUTTON_RMASK) return 2;
  if (state & SDL_BUTTON_MMASK) return 4;
  if (state & SDL_BUTTON_LMASK) return 1;
  return 0;
}

bool IsModifierKey(SDL_Scancode scancode) {
  return scancode >= SDL_SCANCODE_LCTRL && scancode <= SDL_SCANCODE_RGUI;
}

// Keys that also type a control character where the native system sends one with the
// key press (Backspace, Tab, Return, Escape, and Control with a letter); SDL's text events
// never carry control characters. Control with Alt is AltGr: SDL types its character.
int ControlCharacterFor(int virtual_key, int mods) {
  bool control = (mods & MODIFIER_CONTROL) && !(mods & MODIFIER_ALT);
  if (control) {
    if (virtual_key >= 'A' && virtual_key <= 'Z') return virtual_key - 'A' + 1;
    if (virtual_key == 13) return 10;  // Control+Return types a line feed
    if (virtual_key == 8) return 127;  // Control+Backspace types DEL
  }
  switch (virtual_key) {
    case 8: case 9: case 13: case 27: return virtual_key;
    default: return 0;
  }
}

void TranslateKey(const SDL_KeyboardEvent& key, const Ref<Object>& source) {
  int code = VirtualKeyForSDLKey(key.keysym.scancode, key.keysym.sym);
  if (code < 1 || code > 255) return;
  // Note: the mask follows the modifier keys themselves, as the system reads it when a
  // modifier goes down or up; SDL's mod field already includes this event's change.
  if (IsModifierKey(key.keysym.scancode)) modifier_mask = ModifierMaskFromSDL(key.keysym.mod);
  if (key.type == SDL_KEYUP) {
    Emit(EVENT_KEYUP, source, code, modifier_mask, 0, 0);
    return;
  }
  Emit(key.repeat ? EVENT_KEYREPEAT : EVENT_KEYDOWN, source, code, modifier_mask, 0, 0);
  if (int character = ControlCharacterFor(code, modifier_mask)) {
    Emit(EVENT_KEYCHAR, source, character, modifier_mask, 0, 0);
  }
}

void TranslateWindowEvent(const SDL_WindowEvent& window, const Ref<Object>& source) {
  switch (window.event) {
    case SDL_WINDOWEVENT_CLOSE:
      Emit(EVENT_APPTERMINATE, source, 0, 0, 0, 0);
      break;
    case SDL_WINDOWEVENT_FOCUS_GAINED: {
      SDL_Window* native = SDL_GetWindowFromID(window.windowID);
      // Note: activating a minimised window emits nothing.
      if (native && (SDL_GetWindowFlags(native) & SDL_WINDOW_MINIMIZED)) break;
      if (!app_active) {
        app_active = true;
        Emit(EVENT_APPRESUME, source, 0, 0, 0, 0);
      }
      break;
    }
    case SDL_WINDOWEVENT_FOCUS_LOST:
      // Focus handed to another of our windows is not a switch to another program.
      if (app_active && !OneOfOurWindows(SDL_GetKeyboardFocus())) {
        app_active = false;
        Emit(EVENT_APPSUSPEND, source, 0, 0, 0, 0);
      }
      break;
    case SDL_WINDOWEVENT_LEAVE:
      if (tracked_window == window.windowID) TrackPointer(0, 0, 0, nullptr);
      break;
    default:
      break;
  }
}

// The window an event belongs to, 0 for events without one.
unsigned EventWindowId(const SDL_Event& event) {
  switch (event.type) {
    case SDL_WINDOWEVENT: return event.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP: return event.key.windowID;
    case SDL_TEXTINPUT: return event.text.windowID;
    case SDL_MOUSEMOTION: return event.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return event.button.windowID;
    case SDL_MOUSEWHEEL: return event.wheel.windowID;
    default: return 0;
  }
}

// The window procedure's part: every event of a listed graphics window is translated
// (with a null source), then the window gets its own handling.
void Dispatch(const SDL_Event& event) {
  if (event.type == SDL_QUIT) {
    // A quit request without a window (session end): the same close request.
    Emit(EVENT_APPTERMINATE, nullptr, 0, 0, 0, 0);
    return;
  }
  GLContextRecord* record = GLContextForWindowId(EventWindowId(event));
  if (!record) return;
  // Note: a hook run by the translation may close the window (on AppSuspend, say); the
  // record stays readable until the window's own handling is done.
  struct Hold {
    Hold() { GLContextHoldRecords(); }
    ~Hold() { GLContextReleaseRecords(); }
  } hold;
  TranslateSDLEvent(event, nullptr);
  GLWindowEvent(record, event);
}

// Ends the run with one line and status 1 when the display fails under us (another program
// destroyed the window, or the X server went away): the program cannot go on without its
// window. Note: only async-signal-safe calls, since it may run inside Xlib; no exit
// actions, which would talk to the broken display again.
[[noreturn]] void EndForLostDisplay(const std::string& what) {
  const std::string line = what + "; the program ends\n";
  const ssize_t ignored = write(2, line.data(), line.size());
  static_cast<void>(ignored);
  _exit(1);
}

#if defined(SDL_VIDEO_DRIVER_X11)
// Replaces Xlib's report of five lines and its exit.
int EndOnXError(Display* display, XErrorEvent* error) {
  char name[160] = "";
  XGetErrorText(display, error->error_code, name, sizeof(name));
  EndForLostDisplay(std::string("The window was lost (X error: ") + name + ")");
}

int EndOnXConnectionError(Display*) {
  EndForLostDisplay("The connection to the display was lost");
}
#endif

int ShowBox(const String& text, int serious, const SDL_MessageBoxButtonData* buttons,
            int count, int fallback) {
  std::string title = TextToUtf8(AppTitle());
  std::string message = TextToUtf8(text);
  SDL_MessageBoxData box{};
  box.flags = serious ? SDL_MESSAGEBOX_WARNING : SDL_MESSAGEBOX_INFORMATION;
  box.window = SDL_GetKeyboardFocus();
  box.title = title.c_str();
  box.message = message.c_str();
  box.numbuttons = count;
  box.buttons = buttons;
  int pressed = fallback;
  if (SDL_ShowMessageBox(&box, &pressed) != 0) return fallback;
  return pressed;
}

}  // namespace

int ModifierMaskFromSDL(int sdl_mods) {
  int mask = 0;
  if (sdl_mods & KMOD_SHIFT) mask |= MODIFIER_SHIFT;
  if (sdl_mods & KMOD_CTRL) mask |= MODIFIER_CONTROL;
  if (sdl_mods & KMOD_ALT) mask |= MODIFIER_ALT;
  if (sdl_mods & KMOD_GUI) mask |= MODIFIER_SYSTEM;
  return mask;
}

// Mapping choice: letters follow the keycode (the layout's letter, as the native codes
// do), falling back to the physical key; every other key follows the scancode, so digits,
// punctuation and keypad keys name the physical key of a US layout. The keypad always
// reports its digit codes (96-105), whatever the NumLock state.
int VirtualKeyForSDLKey(int scancode, int keycode) {
  if (keycode >= SDLK_a && keycode <= SDLK_z) return 65 + (keycode - SDLK_a);
  if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z) {
    return 65 + (scancode - SDL_SCANCODE_A);
  }
  if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9) {
    return 49 + (scancode - SDL_SCANCODE_1);
  }
  if (scancode >= SDL_SCANCODE_F1 && scancode <= SDL_SCANCODE_F12) {
    return 112 + (scancode - SDL_SCANCODE_F1);
  }
  if (scancode >= SDL_SCANCODE_F13 && scancode <= SDL_SCANCODE_F24) {
    return 124 + (scancode - SDL_SCANCODE_F13);
  }
  if (scancode >= SDL_SCANCODE_KP_1 && scancode <= SDL_SCANCODE_KP_9) {
    return 97 + (scancode - SDL_SCANCODE_KP_1);
  }
  switch (scancode) {
    case SDL_SCANCODE_0: return 48;
    case SDL_SCANCODE_RETURN: return 13;
    case SDL_SCANCODE_ESCAPE: return 27;
    case SDL_SCANCODE_BACKSPACE: return 8;
    case SDL_SCANCODE_TAB: return 9;
    case SDL_SCANCODE_SPACE: return 32;
    case SDL_SCANCODE_MINUS: return 189;
    case SDL_SCANCODE_EQUALS: return 187;
    case SDL_SCANCODE_LEFTBRACKET: return 219;
    case SDL_SCANCODE_RIGHTBRACKET: return 221;
    case SDL_SCANCODE_BACKSLASH: return 220;
    case SDL_SCANCODE_NONUSHASH: return 220;
    case SDL_SCANCODE_SEMICOLON: return 186;
    case SDL_SCANCODE_APOSTROPHE: return 222;
    case SDL_SCANCODE_GRAVE: return 192;
    case SDL_SCANCODE_COMMA: return 188;
    case SDL_SCANCODE_PERIOD: return 190;
    case SDL_SCANCODE_SLASH: return 191;
    case SDL_SCANCODE_NONUSBACKSLASH: return 226;
    case SDL_SCANCODE_CAPSLOCK: return 20;
    case SDL_SCANCODE_PRINTSCREEN: return 44;
    case SDL_SCANCODE_SCROLLLOCK: return 145;
    case SDL_SCANCODE_PAUSE: return 19;
    case SDL_SCANCODE_INSERT: return 45;
    case SDL_SCANCODE_HOME: return 36;
    case SDL_SCANCODE_PAGEUP: return 33;
    case SDL_SCANCODE_DELETE: return 46;
    case SDL_SCANCODE_END: return 35;
    case SDL_SCANCODE_PAGEDOWN: return 34;
    case SDL_SCANCODE_LEFT: return 37;
    case SDL_SCANCODE_UP: return 38;
    case SDL_SCANCODE_RIGHT: return 39;
    case SDL_SCANCODE_DOWN: return 40;
    case SDL_SCANCODE_NUMLOCKCLEAR: return 144;
    case SDL_SCANCODE_KP_DIVIDE: return 111;
    case SDL_SCANCODE_KP_MULTIPLY: return 106;
    case SDL_SCANCODE_KP_MINUS: return 109;
    case SDL_SCANCODE_KP_PLUS: return 107;
    case SDL_SCANCODE_KP_ENTER: return 13;
    case SDL_SCANCODE_KP_0: return 96;
    case SDL_SCANCODE_KP_PERIOD: return 110;
    case SDL_SCANCODE_APPLICATION: return 93;
    case SDL_SCANCODE_MENU: return 93;
    case SDL_SCANCODE_CLEAR: return 12;
    case SDL_SCANCODE_SELECT: return 41;
    case SDL_SCANCODE_EXECUTE: return 43;
    case SDL_SCANCODE_HELP: return 47;
    case SDL_SCANCODE_SLEEP: return 95;
    // Browser, volume, media and launch keys of multimedia keyboards.
    case SDL_SCANCODE_AC_BACK: return 166;
    case SDL_SCANCODE_AC_FORWARD: return 167;
    case SDL_SCANCODE_AC_REFRESH: return 168;
    case SDL_SCANCODE_AC_STOP: return 169;
    case SDL_SCANCODE_AC_SEARCH: return 170;
    case SDL_SCANCODE_AC_BOOKMARKS: return 171;
    case SDL_SCANCODE_AC_HOME: return 172;
    case SDL_SCANCODE_MUTE:
    case SDL_SCANCODE_AUDIOMUTE: return 173;
    case SDL_SCANCODE_VOLUMEDOWN: return 174;
    case SDL_SCANCODE_VOLUMEUP: return 175;
    case SDL_SCANCODE_AUDIONEXT: return 176;
    case SDL_SCANCODE_AUDIOPREV: return 177;
    case SDL_SCANCODE_AUDIOSTOP: return 178;
    case SDL_SCANCODE_AUDIOPLAY: return 179;
    case SDL_SCANCODE_MAIL: return 180;
    case SDL_SCANCODE_MEDIASELECT: return 181;
    case SDL_SCANCODE_COMPUTER: return 182;
    case SDL_SCANCODE_CALCULATOR: return 183;
    case SDL_SCANCODE_LCTRL: return 162;
    case SDL_SCANCODE_LSHIFT: return 160;
    case SDL_SCANCODE_LALT: return 164;
    case SDL_SCANCODE_LGUI: return 91;
    case SDL_SCANCODE_RCTRL: return 163;
    case SDL_SCANCODE_RSHIFT: return 161;
    case SDL_SCANCODE_RALT: return 165;
    case SDL_SCANCODE_RGUI: return 92;
    // Keypad keys of other keyboards, and keys that repeat another's meaning.
    case SDL_SCANCODE_KP_EQUALS:
    case SDL_SCANCODE_KP_EQUALSAS400: return 146;  // the keypad "=" of NEC keyboards
    case SDL_SCANCODE_KP_COMMA:
    case SDL_SCANCODE_SEPARATOR:
    case SDL_SCANCODE_THOUSANDSSEPARATOR: return 108;  // the keypad separator
    case SDL_SCANCODE_KP_DECIMAL:
    case SDL_SCANCODE_DECIMALSEPARATOR: return 110;
    case SDL_SCANCODE_KP_00:
    case SDL_SCANCODE_KP_000: return 96;  // keys that type keypad zeros
    case SDL_SCANCODE_KP_CLEAR: return 12;
    case SDL_SCANCODE_KP_TAB: return 9;
    case SDL_SCANCODE_KP_BACKSPACE: return 8;
    case SDL_SCANCODE_KP_SPACE: return 32;
    case SDL_SCANCODE_KP_A: return 65;
    case SDL_SCANCODE_KP_B: return 66;
    case SDL_SCANCODE_KP_C: return 67;
    case SDL_SCANCODE_KP_D: return 68;
    case SDL_SCANCODE_KP_E: return 69;
    case SDL_SCANCODE_KP_F: return 70;
    case SDL_SCANCODE_RETURN2: return 13;
    case SDL_SCANCODE_PRIOR: return 33;
    case SDL_SCANCODE_CANCEL: return 3;
    case SDL_SCANCODE_SYSREQ: return 246;  // Attn
    case SDL_SCANCODE_CRSEL: return 247;
    case SDL_SCANCODE_EXSEL: return 248;
    case SDL_SCANCODE_MODE: return 165;  // the AltGr of layouts that call it a mode switch
    case SDL_SCANCODE_WWW: return 172;
    case SDL_SCANCODE_APP1: return 182;
    case SDL_SCANCODE_APP2: return 183;
    // Keys of Japanese and Korean keyboards.
    case SDL_SCANCODE_INTERNATIONAL1: return 226;  // Ro
    case SDL_SCANCODE_INTERNATIONAL2: return 21;   // Katakana/Hiragana
    case SDL_SCANCODE_INTERNATIONAL3: return 220;  // Yen
    case SDL_SCANCODE_INTERNATIONAL4: return 28;   // Henkan (convert)
    case SDL_SCANCODE_INTERNATIONAL5: return 29;   // Muhenkan (non-convert)
    case SDL_SCANCODE_LANG1: return 21;            // Hangul
    case SDL_SCANCODE_LANG2: return 25;            // Hanja
    // Note: every other key SDL names has no virtual-key code on the system whose codes
    // these are (the Sun editing keys Stop, Again, Undo, Cut, Copy, Paste and Find; Power;
    // International 6 to 9 and Lang 3 to 9; Alt Erase, Out, Oper, Clear/Again; the currency
    // keys; the calculator keypad's brackets, operators, memory and number-base keys;
    // brightness, display switch, keyboard light, eject, rewind, fast forward and the phone
    // keys). They give no key events; what they type still arrives as characters.
    default: return kNoKey;
  }
}

void TranslateSDLEvent(const SDL_Event& event, const Ref<Object>& source) {
  switch (event.type) {
    case SDL_WINDOWEVENT:
      TranslateWindowEvent(event.window, source);
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      TranslateKey(event.key, source);
      break;
    case SDL_TEXTINPUT: {
      // One KeyChar per UTF-16 unit, as the native character messages arrive.
      String text = TextFromUtf8(event.text.text);
      for (char16_t unit : text) Emit(EVENT_KEYCHAR, source, unit, modifier_mask, 0, 0);
      break;
    }
    case SDL_MOUSEMOTION: {
      const SDL_MouseMotionEvent& motion = event.motion;
      bool inside = InsideClient(motion.windowID, motion.x, motion.y);
      TrackPointer(inside ? motion.windowID : 0, motion.x, motion.y, source);
      Emit(EVENT_MOUSEMOVE, source, MoveButtonData(motion.state), modifier_mask, motion.x,
           motion.y);
      break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      const SDL_MouseButtonEvent& button = event.button;
      int number = ButtonNumber(button.button);
      if (number == 0) break;
      bool down = event.type == SDL_MOUSEBUTTONDOWN;
      // Capture keeps motion coming while a button is held outside the window.
      if (video_state > 0) SDL_CaptureMouse(down ? SDL_TRUE : SDL_FALSE);
      Emit(down ? EVENT_MOUSEDOWN : EVENT_MOUSEUP, source, number, modifier_mask, button.x,
           button.y);
      break;
    }
    case SDL_MOUSEWHEEL: {
      const SDL_MouseWheelEvent& wheel = event.wheel;
      // A sideways-only scroll is another message on the native system, not the wheel.
      if (wheel.y == 0 && wheel.x != 0) break;
      // SDL hands out whole notches; a partial notch of a fine-grained device gives 0.
      int notches = wheel.y;
      if (wheel.direction == SDL_MOUSEWHEEL_FLIPPED) notches = -notches;
      Emit(EVENT_MOUSEWHEEL, source, notches, modifier_mask, wheel.mouseX, wheel.mouseY);
      break;
    }
    default:
      break;
  }
}

TSDLSystemDriver::TSDLSystemDriver() {
  // Ctrl+C and session ends keep their ordinary meaning; closing the last window is only a
  // close request, never an automatic quit.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  pointer_visible = 1;
  // Only the event queue here: a process without any window (or display) can still poll.
  sdl_running = SDL_InitSubSystem(SDL_INIT_EVENTS) == 0;
  if (sdl_running) SDL_AddEventWatch(NoteQueuedEvent, nullptr);
#if defined(__linux__)
  // The timer resolution: a sleep ends up to the thread's timer slack late (50 us by
  // default) on top of the scheduler's latency; with 1 us the busy wait that ends every
  // sleep (see SleepMillis) stays short.
  prctl(PR_SET_TIMERSLACK, kTimerSlackNanoseconds);
#endif
  // The platform is released at exit, after the graphics module closed its window.
  AddExitAction([] {
#if defined(__linux__)
    prctl(PR_SET_TIMERSLACK, 0UL);  // back to the system's default
#endif
    if (!sdl_running) return;
    sdl_running = false;
    video_state = 0;
    SDL_Quit();
  });
}

// Pumps SDL's native queue and dispatches every pending event. Note: the native pump
// (about 8 microseconds on X11) runs at most once per PumpTick; events already in SDL's
// queue (pushed ones among them) are dispatched at once, and SDL's queue is looked at only
// when its watcher saw an event arrive or the pump ran, so an empty poll in a tight query
// loop costs one coarse clock read and one flag.
void TSDLSystemDriver::Poll() {
  if (!sdl_running) return;
  const long long now = PumpTick();
  bool pumped = false;
  if (!pumped_once || now != last_pump) {
    pumped_once = true;
    last_pump = now;
    SDL_PumpEvents();
    pumped = true;
  }
  // Note: SDL tells its watchers of an event just before it queues it; an event queued by
  // another thread between the two is still picked up by the next pump's look.
  if (!events_queued.exchange(false, std::memory_order_acq_rel) && !pumped) return;
  SDL_Event event;
  while (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) {
    Dispatch(event);
  }
}

void TSDLSystemDriver::Wait() {
  if (!sdl_running) return;
  SDL_WaitEvent(nullptr);
  pumped_once = false;
  Poll();
}

void TSDLSystemDriver::MoveMouse(int x, int y) {
  if (video_state <= 0) return;
  SDL_Window* active = SDL_GetKeyboardFocus();
  if (active) {
    SDL_WarpMouseInWindow(active, x, y);
  } else {
    SDL_WarpMouseGlobal(x, y);
  }
}

void TSDLSystemDriver::SetMouseVisible(int visible) {
  pointer_visible = visible ? 1 : 0;
  ApplyPointerRule();
}

void TSDLSystemDriver::Notify(const String& text, int serious) {
  const SDL_MessageBoxButtonData ok[] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 1,
       "OK"}};
  ShowBox(text, serious, ok, 1, 0);
}

int TSDLSystemDriver::Confirm(const String& text, int serious) {
  const SDL_MessageBoxButtonData buttons[] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, 1, "OK"},
      {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "Cancel"}};
  return ShowBox(text, serious, buttons, 2, 0) == 1 ? 1 : 0;
}

int TSDLSystemDriver::Proceed(const String& text, int serious) {
  const SDL_MessageBoxButtonData buttons[] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, 1, "Yes"},
      {0, 0, "No"},
      {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, -1, "Cancel"}};
  return ShowBox(text, serious, buttons, 3, -1);
}

// Note: SDL2 has no file or folder dialogs, so the requesters answer "" (nothing chosen).
String TSDLSystemDriver::RequestFile(const String&, const String&, int, const String&) {
  return String();
}

String TSDLSystemDriver::RequestDir(const String&, const String&) { return String(); }

int TSDLSystemDriver::OpenURL(const String& url) {
#if SDL_VERSION_ATLEAST(2, 0, 14)
  return SDL_OpenURL(TextToUtf8(url).c_str()) == 0 ? 1 : 0;
#else
  (void)url;
  return 0;
#endif
}

int StartSDLVideo() {
  if (video_state != 0) return video_state > 0 ? 1 : 0;
  if (!sdl_running) sdl_running = SDL_InitSubSystem(SDL_INIT_EVENTS) == 0;
  setenv("SDL_VIDEO_X11_WMCLASS", kWindowClass, 1);
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  // Note: a run that asked for no window takes the path of a machine without a display.
  bool display = !OffScreenOnly() && ((x11 && *x11) || (wayland && *wayland));
  // A software window that has no X11 presenter (see x11present.h) shows its pixels through
  // SDL's own window surface, not through a GL texture.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
#if defined(SDL_VIDEO_DRIVER_X11)
  // Before SDL starts X: SDL's own handler passes errors on to the one in force then.
  if (display && x11 && *x11) {
    XSetErrorHandler(EndOnXError);
    XSetIOErrorHandler(EndOnXConnectionError);
  }
#endif
  // Note: without a display, SDL is not asked to probe (it could pick a console driver);
  // the off-screen driver gives the same GL context and framebuffer with no window.
  if (display && SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) {
    video_state = 1;
    // Note: when the named display does not answer, SDL falls through its list to a driver
    // with no display (off-screen or dummy); a window there is seen by nobody, so it counts
    // as no display.
    if (!ShowsWindows(SDL_GetCurrentVideoDriver())) {
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
      video_state = 0;
    }
  }
  if (video_state == 0) {
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    video_state = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0 ? 2 : -1;
  }
  if (video_state > 0) ApplyPointerRule();
  return video_state > 0 ? 1 : 0;
}

int SDLVideoOnDisplay() { return video_state == 1 ? 1 : 0; }

void SDLWindowClosing(SDL_Window* window) {
  // Note: the focus-lost event of a destroyed window is no longer translated (the window
  // left the list first), so the flag is settled here.
  SDL_Window* focus = SDL_GetKeyboardFocus();
  if (focus == window || !OneOfOurWindows(focus)) app_active = false;
}

Ref<TSystemDriver> CreatePlatformSystemDriver() { return std::make_shared<TSDLSystemDriver>(); }

bool PlatformRunning() { return sdl_running; }

int PlatformMillisecondClock() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  // Note: the value wraps like a 32-bit millisecond counter since system start.
  unsigned long long ms = static_cast<unsigned long long>(now.tv_sec) * 1000ull +
                          static_cast<unsigned long long>(now.tv_nsec / 1000000);
  return static_cast<int>(static_cast<unsigned>(ms));
}

long long PlatformNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

void PlatformSleepUntil(long long deadline) {
  const long long wake_at = deadline - kSpinNanoseconds;
  const timespec wake{static_cast<time_t>(wake_at / 1000000000LL),
                      static_cast<long>(wake_at % 1000000000LL)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
    // Interrupted by a signal: the deadline stands.
  }
  while (PlatformNanoseconds() < deadline) {
  }
}

void PlatformYield() { sched_yield(); }

void PlatformLowerThreadPriority() {
#if defined(__linux__)
  // Linux keeps a nice value per thread. Note: kHelperNiceStep gives a helper about a third
  // of the weight of a thread at the process's value where the two share a processor, so
  // the feeding thread keeps its pace while the helpers fill the rest of the machine.
  const id_t thread = static_cast<id_t>(syscall(SYS_gettid));
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, thread);
  if (errno == 0) setpriority(PRIO_PROCESS, thread, std::min(nice + kHelperNiceStep, 19));
#endif
}

std::tm PlatformLocalTime(std::time_t now) {
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}
