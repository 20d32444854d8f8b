// Polled input: key, character and mouse state kept from the event chain while enabled.
// Every query polls the platform first, so the state includes everything that arrived
// before the query. Depends on events and the system driver.
// State: the key, character and mouse arrays, the source filter and the app flags.
#include "graphics/input.h"

#include "graphics/system.h"

namespace {

constexpr int kKeyCount = 256;
constexpr int kCharQueueSize = 256;
constexpr int kMouseButtons = 4;

int key_states[kKeyCount];
int key_hits[kKeyCount];
int char_queue[kCharQueueSize];
// 32-bit counts that wrap (unsigned: no overflow); the entry is the count AND 255.
unsigned char_read = 0;
unsigned char_write = 0;
int mouse_states[kMouseButtons];
int mouse_hits[kMouseButtons];
int mouse_location[4];
int previous_location[4];
bool input_enabled = false;
Ref<Object> input_source;
int suspended = 0;
int terminate_requested = 0;

// Note: events from other emitters may carry any data; codes outside the arrays are
// ignored instead of writing past them.
bool IsKeyCode(int code) { return code >= 0 && code < kKeyCount; }
bool IsButton(int button) { return button >= 0 && button < kMouseButtons; }

void Press(int* states, int* hits, int index) {
  // A press while already held (a repeat delivered as a down) adds nothing.
  if (states[index] == 0) {
    states[index] = 1;
    hits[index] += 1;
  }
}

int Delta(int axis) {
  SystemPoll();
  int delta = mouse_location[axis] - previous_location[axis];
  previous_location[axis] = mouse_location[axis];
  return delta;
}

}  // namespace

Ref<Object> PolledInputHook(int, Ref<Object> data, Ref<Object>) {
  auto* event = dynamic_cast<TEvent*>(data.get());
  if (!event) return data;
  if (input_source && event->source != input_source) return data;
  switch (event->id) {
    case EVENT_KEYDOWN:
      if (IsKeyCode(event->data)) Press(key_states, key_hits, event->data);
      break;
    case EVENT_KEYUP:
      if (IsKeyCode(event->data)) key_states[event->data] = 0;
      break;
    case EVENT_KEYCHAR:
      if (char_write - char_read < static_cast<unsigned>(kCharQueueSize)) {
        char_queue[char_write & (kCharQueueSize - 1)] = event->data;
        char_write += 1u;
      }
      break;
    case EVENT_MOUSEDOWN:
      if (IsButton(event->data)) Press(mouse_states, mouse_hits, event->data);
      break;
    case EVENT_MOUSEUP:
      if (IsButton(event->data)) mouse_states[event->data] = 0;
      break;
    case EVENT_MOUSEMOVE:
      mouse_location[0] = event->x;
      mouse_location[1] = event->y;
      break;
    case EVENT_MOUSEWHEEL:
      mouse_location[2] += event->data;
      break;
    case EVENT_APPSUSPEND:
      FlushKeyState();
      FlushMouseState();
      suspended = 1;
      break;
    case EVENT_APPRESUME:
      FlushKeyState();
      FlushMouseState();
      suspended = 0;
      break;
    case EVENT_APPTERMINATE:
      terminate_requested = 1;
      break;
    default:
      break;
  }
  return data;
}

// Starts counting key and mouse events, from `source` only when it is not null.
void EnablePolledInput(Ref<Object> source) {
  if (input_enabled) return;
  input_source = std::move(source);
  FlushKeyState();
  FlushMouseState();
  InsertHook(EmitEventHookId, PolledInputHook, nullptr, 0);
  input_enabled = true;
}

// Stops counting and clears the state.
void DisablePolledInput() {
  if (!input_enabled) return;
  DropHook(EmitEventHookId, PolledInputHook, nullptr);
  FlushKeyState();
  FlushMouseState();
  input_source = nullptr;
  input_enabled = false;
}

// Presses of `key` since the last read; the count restarts at 0.
int KeyHitCount(int key) {
  SystemPoll();
  if (!IsKeyCode(key)) return 0;
  int count = key_hits[key];
  key_hits[key] = 0;
  return count;
}

// 1 while `key` is held.
int IsKeyDown(int key) {
  SystemPoll();
  return IsKeyCode(key) ? key_states[key] : 0;
}

// The oldest typed character not yet read, or 0.
int NextChar() {
  SystemPoll();
  if (char_read == char_write) return 0;
  int code = char_queue[char_read & (kCharQueueSize - 1)];
  char_read += 1u;
  return code;
}

// Forgets every held key, hit count and queued character.
void FlushKeyState() {
  SystemPoll();
  char_read = 0u;
  char_write = 0u;
  for (int i = 0; i < kKeyCount; ++i) {
    key_states[i] = 0;
    key_hits[i] = 0;
  }
}

// Waits for a key pressed after the call; with several, the lowest code wins.
int WaitForKey() {
  FlushKeyState();
  for (;;) {
    SystemWait();
    for (int key = 1; key < kKeyCount; ++key) {
      if (KeyHitCount(key) != 0) return key;
    }
  }
}

// Waits for a character typed after the call.
int WaitForChar() {
  FlushKeyState();
  for (;;) {
    SystemWait();
    int code = NextChar();
    if (code != 0) return code;
  }
}

// Presses of `button` (1 left, 2 right, 3 middle) since the last read.
int MouseHitCount(int button) {
  SystemPoll();
  if (!IsButton(button)) return 0;
  int count = mouse_hits[button];
  mouse_hits[button] = 0;
  return count;
}

// 1 while `button` is held.
int IsMouseDown(int button) {
  SystemPoll();
  return IsButton(button) ? mouse_states[button] : 0;
}

// Forgets held buttons, hit counts and the wheel position; the pointer position stays.
void FlushMouseState() {
  SystemPoll();
  for (int i = 0; i < kMouseButtons; ++i) {
    mouse_states[i] = 0;
    mouse_hits[i] = 0;
  }
  mouse_location[2] = 0;
}

// Waits for a mouse button pressed after the call; the lowest button wins.
int WaitForMouse() {
  FlushMouseState();
  for (;;) {
    SystemWait();
    for (int button = 1; button < kMouseButtons; ++button) {
      if (MouseHitCount(button) != 0) return button;
    }
  }
}

// Pointer position in client pixels and the accumulated wheel notches.
int MousePosX() {
  SystemPoll();
  return mouse_location[0];
}

int MousePosY() {
  SystemPoll();
  return mouse_location[1];
}

int MouseWheelPos() {
  SystemPoll();
  return mouse_location[2];
}

// Movement since the previous delta query of the same axis.
int MouseDeltaX() { return Delta(0); }
int MouseDeltaY() { return Delta(1); }
int MouseWheelDelta() { return Delta(2); }

// 1 between a switch to another program and the switch back.
int IsAppSuspended() {
  SystemPoll();
  return suspended;
}

// 1 once after a close request arrived.
int AppTerminateRequested() {
  SystemPoll();
  int requested = terminate_requested;
  terminate_requested = 0;
  return requested;
}

void StartPolledInput() {
  static bool started = false;
  if (started) return;
  started = true;
  StartSystem();
  // The arrays start zeroed as static storage; nothing else to allocate.
}
