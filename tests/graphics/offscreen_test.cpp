// The GL context with no display: SDL's off-screen driver gives the same context and
// drawing buffer, and the real SDL pump delivers events of the graphics window.
#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "graphics/glgraphics.h"
#include "graphics/input.h"
#include "graphics/platform/glcontext.h"
#include "graphics/platform/sdlsystem.h"

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

TEST_F(OffscreenTest, SystemWaitReturnsWhenAnEventIsPending) {
  SDL_Event user{};
  user.type = SDL_USEREVENT;
  SDL_PushEvent(&user);
  SystemWait();  // would block forever if the pending event were not seen
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

}  // namespace
