// System driver: the platform's message pump (poll and wait), pointer, message boxes,
// requesters, URL opening, the millisecond clock and sleep, helper threads' priority, date
// and time texts.
// Depends on events. State: CurrentSystemDriver, the poll guard and the work run before a
// sleep, in system.cpp.
#pragma once

#include "graphics/event.h"

class TSystemDriver : public Object {
 public:
  virtual void Poll() = 0;
  virtual void Wait() = 0;
  virtual void MoveMouse(int x, int y) = 0;
  virtual void SetMouseVisible(int visible) = 0;
  virtual void Notify(const String& text, int serious) = 0;
  virtual int Confirm(const String& text, int serious) = 0;
  virtual int Proceed(const String& text, int serious) = 0;
  virtual String RequestFile(const String& text, const String& extensions, int save,
                             const String& path) = 0;
  virtual String RequestDir(const String& text, const String& path) = 0;
  virtual int OpenURL(const String& url) = 0;
};

extern Ref<TSystemDriver> CurrentSystemDriver;

// One non-reentrant pass over the pending platform messages.
void SystemPoll();
// Blocks until a message is pending, then polls. Non-reentrant like SystemPoll.
void SystemWait();
void MoveMouse(int x, int y);
void SetMouseVisible(int visible);
void Notify(const String& text, int serious = 0);
int Confirm(const String& text, int serious = 0);
int Proceed(const String& text, int serious = 0);
String RequestFile(const String& text, const String& extensions = String(), int save = 0,
                   const String& path = String());
String RequestDir(const String& text, const String& path = String());
// Opens `url` after NormaliseURL with the platform's default handler; 1 on success.
int OpenURL(const String& url);
// A text without a web or file scheme becomes a file URL when it names an existing file,
// else a web URL; an anchor from the first "#" on is kept at the end.
String NormaliseURL(const String& url);

// Milliseconds as a 32-bit value that wraps.
int MillisecondClock();
// Sleeps `ms` milliseconds, ending as close after them as the machine allows (see
// system.cpp); a negative argument does nothing, 0 yields. Before sleeping it runs the
// work set by SetBeforeSleep.
void SleepMillis(int ms);
// Sets work for SleepMillis to run before the thread sleeps (null for none), so that what
// can go on meanwhile starts now instead of after the sleep: the software renderer hands
// its recorded drawing to its raster thread. It runs only on the thread that set it, as
// what it touches belongs to that thread.
void SetBeforeSleep(void (*work)());
// Lowers the calling thread's scheduling priority a step below the program's: for helper
// threads that must not take the processor from the thread feeding them work (the
// software renderer's raster threads beside the thread that records their commands).
// Best effort: where the platform refuses, the priority stays.
void LowerThreadPriority();
// Asks for windows off-screen even where a display exists (a batch run that nobody
// watches); takes effect when the platform brings up its windowing, at the first window.
void SetOffScreenOnly(int off_screen);
// 1 when SetOffScreenOnly asked for it.
int OffScreenOnly();
String CurrentDateText();
String CurrentTimeText();

// Starts the system module: events first, then the platform driver. Runs once.
void StartSystem();
