// The GL context with no display: SDL's off-screen driver gives the same context and
// drawing buffer, and the real SDL pump delivers events of the graphics window.
#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "graphics/event.h"
#include "graphics/glgraphics.h"
#include "graphics/hook.h"
#include "graphics/input.h"
#include "graphics/platform/sdl/glcontext.h"
#include "graphics/platform/sdl/systemdriver.h"
#include "runtime/text.h"

namespace {

class OffscreenTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // No display for this process: the platform layer must fall back to off-screen.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    StartGLGraphics();
  }
  void SetUp() override {
    SelectGraphicsDriver(GLGraphicsDriver(), 2);
    g = OpenGraphics(64, 48, 0, 0, 0);
    ASSERT_TRUE(g) << SDL_GetError();
  }
  void TearDown() override { CloseOpenedGraphics(); }

  static void PushKey(Uint32 type, SDL_Scancode scancode, SDL_Keycode keycode, int repeat,
                      Uint16 mods = 0) {
    SDL_Event event{};
    event.type = type;
    event.key.windowID = GLContextCurrent()->window_id;
    event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.key.repeat = static_cast<Uint8>(repeat);
    event.key.keysym.scancode = scancode;
    event.key.keysym.sym = keycode;
    event.key.keysym.mod = mods;
    SDL_PushEvent(&event);
  }
  Ref<TGraphics> g;
};

TEST_F(OffscreenTest, ContextIsOffscreenWithTheRequestedSize) {
  EXPECT_EQ(CurrentGraphicsVisible(), 0);
  EXPECT_EQ(CurrentGraphicsWidth(), 64);
  EXPECT_EQ(CurrentGraphicsHeight(), 48);
  EXPECT_EQ(CurrentGraphicsFlags(), 2);
  GLContextRecord* record = GLContextCurrent();
  ASSERT_NE(record, nullptr);
  EXPECT_NE(record->framebuffer, 0u);
}

TEST_F(OffscreenTest, DrawingSurvivesFlipsAndReadsBackOpaque) {
  glDisable(GL_SCISSOR_TEST);
  glClearColor(1.0f, 0.0f, 0.0f, 0.0f);  // alpha 0 asked: the buffer has no alpha
  glClear(GL_COLOR_BUFFER_BIT);
  // A scissor left on by the drawing layer must neither clip the copy nor be lost.
  glEnable(GL_SCISSOR_TEST);
  glScissor(0, 0, 4, 4);
  Flip(0);
  Flip(1);
  Flip(-1);
  EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
  glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);  // only the 4x4 corner turns blue
  Flip(0);
  unsigned char pixels[64 * 48 * 4] = {};
  glReadPixels(0, 0, 64, 48, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
  auto at = [&](int x, int y) { return pixels + (y * 64 + x) * 4; };
  EXPECT_EQ(at(1, 1)[2], 255);
  EXPECT_EQ(at(1, 1)[0], 0);
  EXPECT_EQ(at(40, 30)[0], 255);
  EXPECT_EQ(at(40, 30)[2], 0);
  EXPECT_EQ(at(63, 47)[3], 255);
  glDisable(GL_SCISSOR_TEST);
}

TEST_F(OffscreenTest, PumpTranslatesKeysOfTheGraphicsWindow) {
  PushKey(SDL_KEYDOWN, SDL_SCANCODE_ESCAPE, SDLK_ESCAPE, 0);
  PushKey(SDL_KEYDOWN, SDL_SCANCODE_ESCAPE, SDLK_ESCAPE, 1);
  PushKey(SDL_KEYDOWN, SDL_SCANCODE_R, SDLK_r, 0);
  PushKey(SDL_KEYDOWN, SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, 0, KMOD_LSHIFT);
  PushKey(SDL_KEYDOWN, SDL_SCANCODE_RCTRL, SDLK_RCTRL, 0, KMOD_LSHIFT | KMOD_RCTRL);
  EXPECT_EQ(KeyHitCount(27), 1);  // the repeat adds nothing
  // Escape types its control character with the press and again with the repeat.
  EXPECT_EQ(NextChar(), 27);
  EXPECT_EQ(NextChar(), 27);
  EXPECT_EQ(NextChar(), 0);
  EXPECT_EQ(IsKeyDown(82), 1);
  EXPECT_EQ(IsKeyDown(160), 1);
  EXPECT_EQ(IsKeyDown(163), 1);
  EXPECT_EQ(IsKeyDown(16), 0);
  EXPECT_EQ(IsKeyDown(17), 0);
  PushKey(SDL_KEYUP, SDL_SCANCODE_R, SDLK_r, 0);
  EXPECT_EQ(IsKeyDown(82), 0);
  PushKey(SDL_KEYUP, SDL_SCANCODE_RCTRL, SDLK_RCTRL, 0, KMOD_LSHIFT);
  PushKey(SDL_KEYUP, SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, 0, KMOD_NONE);
  EXPECT_EQ(IsKeyDown(160) + IsKeyDown(163), 0);
}

TEST_F(OffscreenTest, ControlWithALetterTypesItsControlCharacter) {
  PushKey(SDL_KEYDOWN, SDL_SCANCODE_LCTRL, SDLK_LCTRL, 0, KMOD_LCTRL);
  PushKey(SDL_KEYDOWN, SDL_SCANCODE_C, SDLK_c, 0, KMOD_LCTRL);
  PushKey(SDL_KEYDOWN, SDL_SCANCODE_C, SDLK_c, 1, KMOD_LCTRL);
  PushKey(SDL_KEYDOWN, SDL_SCANCODE_RETURN, SDLK_RETURN, 0, KMOD_LCTRL);
  PushKey(SDL_KEYDOWN, SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE, 0, KMOD_LCTRL);
  // Control with Alt is AltGr: the character comes from the text events, not from here.
  PushKey(SDL_KEYDOWN, SDL_SCANCODE_RALT, SDLK_RALT, 0, KMOD_LCTRL | KMOD_RALT);
  PushKey(SDL_KEYDOWN, SDL_SCANCODE_Q, SDLK_q, 0, KMOD_LCTRL | KMOD_RALT);
  PushKey(SDL_KEYUP, SDL_SCANCODE_RALT, SDLK_RALT, 0, KMOD_LCTRL);
  PushKey(SDL_KEYUP, SDL_SCANCODE_LCTRL, SDLK_LCTRL, 0, KMOD_NONE);
  PushKey(SDL_KEYDOWN, SDL_SCANCODE_D, SDLK_d, 0, KMOD_NONE);
  std::vector<int> typed;
  while (int code = NextChar()) typed.push_back(code);
  EXPECT_EQ(typed, (std::vector<int>{3, 3, 10, 127}));
  EXPECT_EQ(KeyHitCount(68), 1);
}

TEST_F(OffscreenTest, CloseRequestOnlyRaisesTheTerminateFlag) {
  SDL_Event close{};
  close.type = SDL_WINDOWEVENT;
  close.window.event = SDL_WINDOWEVENT_CLOSE;
  close.window.windowID = GLContextCurrent()->window_id;
  SDL_PushEvent(&close);
  EXPECT_EQ(AppTerminateRequested(), 1);
  EXPECT_EQ(AppTerminateRequested(), 0);
  EXPECT_NE(GLContextCurrent(), nullptr);
  EXPECT_EQ(CurrentGraphicsWidth(), 64);
}

TEST_F(OffscreenTest, EventsOfOtherWindowsAreNotTranslated) {
  PushKey(SDL_KEYDOWN, SDL_SCANCODE_A, SDLK_a, 0);
  SDL_Event stray{};
  stray.type = SDL_KEYDOWN;
  stray.key.windowID = 999999;
  stray.key.keysym.scancode = SDL_SCANCODE_B;
  stray.key.keysym.sym = SDLK_b;
  SDL_PushEvent(&stray);
  EXPECT_EQ(KeyHitCount(65), 1);
  EXPECT_EQ(KeyHitCount(66), 0);
}

TEST_F(OffscreenTest, TextInputQueuesOneCharacterPerUtf16Unit) {
  SDL_Event text{};
  text.type = SDL_TEXTINPUT;
  text.text.windowID = GLContextCurrent()->window_id;
  SDL_strlcpy(text.text.text, "a\xC3\xA9\xF0\x9F\x98\x80", sizeof text.text.text);
  SDL_PushEvent(&text);
  EXPECT_EQ(NextChar(), 'a');
  EXPECT_EQ(NextChar(), 0xE9);
  EXPECT_EQ(NextChar(), 0xD83D);
  EXPECT_EQ(NextChar(), 0xDE00);
  EXPECT_EQ(NextChar(), 0);
}

int emitted_keys = 0;
Ref<Object> CountKeyDowns(int, Ref<Object> data, Ref<Object>) {
  auto* event = dynamic_cast<TEvent*>(data.get());
  if (event && event->id == EVENT_KEYDOWN) ++emitted_keys;
  return data;
}

TEST_F(OffscreenTest, SystemWaitReturnsWhenAnEventIsPendingAndHandlesIt) {
  InsertHook(EmitEventHookId, CountKeyDowns, nullptr, 0);
  emitted_keys = 0;
  PushKey(SDL_KEYDOWN, SDL_SCANCODE_Z, SDLK_z, 0);
  SystemWait();  // would block forever if the pending event were not seen
  DropHook(EmitEventHookId, CountKeyDowns, nullptr);
  EXPECT_EQ(emitted_keys, 1);  // emitted by the wait itself
}

TEST_F(OffscreenTest, WaitForKeyWakesForKeysArrivingLater) {
  PushKey(SDL_KEYDOWN, SDL_SCANCODE_Z, SDLK_z, 0);  // before the wait: discarded
  unsigned window = GLContextCurrent()->window_id;
  std::thread typist([window] {
    SDL_Delay(30);
    SDL_Event keys[2] = {};
    for (SDL_Event& key : keys) {
      key.type = SDL_KEYDOWN;
      key.key.windowID = window;
    }
    keys[0].key.keysym = {SDL_SCANCODE_X, SDLK_x, 0, 0};
    keys[1].key.keysym = {SDL_SCANCODE_C, SDLK_c, 0, 0};
    // Both in one step, so the wait wakes with both pending.
    SDL_PeepEvents(keys, 2, SDL_ADDEVENT, 0, 0);
  });
  int key = WaitForKey();
  typist.join();
  EXPECT_EQ(key, 67);
  EXPECT_EQ(KeyHitCount(88), 1);
  EXPECT_EQ(KeyHitCount(90), 0);
}

std::vector<TEvent> seen;
Ref<Object> Watch(int, Ref<Object> data, Ref<Object>) {
  if (auto* event = dynamic_cast<TEvent*>(data.get())) seen.push_back(*event);
  return data;
}

// Pushes events for the current window and collects the TEvents the pump emits for them.
std::vector<TEvent> Translate(std::vector<SDL_Event> events) {
  unsigned window = GLContextCurrent()->window_id;
  seen.clear();
  InsertHook(EmitEventHookId, Watch, nullptr, 10);
  for (SDL_Event& event : events) {
    event.window.windowID = window;  // the same place in every window-bound event
    SDL_PushEvent(&event);
  }
  SystemPoll();
  DropHook(EmitEventHookId, Watch, nullptr);
  return seen;
}

SDL_Event Motion(int x, int y, Uint32 buttons) {
  SDL_Event event{};
  event.type = SDL_MOUSEMOTION;
  event.motion.x = x;
  event.motion.y = y;
  event.motion.state = buttons;
  return event;
}

SDL_Event Button(Uint32 type, Uint8 button, int x, int y) {
  SDL_Event event{};
  event.type = type;
  event.button.button = button;
  event.button.x = x;
  event.button.y = y;
  return event;
}

SDL_Event Wheel(int notches, bool flipped) {
  SDL_Event event{};
  event.type = SDL_MOUSEWHEEL;
  event.wheel.y = notches;
  event.wheel.direction = flipped ? SDL_MOUSEWHEEL_FLIPPED : SDL_MOUSEWHEEL_NORMAL;
  return event;
}

// A horizontal scroll: no vertical notches.
SDL_Event SidewaysWheel(int notches) {
  SDL_Event event = Wheel(0, false);
  event.wheel.x = notches;
  return event;
}

SDL_Event WindowEvent(Uint8 kind) {
  SDL_Event event{};
  event.type = SDL_WINDOWEVENT;
  event.window.event = kind;
  return event;
}

TEST_F(OffscreenTest, PointerEntersMovesAndLeavesOnce) {
  auto events = Translate({Motion(5, 6, 0), Motion(7, 8, SDL_BUTTON_LMASK),
                           Motion(9, 9, SDL_BUTTON_LMASK | SDL_BUTTON_MMASK),
                           Motion(70, 9, SDL_BUTTON_MMASK | SDL_BUTTON_RMASK),
                           Motion(80, 9, 0), Motion(3, 4, 0)});
  std::vector<int> ids, data;
  for (const TEvent& event : events) {
    ids.push_back(event.id);
    data.push_back(event.data);
  }
  EXPECT_EQ(ids, (std::vector<int>{EVENT_MOUSEENTER, EVENT_MOUSEMOVE, EVENT_MOUSEMOVE,
                                   EVENT_MOUSEMOVE, EVENT_MOUSELEAVE, EVENT_MOUSEMOVE,
                                   EVENT_MOUSEMOVE, EVENT_MOUSEENTER, EVENT_MOUSEMOVE}));
  // Button data of a move: right before middle before left.
  EXPECT_EQ(data[1], 0);
  EXPECT_EQ(data[2], 1);
  EXPECT_EQ(data[3], 4);
  EXPECT_EQ(data[5], 2);
  ASSERT_EQ(events.size(), 9u);
  EXPECT_EQ(events[0].x, 5);
  EXPECT_EQ(events[0].y, 6);
  EXPECT_EQ(events[5].x, 70);  // positions outside the client area still arrive
  EXPECT_EQ(MousePosX(), 3);
  EXPECT_EQ(MousePosY(), 4);
  // The window reports the pointer gone: leave once, and not again.
  auto left = Translate({WindowEvent(SDL_WINDOWEVENT_LEAVE), WindowEvent(SDL_WINDOWEVENT_LEAVE)});
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].id, EVENT_MOUSELEAVE);
}

TEST_F(OffscreenTest, ButtonsAndWheel) {
  auto events = Translate({Button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 1, 2),
                           Button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT, 1, 2),
                           Button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_MIDDLE, 1, 2),
                           Button(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT, 3, 4),
                           Button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_X1, 1, 2),
                           Wheel(1, false), Wheel(-2, false), Wheel(1, true), Wheel(0, false),
                           SidewaysWheel(2)});
  std::vector<int> ids, data;
  for (const TEvent& event : events) {
    ids.push_back(event.id);
    data.push_back(event.data);
  }
  EXPECT_EQ(ids, (std::vector<int>{EVENT_MOUSEDOWN, EVENT_MOUSEDOWN, EVENT_MOUSEDOWN,
                                   EVENT_MOUSEUP, EVENT_MOUSEWHEEL, EVENT_MOUSEWHEEL,
                                   EVENT_MOUSEWHEEL, EVENT_MOUSEWHEEL}));
  EXPECT_EQ(data, (std::vector<int>{1, 2, 3, 2, 1, -2, -1, 0}));
  EXPECT_EQ(events[3].x, 3);
  EXPECT_EQ(events[3].y, 4);
  EXPECT_EQ(MouseHitCount(1) + MouseHitCount(2) * 10 + MouseHitCount(3) * 100, 111);
  EXPECT_EQ(IsMouseDown(2), 0);
  EXPECT_EQ(MouseWheelPos(), -2);
}

TEST_F(OffscreenTest, FocusChangesSuspendAndResumeOnce) {
  auto gained = Translate({WindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED),
                           WindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED)});
  ASSERT_EQ(gained.size(), 1u);
  EXPECT_EQ(gained[0].id, EVENT_APPRESUME);
  PushKey(SDL_KEYDOWN, SDL_SCANCODE_R, SDLK_r, 0);
  // Focus went to no window of ours: another program is active.
  auto lost = Translate({WindowEvent(SDL_WINDOWEVENT_FOCUS_LOST),
                         WindowEvent(SDL_WINDOWEVENT_FOCUS_LOST)});
  ASSERT_EQ(lost.size(), 2u);  // the key press, then one suspend
  EXPECT_EQ(lost[1].id, EVENT_APPSUSPEND);
  EXPECT_EQ(IsAppSuspended(), 1);
  EXPECT_EQ(IsKeyDown(82), 0);  // a key held across the switch reads as up
  EXPECT_EQ(KeyHitCount(82), 0);
  Translate({WindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED)});
  EXPECT_EQ(IsAppSuspended(), 0);
  // The focused window closes and a new one opens: its focus is a resume again.
  CloseOpenedGraphics();
  g = OpenGraphics(64, 48, 0, 0, 0);
  ASSERT_TRUE(g);
  auto reopened = Translate({WindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED)});
  ASSERT_EQ(reopened.size(), 1u);
  EXPECT_EQ(reopened[0].id, EVENT_APPRESUME);
}

TEST_F(OffscreenTest, ModifierMaskTravelsWithKeyAndMouseEvents) {
  SDL_Event shift{};
  shift.type = SDL_KEYDOWN;
  shift.key.keysym = {SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, KMOD_LSHIFT, 0};
  SDL_Event alt = shift;
  alt.key.keysym = {SDL_SCANCODE_RALT, SDLK_RALT, KMOD_LSHIFT | KMOD_RALT, 0};
  SDL_Event letter = shift;
  letter.key.keysym = {SDL_SCANCODE_F, SDLK_f, KMOD_LSHIFT | KMOD_RALT, 0};
  SDL_Event release = shift;
  release.type = SDL_KEYUP;
  release.key.keysym = {SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, KMOD_RALT, 0};
  auto events = Translate({shift, alt, letter, Button(SDL_MOUSEBUTTONDOWN, 1, 0, 0), release});
  std::vector<int> mods;
  for (const TEvent& event : events) mods.push_back(event.mods);
  EXPECT_EQ(mods, (std::vector<int>{1, 5, 5, 5, 4}));
  SDL_Event alt_up = release;
  alt_up.key.keysym = {SDL_SCANCODE_RALT, SDLK_RALT, KMOD_NONE, 0};
  Translate({alt_up});
}

// A hook that closes the opened window as soon as the application loses or regains the
// focus, or is asked to end.
Ref<Object> CloseOnAppEvent(int, Ref<Object> data, Ref<Object>) {
  if (auto* event = dynamic_cast<TEvent*>(data.get())) {
    if (event->id == EVENT_APPSUSPEND || event->id == EVENT_APPRESUME ||
        event->id == EVENT_APPTERMINATE) {
      CloseOpenedGraphics();
    }
  }
  return data;
}

TEST_F(OffscreenTest, AHookThatClosesTheWindowDuringDispatchLeavesNothingDangling) {
  // The window's own handling runs after the event is emitted; the record it reads must
  // outlive the hook that closed the window (AddressSanitizer sees any read of a freed one).
  for (Uint8 kind : {SDL_WINDOWEVENT_FOCUS_GAINED, SDL_WINDOWEVENT_FOCUS_LOST,
                     SDL_WINDOWEVENT_CLOSE}) {
    SCOPED_TRACE(static_cast<int>(kind));
    if (!g) g = OpenGraphics(64, 48, 0, 0, 0);
    ASSERT_TRUE(g);
    const unsigned window = GLContextCurrent()->window_id;
    if (kind == SDL_WINDOWEVENT_FOCUS_LOST) Translate({WindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED)});
    InsertHook(EmitEventHookId, CloseOnAppEvent, nullptr, 20);
    // A second event for the same window waits behind the first: it finds no window.
    auto events = Translate({WindowEvent(kind), Motion(1, 1, 0)});
    DropHook(EmitEventHookId, CloseOnAppEvent, nullptr);
    EXPECT_EQ(events.size(), 1u);
    EXPECT_EQ(GLContextForWindowId(window), nullptr);
    EXPECT_EQ(GLContextCurrent(), nullptr);
    g = nullptr;
  }
  // The platform layer is still in order: a new window opens and draws.
  g = OpenGraphics(64, 48, 0, 0, 0);
  ASSERT_TRUE(g);
  EXPECT_NE(GLContextCurrent(), nullptr);
}

TEST_F(OffscreenTest, FlagsAreGivenOrNotClaimedAndARefusedSizeSaysSo) {
  // An alpha buffer keeps the alpha it is cleared to, across presentation.
  g = OpenGraphics(64, 48, 0, 0, GRAPHICS_ALPHABUFFER);
  ASSERT_TRUE(g);
  EXPECT_EQ(CurrentGraphicsFlags(), GRAPHICS_BACKBUFFER | GRAPHICS_ALPHABUFFER);
  glDisable(GL_SCISSOR_TEST);
  glClearColor(0.0f, 1.0f, 0.0f, 0.5f);
  glClear(GL_COLOR_BUFFER_BIT);
  Flip(0);
  unsigned char pixel[4] = {};
  glReadPixels(10, 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  EXPECT_EQ(pixel[1], 255);
  EXPECT_NEAR(pixel[3], 128, 1);
  // Without the flag the buffer has no alpha: it reads back opaque.
  g = OpenGraphics(64, 48, 0, 0, 0);
  ASSERT_TRUE(g);
  glDisable(GL_SCISSOR_TEST);
  glClear(GL_COLOR_BUFFER_BIT);
  glReadPixels(10, 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  EXPECT_EQ(pixel[3], 255);
  // A drawing buffer has no accumulation buffer: the context opens without claiming one.
  g = OpenGraphics(64, 48, 0, 0, GRAPHICS_ACCUMBUFFER | GRAPHICS_DEPTHBUFFER);
  ASSERT_TRUE(g);
  EXPECT_EQ(CurrentGraphicsFlags(), GRAPHICS_BACKBUFFER | GRAPHICS_DEPTHBUFFER);
  EXPECT_EQ(GraphicsFailure(), "");
  // A size the platform will not make: no context, and the reason names the size limit.
  g = OpenGraphics(20000, 100, 0, 0, 0);
  EXPECT_FALSE(g);
  EXPECT_EQ(GraphicsFailure(), "the graphics system refused that size (at most 16384 x 16384)");
  g = OpenGraphics(0, 100, 0, 0, 0);
  EXPECT_FALSE(g);
  EXPECT_EQ(GraphicsFailure().find("refused that size"), std::string::npos);
}

}  // namespace
