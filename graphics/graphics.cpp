// Graphics module: the driver in force, the current context and its settings cache, the
// window opened by OpenGraphics, and Flip with its frame pacing.
// Depends on events, the system driver and polled input. State: the module variables.
#include "graphics/graphics.h"

#include "graphics/hook.h"
#include "graphics/input.h"
#include "graphics/system.h"
#include "runtime/runtime.h"
#include "runtime/text.h"

namespace {

constexpr int kMillisPerSecond = 1000;

TGraphicsDriver* current_driver = nullptr;
int default_flags = 0;
std::vector<TGraphicsMode> mode_cache;
Ref<TGraphics> current_context;
int settings_cache[5] = {};  // width, height, depth, hertz, flags
Ref<TGraphics> opened_context;
int pacedByTimer = 0;
int pacedByVsync = 0;
int paceHertz = 0;
int pacePeriodMs = 0;
int paceRemainder = 0;
int paceFraction = 0;
int paceDeadline = 0;
bool exit_action_registered = false;
std::string failure_reason;  // why the last create or attach gave no context
int (*pace_clock)() = MillisecondClock;
void (*pace_sleep)(int) = SleepMillis;

void BumpGeneration() {
  // Wraps as a 32-bit integer but skips 0, which drivers use as "never built".
  graphicsGeneration = static_cast<int>(static_cast<unsigned>(graphicsGeneration) + 1u);
  if (graphicsGeneration == 0) graphicsGeneration = 1;
}

void ClearSettings() {
  for (int& value : settings_cache) value = 0;
}

// Puts `driver` in force, leaving the old one without a target.
void ChangeDriver(TGraphicsDriver* driver) {
  if (driver == current_driver) return;
  if (current_driver && current_context) current_driver->SetGraphics(nullptr);
  mode_cache.clear();
  current_driver = driver;
}

}  // namespace

int graphicsGeneration = 1;
int FlipHookId = -1;

String TGraphicsMode::ToString() const {
  return TextFromInt(width) + u"," + TextFromInt(height) + u"," + TextFromInt(depth) + u" " +
         TextFromInt(hertz) + u"Hz";
}

// Makes `driver` the one in force with its default flags; no context stays current.
void SelectGraphicsDriver(TGraphicsDriver* driver, int defaultFlags) {
  BumpGeneration();
  ChangeDriver(driver);
  default_flags = defaultFlags;
  current_context = nullptr;
  ClearSettings();
}

TGraphicsDriver* CurrentGraphicsDriver() { return current_driver; }
int DefaultGraphicsFlags() { return default_flags; }

// The driver's display modes, asked once and kept.
std::vector<TGraphicsMode> GraphicsModes() {
  if (mode_cache.empty() && current_driver) mode_cache = current_driver->GraphicsModes();
  return mode_cache;
}

int GraphicsModeCount() { return static_cast<int>(GraphicsModes().size()); }

void GraphicsModeAt(int index, int& width, int& height, int& depth, int& hertz) {
  GraphicsModes();
  const TGraphicsMode& mode = mode_cache.at(index);
  width = mode.width;
  height = mode.height;
  depth = mode.depth;
  hertz = mode.hertz;
}

// 1 when a mode matches every non-zero argument.
int HasGraphicsMode(int width, int height, int depth, int hertz) {
  for (const TGraphicsMode& mode : GraphicsModes()) {
    if (width && mode.width != width) continue;
    if (height && mode.height != height) continue;
    if (depth && mode.depth != depth) continue;
    if (hertz && mode.hertz != hertz) continue;
    return 1;
  }
  return 0;
}

// A new context from the driver in force, or null (a failure inside the driver too);
// GraphicsFailure then says why.
Ref<TGraphics> CreateGraphics(int width, int height, int depth, int hertz, int flags) {
  failure_reason.clear();
  if (!current_driver) return nullptr;
  try {
    return current_driver->CreateGraphics(width, height, depth, hertz, flags | default_flags);
  } catch (const std::exception& error) {
    failure_reason = error.what();
  } catch (...) {
  }
  return nullptr;
}

Ref<TGraphics> AttachGraphics(int widget, int flags) {
  failure_reason.clear();
  if (!current_driver) return nullptr;
  try {
    return current_driver->AttachGraphics(widget, flags | default_flags);
  } catch (const std::exception& error) {
    failure_reason = error.what();
  } catch (...) {
  }
  return nullptr;
}

const std::string& GraphicsFailure() { return failure_reason; }
void SetGraphicsFailure(const std::string& reason) { failure_reason = reason; }

// Makes `g` the current context (null: none) and caches its settings.
void SetGraphics(const Ref<TGraphics>& g) {
  if (!g) {
    if (current_driver && current_context) current_driver->SetGraphics(nullptr);
    current_context = nullptr;
    ClearSettings();
    return;
  }
  TGraphicsDriver* driver = g->Driver();
  ChangeDriver(driver);
  g->GetSettings(settings_cache[0], settings_cache[1], settings_cache[2], settings_cache[3],
                 settings_cache[4]);
  driver->SetGraphics(g);
  current_context = g;
}

void CloseGraphics(const Ref<TGraphics>& g) {
  if (!g) return;
  if (g == opened_context) opened_context = nullptr;
  if (g == current_context) SetGraphics(nullptr);
  g->Close();
}

int CurrentGraphicsWidth() { return settings_cache[0]; }
int CurrentGraphicsHeight() { return settings_cache[1]; }
int CurrentGraphicsDepth() { return settings_cache[2]; }
int CurrentGraphicsHertz() { return settings_cache[3]; }
int CurrentGraphicsFlags() { return settings_cache[4]; }

int CurrentGraphicsVisible() { return current_context ? current_context->Visible() : 0; }

// Opens the application's context, makes it current, sets up pacing and polled input.
Ref<TGraphics> OpenGraphics(int width, int height, int depth, int hertz, int flags) {
  CloseOpenedGraphics();
  flags |= default_flags;
  Ref<TGraphics> g = CreateGraphics(width, height, depth, hertz, flags);
  if (!g) return nullptr;
  BumpGeneration();
  SetGraphics(g);
  if (depth != 0) {
    pacedByTimer = 0;
    pacedByVsync = hertz != 0;
    MoveMouse(width / 2, height / 2);
  } else {
    pacedByVsync = 0;
    // Note: a negative rate cannot be paced; its period and remainder would push the
    // accumulated fraction up without bound, so it presents unpaced like 0.
    pacedByTimer = hertz > 0;
  }
  if (pacedByTimer) {
    paceHertz = hertz;
    pacePeriodMs = kMillisPerSecond / hertz;
    paceRemainder = kMillisPerSecond - pacePeriodMs * paceHertz;
    paceFraction = 0;
    paceDeadline = pace_clock();
  }
  EnablePolledInput(nullptr);
  opened_context = g;
  if (!exit_action_registered) {
    exit_action_registered = true;
    AddExitAction(CloseOpenedGraphics);
  }
  return g;
}

// Closes the context opened by OpenGraphics, if any, and stops polled input.
void CloseOpenedGraphics() {
  if (!opened_context) return;
  BumpGeneration();
  DisablePolledInput();
  Ref<TGraphics> g = opened_context;
  CloseGraphics(g);
}

// Presents the current context; -1 paces the opened window to its refresh rate.
void Flip(int sync) {
  CallHooks(FlipHookId, nullptr);
  if (!current_driver) return;
  if (sync != -1) {
    current_driver->Flip(sync);
    return;
  }
  if (current_context != opened_context) {
    current_driver->Flip(1);
    return;
  }
  if (pacedByTimer) {
    // Whole milliseconds per frame, with the remainder spread so that 60 Hz gives
    // 16, 17, 17 (exactly 1000 ms per 60 frames).
    // Note: the clock wraps like a 32-bit counter, so the deadline moves in unsigned
    // arithmetic (no signed overflow when it passes the top of the int range).
    unsigned deadline =
        static_cast<unsigned>(paceDeadline) + static_cast<unsigned>(pacePeriodMs);
    paceFraction += paceRemainder;
    if (paceFraction >= paceHertz) {
      paceFraction -= paceHertz;
      deadline += 1u;
    }
    int now = pace_clock();
    int wait = static_cast<int>(deadline - static_cast<unsigned>(now));
    if (wait > 0) {
      pace_sleep(wait);
    } else {
      // Note: a late frame restarts the schedule from now instead of being made up by a
      // burst of short frames (the deadline minus the wait is the time just read).
      deadline = static_cast<unsigned>(now);
    }
    paceDeadline = static_cast<int>(deadline);
    current_driver->Flip(0);
  } else if (pacedByVsync) {
    current_driver->Flip(1);
  } else {
    current_driver->Flip(0);
  }
}

void SetPacingClock(int (*clock)(), void (*sleep)(int)) {
  pace_clock = clock ? clock : MillisecondClock;
  pace_sleep = sleep ? sleep : SleepMillis;
}

void StartGraphics() {
  static bool started = false;
  if (started) return;
  started = true;
  StartHooks();
  StartEvents();
  StartSystem();
  StartPolledInput();
  FlipHookId = NewHookId();
}
