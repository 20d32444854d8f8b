// The graphics window on a real X server: a private Xvfb started by the tests themselves.
// Checks placement, caption and class, key codes of real key presses sent with xdotool,
// a close request, and that presented drawing reaches the window.
// gtest first: the X11 headers define macros (None, Bool) that its templates also name.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

#include "draw2d/draw2d.h"
#include "draw2d/soft/softvex2d.h"
#include "graphics/glgraphics.h"
#include "graphics/input.h"
#include "graphics/system.h"
#include "graphics/platform/sdl/glcontext.h"
#include "graphics/softgraphics.h"
#include "support/xvfb.h"

namespace {

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;

TXvfbServer xvfb;
bool xvfb_installed = false;
bool xvfb_running = false;

// Starts Xvfb on the first free display and points DISPLAY at it.
class XvfbEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    xvfb_installed = TXvfbServer::Installed();
    if (!xvfb_installed) return;
    const std::string name = xvfb.Start(kScreenWidth, kScreenHeight);
    if (name.empty()) return;
    setenv("DISPLAY", name.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    xvfb_running = true;
  }
  void TearDown() override { xvfb.Stop(); }
};

const auto* environment = ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);

std::string RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
  pclose(pipe);
  return output;
}

int FieldAfter(const std::string& text, const std::string& label) {
  size_t at = text.find(label);
  if (at == std::string::npos) return -1;
  return std::atoi(text.c_str() + at + label.size());
}

// Polls for up to two seconds until `done` holds.
template <class Condition>
bool PollUntil(Condition done);

// Waits until the window opened by the fixture has the keyboard focus and the events that
// brought it have been handled.
bool WaitForKeyboardFocus() {
  return PollUntil([] {
    SystemPoll();
    return GLContextCurrent() && SDL_GetKeyboardFocus() == GLContextCurrent()->window;
  });
}

// Polls for up to two seconds until `done` holds.
template <class Condition>
bool PollUntil(Condition done) {
  for (int i = 0; i < 200; ++i) {
    if (done()) return true;
    SleepMillis(10);
  }
  return false;
}

class X11WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!xvfb_running) return;
    StartGLGraphics();
  }
  void SetUp() override {
    if (!xvfb_installed) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_TRUE(xvfb_running) << "Xvfb did not start";
    SelectGraphicsDriver(GLGraphicsDriver(), 2);
    g = OpenGraphics(200, 100, 0, 60, 0);
    ASSERT_TRUE(g) << SDL_GetError();
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    ASSERT_TRUE(SDL_GetWindowWMInfo(GLContextCurrent()->window, &info))
        << SDL_GetError() << " driver " << SDL_GetCurrentVideoDriver() << " on " << getenv("DISPLAY");
    window = info.info.x11.window;
    id = std::to_string(window);
  }
  void TearDown() override { CloseOpenedGraphics(); }
  Ref<TGraphics> g;
  Window window = 0;
  std::string id;
};

TEST_F(X11WindowTest, ClientAreaIsExactAndCentred) {
  EXPECT_EQ(CurrentGraphicsVisible(), 1);
  std::string info = RunCommand("xwininfo -id " + id);
  EXPECT_EQ(FieldAfter(info, "Width: "), 200) << info;
  EXPECT_EQ(FieldAfter(info, "Height: "), 100);
  EXPECT_EQ(FieldAfter(info, "Absolute upper-left X: "), kScreenWidth / 2 - 100);
  EXPECT_EQ(FieldAfter(info, "Absolute upper-left Y: "), kScreenHeight / 2 - 50);
  // Fixed size: the size hints pin the minimum and the maximum to the client size.
  std::string hints = RunCommand("xprop -id " + id + " WM_NORMAL_HINTS");
  EXPECT_NE(hints.find("program specified minimum size: 200 by 100"), std::string::npos) << hints;
  EXPECT_NE(hints.find("program specified maximum size: 200 by 100"), std::string::npos);
}

TEST_F(X11WindowTest, CaptionAndClass) {
  std::string props = RunCommand("xprop -id " + id + " WM_NAME WM_CLASS");
  EXPECT_NE(props.find("WM_NAME(STRING) = \"Corvane Application\""), std::string::npos) << props;
  EXPECT_NE(props.find("\"Corvane GLGraphics\""), std::string::npos) << props;
}

TEST_F(X11WindowTest, RealKeyPressesArriveAsVirtualKeyCodes) {
  RunCommand("xdotool windowfocus --sync " + id);
  // The focus events (a resume, which flushes the key state) arrive first.
  ASSERT_TRUE(WaitForKeyboardFocus());
  FlushKeyState();
  RunCommand("xdotool keydown Shift_L keydown Shift_R key Escape key r");
  int escape = 0, r = 0;
  ASSERT_TRUE(PollUntil([&] {
    escape += KeyHitCount(27);
    r += KeyHitCount(82);
    return escape && r && IsKeyDown(160) && IsKeyDown(161);
  })) << "escape " << escape << " r " << r;
  EXPECT_EQ(escape, 1);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(KeyHitCount(16), 0);
  RunCommand("xdotool keyup Shift_R keyup Shift_L");
  EXPECT_TRUE(PollUntil([] { return IsKeyDown(160) == 0 && IsKeyDown(161) == 0; }));
}

TEST_F(X11WindowTest, TypedTextAndReturnQueueCharacters) {
  RunCommand("xdotool windowfocus --sync " + id);
  ASSERT_TRUE(WaitForKeyboardFocus());
  FlushKeyState();
  // A last "x" marks the end: whatever Control+C typed has arrived before it.
  RunCommand("xdotool type 'aB' && xdotool key Return && xdotool key ctrl+c && xdotool type x");
  std::vector<int> typed;
  EXPECT_TRUE(PollUntil([&] {
    while (int code = NextChar()) typed.push_back(code);
    return !typed.empty() && typed.back() == 'x';
  }));
  // Control+C types its control character once (the text events carry none).
  EXPECT_EQ(typed, (std::vector<int>{'a', 'B', 13, 3, 'x'}));
}

TEST_F(X11WindowTest, MoveMouseTakesClientCoordinatesOfTheActiveWindow) {
  RunCommand("xdotool windowfocus --sync " + id);
  SystemPoll();
  MoveMouse(10, 20);
  SystemPoll();
  std::string where = RunCommand("xdotool getmouselocation");
  EXPECT_EQ(FieldAfter(where, "x:"), kScreenWidth / 2 - 100 + 10) << where;
  EXPECT_EQ(FieldAfter(where, "y:"), kScreenHeight / 2 - 50 + 20) << where;
}

TEST_F(X11WindowTest, CloseRequestLeavesTheWindowOpen) {
  // What a window manager's close box sends: WM_PROTOCOLS / WM_DELETE_WINDOW.
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  XEvent message{};
  message.xclient.type = ClientMessage;
  message.xclient.window = window;
  message.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  message.xclient.format = 32;
  message.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  message.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &message);
  XFlush(display);
  XCloseDisplay(display);
  EXPECT_TRUE(PollUntil([] { return AppTerminateRequested() == 1; }));
  std::string info = RunCommand("xwininfo -id " + id);
  EXPECT_NE(info.find("IsViewable"), std::string::npos) << info;
  EXPECT_EQ(CurrentGraphicsWidth(), 200);
}

TEST_F(X11WindowTest, PresentedDrawingReachesTheWindowAndStays) {
  glDisable(GL_SCISSOR_TEST);
  glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  Flip(0);
  Flip(0);  // a second swap must not bring back an older buffer
  glFinish();
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  XImage* image = XGetImage(display, window, 0, 0, 200, 100, AllPlanes, ZPixmap);
  ASSERT_NE(image, nullptr);
  unsigned long middle = XGetPixel(image, 100, 50);
  XDestroyImage(image);
  XCloseDisplay(display);
  EXPECT_EQ(middle & 0xFFFFFF, 0x00FF00u);
  unsigned char pixel[4] = {};
  glReadPixels(10, 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  EXPECT_EQ(pixel[1], 255);
  EXPECT_EQ(pixel[3], 255);
}

TEST_F(X11WindowTest, DisplayModesAndARefusedFullScreenMode) {
  EXPECT_EQ(HasGraphicsMode(0, 0, 0, 0), 1);
  EXPECT_EQ(HasGraphicsMode(kScreenWidth, kScreenHeight, 32, 0), 1);
  EXPECT_EQ(HasGraphicsMode(kScreenWidth + 1, 0, 0, 0), 0);
  // No such mode: the driver's error becomes a null context, and the window that was open
  // has been closed first.
  EXPECT_FALSE(OpenGraphics(12345, 777, 32, 60, 0));
  EXPECT_EQ(GLContextCurrent(), nullptr);
  EXPECT_EQ(CurrentGraphicsWidth(), 0);
  std::string info = RunCommand("xwininfo -id " + id + " 2>&1");
  EXPECT_NE(info.find("No such window"), std::string::npos) << info;
}

TEST_F(X11WindowTest, OpeningAgainReplacesTheWindow) {
  Ref<TGraphics> second = OpenGraphics(120, 80, 0, 0, 0);
  ASSERT_TRUE(second);
  std::string old_info = RunCommand("xwininfo -id " + id + " 2>&1");
  EXPECT_NE(old_info.find("No such window"), std::string::npos) << old_info;
  EXPECT_EQ(CurrentGraphicsWidth(), 120);
  std::string info = RunCommand("xwininfo -name 'Corvane Application'");
  EXPECT_EQ(FieldAfter(info, "Width: "), 120) << info;
  EXPECT_EQ(FieldAfter(info, "Absolute upper-left X: "), kScreenWidth / 2 - 60);
}

unsigned long WindowPixel(Window window, int x, int y) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 0;
  XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
  unsigned long pixel = image ? XGetPixel(image, 0, 0) & 0xFFFFFF : 0;
  if (image) XDestroyImage(image);
  XCloseDisplay(display);
  return pixel;
}

TEST_F(X11WindowTest, SingleBufferedWindowIsPresentedToo) {
  SelectGraphicsDriver(GLGraphicsDriver(), 0);  // no back buffer asked for
  ASSERT_TRUE(OpenGraphics(90, 70, 0, 0, 0));
  EXPECT_EQ(CurrentGraphicsFlags(), 0);
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  ASSERT_TRUE(SDL_GetWindowWMInfo(GLContextCurrent()->window, &info));
  glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  Flip(0);
  glFinish();
  EXPECT_EQ(WindowPixel(info.info.x11.window, 45, 35), 0x0000FFu);
}

// Another program's window, mapped: 150 x 90 pixels at (10, 10).
Window ForeignWindow(Display* display) {
  const Window window =
      XCreateSimpleWindow(display, DefaultRootWindow(display), 10, 10, 150, 90, 0, 0, 0);
  XMapWindow(display, window);
  XSync(display, False);
  return window;
}

// Waits until the X server has drawn everything sent on the program's connection: a
// software window's Flip hands its pixels over without waiting, as a GL swap does (the GL
// tests call glFinish for the same reason).
void FinishShowing() {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  ASSERT_NE(GLContextCurrent(), nullptr);
  ASSERT_TRUE(SDL_GetWindowWMInfo(GLContextCurrent()->window, &info));
  XSync(info.info.x11.display, False);
}

// Resizes another program's window and polls until the context attached to it measures
// the new size.
::testing::AssertionResult ResizeForeign(Display* display, Window foreign, TGraphics& attached,
                                         int width, int height) {
  XResizeWindow(display, foreign, width, height);
  XSync(display, False);
  int w = 0, h = 0, d = 0, hz = 0, flags = 0;
  if (PollUntil([&] {
        SystemPoll();
        attached.GetSettings(w, h, d, hz, flags);
        return w == width && h == height;
      })) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "measured " << w << "x" << h;
}

// Writes one opaque pixel into a software context's buffer.
void PutPixel(TGraphics& graphics, int x, int y, uint8_t red, uint8_t green, uint8_t blue) {
  const TPixelBuffer buffer = SoftGraphicsBuffer(graphics);
  uint8_t* p = buffer.pixels + y * buffer.pitch + x * 4;
  p[0] = red, p[1] = green, p[2] = blue, p[3] = 255;
}

TEST_F(X11WindowTest, SoftwareWindowShowsWhatChangedInItsBuffer) {
  CloseOpenedGraphics();
  SelectGraphicsDriver(SoftGraphicsDriver(), 2);
  Ref<TGraphics> soft = OpenGraphics(90, 70, 0, 0, 0);
  ASSERT_TRUE(soft) << SDL_GetError();
  EXPECT_EQ(soft->Visible(), 1);
  EXPECT_EQ(CurrentGraphicsVisible(), 1);
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  ASSERT_TRUE(SDL_GetWindowWMInfo(GLContextCurrent()->window, &info));
  const Window window = info.info.x11.window;
  PutPixel(*soft, 45, 35, 0, 0, 255);
  SoftGraphicsDamage(*soft, 40, 30, 10, 10);
  Flip(0);
  FinishShowing();
  EXPECT_EQ(WindowPixel(window, 45, 35), 0x0000FFu);
  // A change outside what was marked stays unseen until it is marked.
  PutPixel(*soft, 10, 10, 255, 0, 0);
  Flip(0);
  FinishShowing();
  EXPECT_EQ(WindowPixel(window, 10, 10), 0x000000u);
  SoftGraphicsDamage(*soft, 10, 10, 1, 1);
  Flip(0);
  FinishShowing();
  EXPECT_EQ(WindowPixel(window, 10, 10), 0xFF0000u);
  CloseOpenedGraphics();
  SelectGraphicsDriver(GLGraphicsDriver(), 2);
}

TEST_F(X11WindowTest, ALargeSoftwareWindowIsShownWholeInItsOwnColours) {
  // 400 x 300 pixels are sent in two bands of 163 rows and one of the rest: the corners,
  // and the rows either side of a band's edge, must land where they are and keep their
  // channels apart.
  CloseOpenedGraphics();
  SelectGraphicsDriver(SoftGraphicsDriver(), 2);
  Ref<TGraphics> soft = OpenGraphics(400, 300, 0, 0, 0);
  ASSERT_TRUE(soft) << SDL_GetError();
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  ASSERT_TRUE(SDL_GetWindowWMInfo(GLContextCurrent()->window, &info));
  const Window window = info.info.x11.window;
  const struct {
    int x, y;
    uint8_t red, green, blue;
  } marks[] = {{399, 0, 0x12, 0x34, 0x56},
               {0, 299, 0xAB, 0xCD, 0xEF},
               {200, 162, 0x01, 0x02, 0x03},
               {201, 163, 0xFE, 0x80, 0x7F}};
  for (const auto& mark : marks) PutPixel(*soft, mark.x, mark.y, mark.red, mark.green, mark.blue);
  SoftGraphicsDamage(*soft, 0, 0, 400, 300);
  Flip(0);
  FinishShowing();
  for (const auto& mark : marks) {
    EXPECT_EQ(WindowPixel(window, mark.x, mark.y),
              (unsigned long){mark.red} << 16 | mark.green << 8 | mark.blue)
        << mark.x << ", " << mark.y;
  }
  EXPECT_EQ(WindowPixel(window, 200, 163), 0x000000u);
  CloseOpenedGraphics();
  SelectGraphicsDriver(GLGraphicsDriver(), 2);
}

TEST_F(X11WindowTest, SoftwareDrawingMadeBeforeAContextSwitchIsShownByTheNextFlip) {
  CloseOpenedGraphics();
  StartSoftVex2D();  // puts the software 2D driver in force
  Ref<TGraphics> drawn = OpenGraphics(80, 60, 0, 0, 0);
  ASSERT_TRUE(drawn) << SDL_GetError();
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  ASSERT_TRUE(SDL_GetWindowWMInfo(GLContextCurrent()->window, &info));
  Ref<TGraphics> other = CreateGraphics(40, 30, 0, 0, 0);
  ASSERT_TRUE(other);
  SetColor(255, 0, 0);
  DrawRect(10, 10, 20, 20);
  // Away and back before the Flip: what was drawn is still this window's to show.
  SetGraphics(other);
  SetGraphics(drawn);
  Flip(0);
  FinishShowing();
  EXPECT_EQ(WindowPixel(info.info.x11.window, 15, 15), 0xFF0000u);
  CloseGraphics(other);
  CloseOpenedGraphics();
  SelectGraphicsDriver(GLGraphicsDriver(), 2);
}

TEST_F(X11WindowTest, SoftwareWindowOnAForeignWindowFollowsItsSize) {
  CloseOpenedGraphics();
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  const Window foreign = ForeignWindow(display);
  SelectGraphicsDriver(SoftGraphicsDriver(), 2);
  Ref<TGraphics> attached = AttachGraphics(static_cast<int>(foreign), 0);
  ASSERT_TRUE(attached) << SDL_GetError();
  SetGraphics(attached);
  EXPECT_EQ(SoftGraphicsBuffer(*attached).width, 150);
  PutPixel(*attached, 100, 50, 0, 255, 0);
  SoftGraphicsDamage(*attached, 0, 0, 150, 90);
  Flip(0);
  FinishShowing();
  EXPECT_EQ(WindowPixel(foreign, 100, 50), 0x00FF00u);
  EXPECT_TRUE(ResizeForeign(display, foreign, *attached, 170, 60));
  // A buffer of the new size, black as a fresh window.
  const TPixelBuffer resized = SoftGraphicsBuffer(*attached);
  EXPECT_EQ(resized.width, 170);
  EXPECT_EQ(resized.height, 60);
  EXPECT_EQ(resized.pixels[(50 * resized.pitch) + 100 * 4 + 1], 0);
  CloseGraphics(attached);
  XWindowAttributes attributes{};
  EXPECT_NE(XGetWindowAttributes(display, foreign, &attributes), 0);  // not destroyed
  XDestroyWindow(display, foreign);
  XCloseDisplay(display);
  SelectGraphicsDriver(GLGraphicsDriver(), 2);
}

TEST_F(X11WindowTest, AttachedWindowIsMeasuredAgainAndNeverDestroyed) {
  CloseOpenedGraphics();
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  const Window foreign = ForeignWindow(display);
  Ref<TGraphics> attached = AttachGraphics(static_cast<int>(foreign), 0);
  ASSERT_TRUE(attached) << SDL_GetError();
  int w = 0, h = 0, d = -1, hz = -1, flags = 0;
  attached->GetSettings(w, h, d, hz, flags);
  EXPECT_EQ(w, 150);
  EXPECT_EQ(h, 90);
  EXPECT_EQ(d, 0);
  EXPECT_EQ(hz, 0);
  EXPECT_EQ(flags, 2);
  EXPECT_TRUE(ResizeForeign(display, foreign, *attached, 170, 60));
  SetGraphics(attached);
  EXPECT_EQ(CurrentGraphicsWidth(), 170);
  // A resize measured while the context is in use keeps the drawing layer's GL state.
  glEnable(GL_SCISSOR_TEST);
  glClearColor(0.25f, 0.5f, 0.75f, 1.0f);
  EXPECT_TRUE(ResizeForeign(display, foreign, *attached, 120, 80));
  EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
  GLfloat clear_colour[4] = {};
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear_colour);
  EXPECT_FLOAT_EQ(clear_colour[0], 0.25f);
  EXPECT_FLOAT_EQ(clear_colour[2], 0.75f);
  glDisable(GL_SCISSOR_TEST);
  CloseGraphics(attached);
  EXPECT_EQ(GLContextCurrent(), nullptr);
  XWindowAttributes attributes{};
  EXPECT_NE(XGetWindowAttributes(display, foreign, &attributes), 0);
  XDestroyWindow(display, foreign);
  XCloseDisplay(display);
}

}  // namespace
