// Graphics module logic with a recording driver and a fake clock: driver selection, the
// settings cache, OpenGraphics / CloseOpenedGraphics, the generation counter and pacing.
#include <gtest/gtest.h>

#include <cstdio>

#include <functional>
#include <vector>

#include "graphics/graphics.h"
#include "graphics/input.h"
#include "graphics/platform/systemdriver.h"  // to see whether the platform is still up
#include "runtime/runtime.h"

namespace {

int fake_now = 0;
std::vector<int> sleeps;
int FakeClock() { return fake_now; }
// The fake clock wraps like the real 32-bit millisecond counter.
void Advance(int ms) { fake_now = static_cast<int>(static_cast<unsigned>(fake_now) + ms); }
void FakeSleep(int ms) {
  sleeps.push_back(ms);
  Advance(ms);
}

class RecordingDriver;

class RecordingGraphics : public TGraphics {
 public:
  RecordingGraphics(RecordingDriver* driver, int w, int h, int d, int hz, int f)
      : driver(driver), settings{w, h, d, hz, f} {}
  TGraphicsDriver* Driver() override;
  int GetSettings(int& w, int& h, int& d, int& hz, int& f) override {
    w = settings[0];
    h = settings[1];
    d = settings[2];
    hz = settings[3];
    f = settings[4];
    return 1;
  }
  int Close() override {
    closed = true;
    return 0;
  }
  RecordingDriver* driver;
  int settings[5];
  bool closed = false;
};

class RecordingDriver : public TGraphicsDriver {
 public:
  std::vector<TGraphicsMode> modes;
  int mode_requests = 0;
  std::vector<int> flips;
  std::vector<TGraphics*> targets;
  int last_flags = -1;
  bool fail = false;
  bool throws = false;
  std::function<void()> on_create;
  std::vector<TGraphicsMode> GraphicsModes() override {
    ++mode_requests;
    return modes;
  }
  Ref<TGraphics> AttachGraphics(int, int flags) override {
    last_flags = flags;
    return std::make_shared<RecordingGraphics>(this, 1, 1, 0, 0, flags);
  }
  Ref<TGraphics> CreateGraphics(int w, int h, int d, int hz, int flags) override {
    last_flags = flags;
    if (on_create) on_create();
    if (throws) throw TRuntimeError("GLGraphicsDriver failed to set display mode");
    if (fail) return nullptr;
    return std::make_shared<RecordingGraphics>(this, w, h, d, hz, flags);
  }
  int SetGraphics(const Ref<TGraphics>& g) override {
    targets.push_back(g.get());
    return 0;
  }
  int Flip(int sync) override {
    flips.push_back(sync);
    return 0;
  }
};

TGraphicsDriver* RecordingGraphics::Driver() { return driver; }

class GraphicsModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartGraphics();
    fake_now = 1000;
    sleeps.clear();
    SetPacingClock(FakeClock, FakeSleep);
    SelectGraphicsDriver(&driver, 2);
  }
  void TearDown() override {
    CloseOpenedGraphics();
    SelectGraphicsDriver(nullptr, 0);
    SetPacingClock(nullptr, nullptr);
  }
  RecordingDriver driver;
};

TEST_F(GraphicsModuleTest, OpenMakesCurrentWithDefaultFlagsAndCachesSettings) {
  Ref<TGraphics> g = OpenGraphics(640, 480, 0, 60, 0);
  ASSERT_TRUE(g);
  EXPECT_EQ(driver.last_flags, 2);
  EXPECT_EQ(CurrentGraphicsWidth(), 640);
  EXPECT_EQ(CurrentGraphicsHeight(), 480);
  EXPECT_EQ(CurrentGraphicsHertz(), 60);
  EXPECT_EQ(CurrentGraphicsFlags(), 2);
  ASSERT_FALSE(driver.targets.empty());
  EXPECT_EQ(driver.targets.back(), g.get());
}

TEST_F(GraphicsModuleTest, TimerPacingFollows16_17_17) {
  ASSERT_TRUE(OpenGraphics(64, 64, 0, 60, 0));
  for (int i = 0; i < 6; ++i) Flip(-1);
  EXPECT_EQ(sleeps, (std::vector<int>{16, 17, 17, 16, 17, 17}));
  EXPECT_EQ(driver.flips, (std::vector<int>{0, 0, 0, 0, 0, 0}));
  sleeps.clear();
  for (int i = 0; i < 54; ++i) Flip(-1);
  EXPECT_EQ(fake_now, 2000);  // exactly one second for 60 frames
}

TEST_F(GraphicsModuleTest, LateFrameRestartsTheScheduleFromNow) {
  ASSERT_TRUE(OpenGraphics(64, 64, 0, 60, 0));
  Flip(-1);  // due 1016
  fake_now += 100;  // the caller is slow: 1116
  Flip(-1);  // due 1033: late, no sleep, schedule restarts at 1116
  Flip(-1);  // due 1116 + 17
  EXPECT_EQ(sleeps, (std::vector<int>{16, 17}));
  EXPECT_EQ(fake_now, 1133);
}

TEST_F(GraphicsModuleTest, PacingCarriesOnWhenTheClockWraps) {
  fake_now = 2147483647 - 20;  // the top of the int range, 24.8 days after system start
  ASSERT_TRUE(OpenGraphics(64, 64, 0, 60, 0));
  for (int i = 0; i < 6; ++i) Flip(-1);
  EXPECT_EQ(sleeps, (std::vector<int>{16, 17, 17, 16, 17, 17}));
  EXPECT_EQ(fake_now, -2147483648 + 79);  // 100 ms later, past the wrap
  // A late frame across the wrap restarts the schedule from the time read.
  sleeps.clear();
  fake_now = 2147483647 - 5;
  ASSERT_TRUE(OpenGraphics(64, 64, 0, 60, 0));
  Advance(40);
  Flip(-1);
  Flip(-1);
  EXPECT_EQ(sleeps, (std::vector<int>{17}));
  EXPECT_EQ(fake_now, -2147483648 + 34 + 17);
}

TEST_F(GraphicsModuleTest, UnpacedAndExplicitFlipsNeverSleep) {
  ASSERT_TRUE(OpenGraphics(64, 64, 0, 0, 0));
  Flip(-1);
  Flip(0);
  Flip(1);
  EXPECT_TRUE(sleeps.empty());
  EXPECT_EQ(driver.flips, (std::vector<int>{0, 0, 1}));
  // A negative rate is no rate: presented at once, never paced.
  ASSERT_TRUE(OpenGraphics(64, 64, 0, -60, 0));
  fake_now += 5;
  Flip(-1);
  Flip(-1);
  EXPECT_TRUE(sleeps.empty());
  EXPECT_EQ(driver.flips, (std::vector<int>{0, 0, 1, 0, 0}));
}

TEST_F(GraphicsModuleTest, FullScreenWithHertzAsksForRetrace) {
  ASSERT_TRUE(OpenGraphics(64, 64, 32, 60, 0));
  Flip(-1);
  EXPECT_TRUE(sleeps.empty());
  EXPECT_EQ(driver.flips, (std::vector<int>{1}));
}

TEST_F(GraphicsModuleTest, AnotherCurrentContextFlipsWithRetrace) {
  ASSERT_TRUE(OpenGraphics(64, 64, 0, 60, 0));
  Ref<TGraphics> other = CreateGraphics(8, 8, 0, 0, 0);
  SetGraphics(other);
  Flip(-1);
  EXPECT_TRUE(sleeps.empty());
  EXPECT_EQ(driver.flips, (std::vector<int>{1}));
}

TEST_F(GraphicsModuleTest, OpeningTwiceClosesTheFirst) {
  Ref<TGraphics> first = OpenGraphics(64, 64, 0, 60, 0);
  Ref<TGraphics> second = OpenGraphics(32, 32, 0, 60, 0);
  EXPECT_TRUE(static_cast<RecordingGraphics*>(first.get())->closed);
  EXPECT_FALSE(static_cast<RecordingGraphics*>(second.get())->closed);
  EXPECT_EQ(CurrentGraphicsWidth(), 32);
}

TEST_F(GraphicsModuleTest, OpenClosesTheOldWindowFirstAndCountsInputOnlyAfterCreating) {
  Ref<TGraphics> first = OpenGraphics(64, 64, 0, 60, 0);
  bool first_closed_before = false;
  driver.on_create = [&] {
    first_closed_before = static_cast<RecordingGraphics*>(first.get())->closed;
    // What showing a new window may emit: activation, keys of the moment.
    EmitEvent(CreateEvent(EVENT_KEYDOWN, nullptr, 82, 0, 0, 0, nullptr));
  };
  ASSERT_TRUE(OpenGraphics(32, 32, 0, 60, 0));
  driver.on_create = nullptr;
  EXPECT_TRUE(first_closed_before);
  EXPECT_EQ(IsKeyDown(82), 0);
  EXPECT_EQ(KeyHitCount(82), 0);
}

TEST_F(GraphicsModuleTest, FailedOpenLeavesNoContextAndKeepsNothingOpen) {
  Ref<TGraphics> first = OpenGraphics(64, 64, 0, 60, 0);
  driver.fail = true;
  EXPECT_FALSE(OpenGraphics(64, 64, 0, 60, 0));
  EXPECT_TRUE(static_cast<RecordingGraphics*>(first.get())->closed);
  EXPECT_EQ(CurrentGraphicsWidth(), 0);
  driver.fail = false;
  driver.throws = true;  // a thrown error inside the driver becomes null
  EXPECT_FALSE(OpenGraphics(64, 64, 32, 60, 0));
  EXPECT_FALSE(AttachGraphics(0, 0) == nullptr);  // attach still answers
}

TEST_F(GraphicsModuleTest, CloseOpenedStopsPolledInputAndForgetsTheContext) {
  Ref<TGraphics> g = OpenGraphics(64, 64, 0, 60, 0);
  EmitEvent(CreateEvent(EVENT_KEYDOWN, nullptr, 27, 0, 0, 0, nullptr));
  CloseOpenedGraphics();
  EXPECT_TRUE(static_cast<RecordingGraphics*>(g.get())->closed);
  EXPECT_EQ(CurrentGraphicsWidth(), 0);
  EmitEvent(CreateEvent(EVENT_KEYDOWN, nullptr, 28, 0, 0, 0, nullptr));
  EXPECT_EQ(KeyHitCount(27), 0);
  EXPECT_EQ(KeyHitCount(28), 0);
  EXPECT_EQ(driver.targets.back(), nullptr);
}

TEST_F(GraphicsModuleTest, GenerationChangesWithTheContextSetAndSkipsZero) {
  int before = graphicsGeneration;
  OpenGraphics(64, 64, 0, 60, 0);
  EXPECT_NE(graphicsGeneration, before);
  graphicsGeneration = -1;
  SelectGraphicsDriver(&driver, 2);
  EXPECT_EQ(graphicsGeneration, 1);
}

TEST_F(GraphicsModuleTest, ModesAreCachedAndMatchedOnNonZeroFields) {
  EXPECT_EQ(HasGraphicsMode(0, 0, 0, 0), 0);
  driver.modes = {{800, 600, 16, 60}, {1024, 768, 32, 75}};
  EXPECT_EQ(GraphicsModeCount(), 2);  // an empty answer was asked again
  int requests = driver.mode_requests;
  EXPECT_EQ(HasGraphicsMode(0, 0, 0, 0), 1);
  EXPECT_EQ(HasGraphicsMode(1024, 0, 32, 0), 1);
  EXPECT_EQ(HasGraphicsMode(800, 600, 32, 0), 0);
  int w, h, d, hz;
  GraphicsModeAt(1, w, h, d, hz);
  EXPECT_EQ(w * 10000 + h, 1024 * 10000 + 768);
  EXPECT_EQ(driver.mode_requests, requests);
  EXPECT_EQ(GraphicsModes()[1].ToString(), u"1024,768,32 75Hz");
}

int flip_hook_runs = 0;
std::vector<size_t> driver_flips_seen;
RecordingDriver* flipping_driver = nullptr;
Ref<Object> CountFlips(int, Ref<Object> data, Ref<Object>) {
  ++flip_hook_runs;
  driver_flips_seen.push_back(flipping_driver->flips.size());
  return data;
}

TEST_F(GraphicsModuleTest, FlipRunsTheFlipHookFirst) {
  flipping_driver = &driver;
  InsertHook(FlipHookId, CountFlips, nullptr, 0);
  Flip(0);  // no context: the hook still runs
  OpenGraphics(8, 8, 0, 0, 0);
  Flip(-1);
  DropHook(FlipHookId, CountFlips, nullptr);
  EXPECT_EQ(flip_hook_runs, 2);
  // Each run came before the driver presented that frame.
  EXPECT_EQ(driver_flips_seen, (std::vector<size_t>{0, 1}));
  EXPECT_EQ(driver.flips.size(), 2u);
}

// Reports, as it closes, whether the platform layer has already been shut down.
class ExitProbeGraphics : public RecordingGraphics {
 public:
  using RecordingGraphics::RecordingGraphics;
  int Close() override {
    std::fprintf(stderr, PlatformRunning() ? "closed with the platform up\n"
                                           : "closed after the platform\n");
    return RecordingGraphics::Close();
  }
};

class ExitProbeDriver : public RecordingDriver {
 public:
  Ref<TGraphics> CreateGraphics(int w, int h, int d, int hz, int flags) override {
    return std::make_shared<ExitProbeGraphics>(this, w, h, d, hz, flags);
  }
};

TEST(GraphicsExitDeathTest, TheOpenedWindowClosesBeforeThePlatformGoesDown) {
  EXPECT_EXIT(
      {
        StartGraphics();
        static ExitProbeDriver probe;
        SelectGraphicsDriver(&probe, 2);
        OpenGraphics(16, 16, 0, 60, 0);
        ExitProgram(0);
      },
      ::testing::ExitedWithCode(0), "closed with the platform up");
}

}  // namespace
