// Graphics module: the driver in force, the current context and its settings cache, the
// window opened by OpenGraphics, and Flip with its frame pacing.
// Depends on events, the system driver and polled input. State: the module variables, in
// graphics.cpp.
#pragma once

#include <string>
#include <vector>

#include "runtime/object.h"

constexpr int GRAPHICS_BACKBUFFER = 2;
constexpr int GRAPHICS_ALPHABUFFER = 4;
constexpr int GRAPHICS_DEPTHBUFFER = 8;
constexpr int GRAPHICS_STENCILBUFFER = 16;
constexpr int GRAPHICS_ACCUMBUFFER = 32;

class TGraphicsDriver;

// A graphics context: a window or attached widget with a rendering surface.
class TGraphics : public Object {
 public:
  virtual TGraphicsDriver* Driver() = 0;
  virtual int GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) = 0;
  virtual int Close() = 0;
  // 1 when the context shows a window on a display, 0 when nobody can see it (an
  // off-screen window, a closed context).
  virtual int Visible() { return 0; }
};

struct TGraphicsMode {
  int width = 0;
  int height = 0;
  int depth = 0;
  int hertz = 0;
  String ToString() const;  // e.g. 1024,768,32 60Hz
};

// A driver that makes contexts. Drivers are singletons living for the whole process.
class TGraphicsDriver : public Object {
 public:
  virtual std::vector<TGraphicsMode> GraphicsModes() = 0;
  virtual Ref<TGraphics> AttachGraphics(int widget, int flags) = 0;
  virtual Ref<TGraphics> CreateGraphics(int width, int height, int depth, int hertz,
                                        int flags) = 0;
  virtual int SetGraphics(const Ref<TGraphics>& g) = 0;
  virtual int Flip(int sync) = 0;
};

// Changes whenever the set of contexts changes; never 0.
extern int graphicsGeneration;
// Hook chain run at the start of every Flip.
extern int FlipHookId;

void SelectGraphicsDriver(TGraphicsDriver* driver, int defaultFlags);
TGraphicsDriver* CurrentGraphicsDriver();
int DefaultGraphicsFlags();
std::vector<TGraphicsMode> GraphicsModes();
int GraphicsModeCount();
void GraphicsModeAt(int index, int& width, int& height, int& depth, int& hertz);
int HasGraphicsMode(int width, int height, int depth, int hertz);
Ref<TGraphics> CreateGraphics(int width, int height, int depth, int hertz, int flags);
// Why the last CreateGraphics, AttachGraphics or OpenGraphics gave no context, in the
// user's words; empty when it gave one, or when the driver said nothing.
const std::string& GraphicsFailure();
// A driver that makes no context records why before it returns null.
void SetGraphicsFailure(const std::string& reason);
Ref<TGraphics> AttachGraphics(int widget, int flags);
void SetGraphics(const Ref<TGraphics>& g);
void CloseGraphics(const Ref<TGraphics>& g);
int CurrentGraphicsWidth();
int CurrentGraphicsHeight();
int CurrentGraphicsDepth();
int CurrentGraphicsHertz();
int CurrentGraphicsFlags();
Ref<TGraphics> OpenGraphics(int width, int height, int depth, int hertz, int flags);
void CloseOpenedGraphics();
// sync: -1 paced as set up by OpenGraphics, 0 no wait, 1 wait for retrace.
void Flip(int sync);

// The current context's Visible(): 1 when it shows a window on a display, 0 for an
// off-screen context (no display could be opened) or no context.
int CurrentGraphicsVisible();

// Replaces the clock and sleep that OpenGraphics and Flip pace with (tests drive the pacing
// with a fake clock); null arguments restore MillisecondClock and SleepMillis.
void SetPacingClock(int (*clock)(), void (*sleep)(int));

// Starts the graphics module: hooks, system, polled input, FlipHookId. Runs once.
void StartGraphics();
