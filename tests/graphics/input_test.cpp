// Polled input fed with events: hit counts, repeats, flushes, the character queue, the
// mouse, and the waits (a scripted system driver delivers events from inside Wait).
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "graphics/input.h"
#include "graphics/system.h"

namespace {

// Delivers one scripted batch of events per Wait, as the platform pump would.
class ScriptedSystem : public TSystemDriver {
 public:
  std::vector<std::function<void()>> batches;
  int polls = 0;
  int waits = 0;
  void Poll() override { ++polls; }
  void Wait() override {
    ++waits;
    if (waits <= static_cast<int>(batches.size())) batches[waits - 1]();
  }
  void MoveMouse(int, int) override {}
  void SetMouseVisible(int) override {}
  void Notify(const String&, int) override {}
  int Confirm(const String&, int) override { return 0; }
  int Proceed(const String&, int) override { return 0; }
  String RequestFile(const String&, const String&, int, const String&) override { return {}; }
  String RequestDir(const String&, const String&) override { return {}; }
  int OpenURL(const String&) override { return 0; }
};

void Send(int id, int data, Ref<Object> source = nullptr, int x = 0, int y = 0) {
  EmitEvent(CreateEvent(id, std::move(source), data, 0, x, y, nullptr));
}

class PolledInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartPolledInput();
    saved = CurrentSystemDriver;
    script = std::make_shared<ScriptedSystem>();
    CurrentSystemDriver = script;
    EnablePolledInput(nullptr);
  }
  void TearDown() override {
    DisablePolledInput();
    CurrentSystemDriver = saved;
  }
  Ref<TSystemDriver> saved;
  Ref<ScriptedSystem> script;
};

TEST_F(PolledInputTest, HitCountsOncePerPressAndReadsOnce) {
  Send(EVENT_KEYDOWN, 27);
  Send(EVENT_KEYREPEAT, 27);
  Send(EVENT_KEYDOWN, 27);  // a down while held adds nothing
  EXPECT_EQ(IsKeyDown(27), 1);
  EXPECT_EQ(KeyHitCount(27), 1);
  EXPECT_EQ(KeyHitCount(27), 0);
  Send(EVENT_KEYUP, 27);
  Send(EVENT_KEYDOWN, 27);
  Send(EVENT_KEYUP, 27);
  Send(EVENT_KEYDOWN, 27);
  EXPECT_EQ(KeyHitCount(27), 2);
  Send(EVENT_KEYUP, 27);
  EXPECT_EQ(IsKeyDown(27), 0);
  EXPECT_GT(script->polls, 0);  // every query polls first
}

TEST_F(PolledInputTest, AHeldRGivesOneMoreSheetAndEachFurtherOneAFreshPress) {
  // The end of a sheet: wait for a key, then ask whether R (82) is down.
  script->batches = {
      [] { Send(EVENT_KEYDOWN, 82); },  // R pressed and held: one more sheet
      [] {                               // still held: its auto-repeat is no press
        Send(EVENT_KEYREPEAT, 82);
        Send(EVENT_KEYREPEAT, 82);
      },
      [] { Send(EVENT_KEYDOWN, 81); },  // another key ends the wait, R no longer counts
      [] {                               // R released and pressed again: another sheet
        Send(EVENT_KEYUP, 82);
        Send(EVENT_KEYDOWN, 82);
      },
  };
  EXPECT_EQ(WaitForKey(), 82);
  EXPECT_EQ(IsKeyDown(82), 1);
  EXPECT_EQ(WaitForKey(), 81);
  EXPECT_EQ(script->waits, 3);  // the repeats did not end the wait
  EXPECT_EQ(IsKeyDown(82), 0);
  EXPECT_EQ(WaitForKey(), 82);
  EXPECT_EQ(IsKeyDown(82), 1);
}

TEST_F(PolledInputTest, ShiftKeysAreDistinctCodes) {
  Send(EVENT_KEYDOWN, 160);
  Send(EVENT_KEYDOWN, 161);
  EXPECT_EQ(IsKeyDown(160), 1);
  EXPECT_EQ(IsKeyDown(161), 1);
  EXPECT_EQ(IsKeyDown(16), 0);
}

TEST_F(PolledInputTest, CodesOutsideTheTablesAreIgnored) {
  Send(EVENT_KEYDOWN, 300);
  Send(EVENT_KEYDOWN, -1);
  Send(EVENT_MOUSEDOWN, 9);
  EXPECT_EQ(KeyHitCount(300), 0);
  EXPECT_EQ(IsKeyDown(255), 0);
  EXPECT_EQ(MouseHitCount(9), 0);
}

TEST_F(PolledInputTest, SuspendAndResumeClearEverything) {
  Send(EVENT_KEYDOWN, 82);
  Send(EVENT_KEYCHAR, 'r');
  Send(EVENT_MOUSEDOWN, 1);
  Send(EVENT_APPSUSPEND, 0);
  EXPECT_EQ(IsAppSuspended(), 1);
  EXPECT_EQ(IsKeyDown(82), 0);
  EXPECT_EQ(KeyHitCount(82), 0);
  EXPECT_EQ(NextChar(), 0);
  EXPECT_EQ(IsMouseDown(1), 0);
  Send(EVENT_KEYDOWN, 65);
  Send(EVENT_APPRESUME, 0);
  EXPECT_EQ(IsAppSuspended(), 0);
  EXPECT_EQ(KeyHitCount(65), 0);
}

TEST_F(PolledInputTest, EnableAndDisableFlushTheState) {
  Send(EVENT_KEYDOWN, 66);
  DisablePolledInput();
  EXPECT_EQ(IsKeyDown(66), 0);
  Send(EVENT_KEYDOWN, 67);  // not counted while disabled
  EXPECT_EQ(KeyHitCount(67), 0);
  EnablePolledInput(nullptr);
  Send(EVENT_KEYDOWN, 68);
  EXPECT_EQ(KeyHitCount(68), 1);
}

TEST_F(PolledInputTest, SourceFilterCountsOnlyItsEvents) {
  DisablePolledInput();
  auto mine = std::make_shared<TStringObject>(u"window");
  EnablePolledInput(mine);
  EnablePolledInput(nullptr);  // already enabled: the source stays
  Send(EVENT_KEYDOWN, 70, nullptr);
  Send(EVENT_KEYDOWN, 71, mine);
  EXPECT_EQ(KeyHitCount(70), 0);
  EXPECT_EQ(KeyHitCount(71), 1);
}

TEST_F(PolledInputTest, CharacterQueueKeepsTheFirst256InOrder) {
  for (int i = 0; i < 257; ++i) Send(EVENT_KEYCHAR, 1000 + i);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(NextChar(), 1000 + i) << i;
  EXPECT_EQ(NextChar(), 0);  // the 257th was dropped
  Send(EVENT_KEYCHAR, 'x');
  EXPECT_EQ(NextChar(), 'x');  // the ring wraps
}

TEST_F(PolledInputTest, MouseButtonsPositionAndWheel) {
  Send(EVENT_MOUSEMOVE, 0, nullptr, 10, 20);
  Send(EVENT_MOUSEDOWN, 2);
  Send(EVENT_MOUSEWHEEL, 1);
  Send(EVENT_MOUSEWHEEL, 1);
  Send(EVENT_MOUSEWHEEL, 1);
  EXPECT_EQ(MousePosX(), 10);
  EXPECT_EQ(MousePosY(), 20);
  EXPECT_EQ(IsMouseDown(2), 1);
  EXPECT_EQ(MouseHitCount(2), 1);
  EXPECT_EQ(MouseHitCount(2), 0);
  MouseDeltaX();
  MouseDeltaY();
  EXPECT_EQ(MouseWheelDelta(), 3);
  EXPECT_EQ(MouseWheelDelta(), 0);
  Send(EVENT_MOUSEMOVE, 0, nullptr, 15, 12);
  EXPECT_EQ(MouseDeltaX(), 5);
  EXPECT_EQ(MouseDeltaY(), -8);
  Send(EVENT_MOUSEUP, 2);
  EXPECT_EQ(IsMouseDown(2), 0);
  FlushMouseState();
  EXPECT_EQ(MouseWheelPos(), 0);
  EXPECT_EQ(MousePosX(), 15);  // position survives a flush
}

TEST_F(PolledInputTest, TerminateRequestReadsOnce) {
  Send(EVENT_APPTERMINATE, 0);
  EXPECT_EQ(AppTerminateRequested(), 1);
  EXPECT_EQ(AppTerminateRequested(), 0);
}

TEST_F(PolledInputTest, WaitForKeyDiscardsEarlierKeysAndReturnsTheLowest) {
  Send(EVENT_KEYDOWN, 10);  // pressed before the wait: discarded
  script->batches = {
      [] { Send(EVENT_KEYCHAR, 'a'); },  // a wake-up without a key press
      [] {
        Send(EVENT_KEYDOWN, 90);
        Send(EVENT_KEYDOWN, 40);
      }};
  EXPECT_EQ(WaitForKey(), 40);
  EXPECT_EQ(script->waits, 2);
  EXPECT_EQ(KeyHitCount(90), 1);  // left in place until the next flush
  EXPECT_EQ(KeyHitCount(10), 0);
}

TEST_F(PolledInputTest, WaitForCharAndMouse) {
  script->batches = {[] { Send(EVENT_KEYDOWN, 65); }, [] { Send(EVENT_KEYCHAR, 'q'); },
                     [] { Send(EVENT_MOUSEDOWN, 3); }};
  EXPECT_EQ(WaitForChar(), 'q');
  EXPECT_EQ(WaitForMouse(), 3);
}

Ref<Object> FlushDuringPoll(int, Ref<Object> data, Ref<Object>) {
  // A flush inside a hook while a poll runs must not start a nested poll.
  FlushKeyState();
  return data;
}

class CountingSystem : public ScriptedSystem {
 public:
  int depth = 0;
  int deepest = 0;
  void Poll() override {
    ++depth;
    deepest = std::max(deepest, depth);
    Send(EVENT_KEYDOWN, 50);
    --depth;
  }
};

TEST(SystemPollGuard, APollInsideAPollReturnsAtOnce) {
  StartPolledInput();
  Ref<TSystemDriver> saved = CurrentSystemDriver;
  auto counting = std::make_shared<CountingSystem>();
  CurrentSystemDriver = counting;
  InsertHook(EmitEventHookId, FlushDuringPoll, nullptr, 0);
  SystemPoll();
  DropHook(EmitEventHookId, FlushDuringPoll, nullptr);
  CurrentSystemDriver = saved;
  EXPECT_EQ(counting->deepest, 1);
}

}  // namespace
