// The Win32 platform layer: window messages become the events the rest of the program
// reads (key codes with the modifier sides, repeats, the close request, the wheel), the
// clock and sleep, and a real window of the sheet's size, pumped through the queue.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "graphics/event.h"
#include "graphics/glgraphics.h"
#include "graphics/graphics.h"
#include "graphics/hook.h"
#include "graphics/input.h"
#include "graphics/platform/win32/glcontext.h"
#include "graphics/platform/win32/systemdriver.h"
#include "graphics/softgraphics.h"
#include "graphics/system.h"

#undef CreateEvent

namespace {

struct Seen {
  int id, data, mods, x, y;
  bool operator==(const Seen&) const = default;
};
std::vector<Seen> seen;

Ref<Object> Record(int, Ref<Object> data, Ref<Object>) {
  if (auto* event = dynamic_cast<TEvent*>(data.get())) {
    seen.push_back({event->id, event->data, event->mods, event->x, event->y});
  }
  return data;
}

class Win32Messages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartSystem(); }
  void SetUp() override {
    seen.clear();
    SetWin32ModifierMask(0);
    InsertHook(EmitEventHookId, Record, nullptr, 0);
  }
  void TearDown() override { DropHook(EmitEventHookId, Record, nullptr); }

  // lParam of a key message: scan code, extended bit, previous state.
  static intptr_t KeyBits(int scan, bool extended = false, bool was_down = false) {
    return (intptr_t{scan} << 16) | (extended ? intptr_t{1} << 24 : 0) |
           (was_down ? intptr_t{1} << 30 : 0) | 1;
  }
};

TEST_F(Win32Messages, KeysGiveTheirVirtualKeyCodeAndARepeatWhenHeld) {
  TranslateOSMessage(nullptr, WM_KEYDOWN, 'R', KeyBits(19), nullptr);
  TranslateOSMessage(nullptr, WM_KEYDOWN, 'R', KeyBits(19, false, true), nullptr);
  TranslateOSMessage(nullptr, WM_KEYUP, 'R', KeyBits(19, false, true), nullptr);
  TranslateOSMessage(nullptr, WM_KEYDOWN, VK_ESCAPE, KeyBits(1), nullptr);
  TranslateOSMessage(nullptr, WM_SYSKEYDOWN, VK_F10, KeyBits(68), nullptr);
  EXPECT_EQ(seen, (std::vector<Seen>{{EVENT_KEYDOWN, 82, 0, 0, 0},
                                     {EVENT_KEYREPEAT, 82, 0, 0, 0},
                                     {EVENT_KEYUP, 82, 0, 0, 0},
                                     {EVENT_KEYDOWN, 27, 0, 0, 0},
                                     {EVENT_KEYDOWN, 121, 0, 0, 0}}));
}

TEST_F(Win32Messages, TheScanCodeNamesTheSideOfEachModifierKey) {
  const struct {
    WPARAM key;
    int scan;
    bool extended;
    int code;
  } keys[] = {{VK_SHIFT, 42, false, 160},   {VK_SHIFT, 54, false, 161},
              {VK_CONTROL, 29, false, 162}, {VK_CONTROL, 29, true, 163},
              {VK_MENU, 56, false, 164},    {VK_MENU, 56, true, 165}};
  for (const auto& key : keys) {
    seen.clear();
    TranslateOSMessage(nullptr, WM_KEYDOWN, key.key, KeyBits(key.scan, key.extended), nullptr);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].data, key.code) << "scan " << key.scan;
  }
}

TEST_F(Win32Messages, KeyEventsCarryTheModifierMaskAndCodesOutsideOneTo255AreDropped) {
  SetWin32ModifierMask(MODIFIER_SHIFT | MODIFIER_CONTROL);
  TranslateOSMessage(nullptr, WM_KEYDOWN, 'A', KeyBits(30), nullptr);
  TranslateOSMessage(nullptr, WM_KEYDOWN, 0, KeyBits(0), nullptr);
  TranslateOSMessage(nullptr, WM_KEYDOWN, 256, KeyBits(0), nullptr);
  TranslateOSMessage(nullptr, WM_CHAR, 'a', KeyBits(30), nullptr);
  EXPECT_EQ(seen, (std::vector<Seen>{{EVENT_KEYDOWN, 65, 3, 0, 0},
                                     {EVENT_KEYCHAR, 'a', 3, 0, 0}}));
}

TEST_F(Win32Messages, TheCloseRequestIsAnAppTerminateEvent) {
  TranslateOSMessage(nullptr, WM_CLOSE, 0, 0, nullptr);
  EXPECT_EQ(seen, (std::vector<Seen>{{EVENT_APPTERMINATE, 0, 0, 0, 0}}));
}

TEST_F(Win32Messages, TheWheelCountsWholeNotchesTowardZero) {
  for (int delta : {120, -120, 60, 240, -300}) {
    TranslateOSMessage(nullptr, WM_MOUSEWHEEL,
                       static_cast<uintptr_t>(static_cast<uint16_t>(delta)) << 16, 0, nullptr);
  }
  ASSERT_EQ(seen.size(), 5u);
  std::vector<int> notches;
  for (const Seen& event : seen) notches.push_back(event.data);
  EXPECT_EQ(notches, (std::vector<int>{1, -1, 0, 2, -2}));
}

TEST(ThreadPriority, AHelperThreadGoesBelowTheProgramAndTheProgramStays) {
  const int program = GetThreadPriority(GetCurrentThread());
  int helper = program;
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](void* result) -> DWORD {
        LowerThreadPriority();
        *static_cast<int*>(result) = GetThreadPriority(GetCurrentThread());
        return 0;
      },
      &helper, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_EQ(helper, THREAD_PRIORITY_BELOW_NORMAL);
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), program);
}

TEST(Win32Clock, SleepEndsAfterItsTimeAndTheClockCountsMilliseconds) {
  StartSystem();
  const int before = MillisecondClock();
  SleepMillis(20);
  const int waited = MillisecondClock() - before;
  EXPECT_GE(waited, 20);
  SleepMillis(-5);  // returns at once
  SleepMillis(0);
  EXPECT_FALSE(CurrentDateText().empty());
  EXPECT_EQ(CurrentTimeText().size(), 8u);
}

// A software window of the sheet's size: its client area is that size, and a key posted to
// it reaches the polled input through the pump. Without a display the context is drawn
// off-screen and reports itself not visible.
TEST(Win32Window, ASheetNarrowerThanATitleBarGetsItsClientSize) {
  StartGraphics();
  SelectGraphicsDriver(SoftGraphicsDriver(), GRAPHICS_BACKBUFFER);
  Ref<TGraphics> window = OpenGraphics(64, 32, 0, 60, 0);
  ASSERT_TRUE(window) << GraphicsFailure();
  GLContextRecord* record = GLContextCurrent();
  ASSERT_NE(record, nullptr);
  if (!record->window) {
    CloseOpenedGraphics();
    GTEST_SKIP() << "no display: drawn off-screen";
  }
  RECT client{};
  GetClientRect(record->window, &client);
  EXPECT_EQ(client.right - client.left, 64);
  EXPECT_EQ(client.bottom - client.top, 32);
  EXPECT_EQ(record->width, 64);
  CloseOpenedGraphics();
}

TEST(Win32Window, ASoftwareWindowHasTheClientSizeAndItsKeysReachPolledInput) {
  StartGraphics();
  SelectGraphicsDriver(SoftGraphicsDriver(), GRAPHICS_BACKBUFFER);
  Ref<TGraphics> window = OpenGraphics(200, 120, 0, 60, 0);
  ASSERT_TRUE(window) << GraphicsFailure();
  GLContextRecord* record = GLContextCurrent();
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->width, 200);
  EXPECT_EQ(record->height, 120);
  if (!record->window) {
    EXPECT_EQ(window->Visible(), 0);
    CloseOpenedGraphics();
    GTEST_SKIP() << "no display: drawn off-screen";
  }
  RECT client{};
  GetClientRect(record->window, &client);
  EXPECT_EQ(client.right - client.left, 200);
  EXPECT_EQ(client.bottom - client.top, 120);
  wchar_t title[64] = L"";
  GetWindowTextW(record->window, title, 64);
  EXPECT_STREQ(title, L"Corvane Application");
  FlushKeyState();
  PostMessageW(record->window, WM_KEYDOWN, 'R', (19 << 16) | 1);
  // The pump runs at most once a millisecond: wait for the key, not for a set time.
  for (int tries = 0; tries < 1000 && !IsKeyDown(82); ++tries) SleepMillis(1);
  EXPECT_TRUE(IsKeyDown(82));
  PostMessageW(record->window, WM_CLOSE, 0, 0);
  for (int tries = 0; tries < 100; ++tries) {
    SleepMillis(1);
    SystemPoll();
  }
  EXPECT_TRUE(IsWindow(record->window)) << "a close request leaves the window open";
  CloseOpenedGraphics();
}

}  // namespace
