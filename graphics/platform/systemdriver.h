// System driver layer: what the system module (graphics/system.cpp) asks of the platform:
// its system driver, the clocks, sleeping and the local time. Each platform folder
// (graphics/platform/sdl, graphics/platform/win32) defines these in its systemdriver.cpp;
// CMake builds the one folder of the target platform.
#pragma once

#include <ctime>

#include "graphics/system.h"

// The platform's system driver; making it runs the platform start-up (timer resolution,
// message queue) and registers its release at exit. Called once by StartSystem.
Ref<TSystemDriver> CreatePlatformSystemDriver();
// True from CreatePlatformSystemDriver until the platform is released at exit.
bool PlatformRunning();
// Milliseconds since system start as a 32-bit value that wraps.
int PlatformMillisecondClock();
// A steady clock in nanoseconds, for deadlines.
long long PlatformNanoseconds();
// Sleeps until PlatformNanoseconds() reaches `deadline`, ending as close after it as the
// machine allows.
void PlatformSleepUntil(long long deadline);
// Gives the rest of the thread's time slice to others.
void PlatformYield();
// Lowers the calling thread's priority a step below the process's (see LowerThreadPriority).
void PlatformLowerThreadPriority();
// The local time of `now`.
std::tm PlatformLocalTime(std::time_t now);
