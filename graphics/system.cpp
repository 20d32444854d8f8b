// System module: the driver in force for the platform's message pump and dialogs, the
// non-reentrant poll guard, URL normalisation, the millisecond clock, sleep and the date
// and time texts. Depends on events and the SDL platform driver.
// State: CurrentSystemDriver, the poll guard and the work run before a sleep.
#include "graphics/system.h"

#include <sched.h>  // for sched_yield

#include <atomic>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <thread>

#include "graphics/platform/sdlsystem.h"
#include "runtime/text.h"

namespace {

constexpr int kDateBufferSize = 256;

bool poll_running = false;

// A sleep wakes some tens of microseconds after it asked to (the scheduler's latency, on
// top of the timer slack); the last stretch of a sleep is waited out on the clock instead,
// so that the program's 2 ms pauses take 2 ms and not 5 % more. The cost is at most this
// much busy waiting per sleep.
constexpr long kSpinNanoseconds = 60000;

// Set on one thread, read by every thread that sleeps.
std::atomic<void (*)()> before_sleep{nullptr};
std::atomic<std::thread::id> before_sleep_thread;

void RunWorkBeforeSleep() {
  void (*work)() = before_sleep.load(std::memory_order_acquire);
  if (work && std::this_thread::get_id() == before_sleep_thread.load(std::memory_order_acquire)) {
    work();
  }
}

long long Nanoseconds(const timespec& time) {
  return static_cast<long long>(time.tv_sec) * 1000000000LL + time.tv_nsec;
}

timespec FromNanoseconds(long long ns) {
  return {static_cast<time_t>(ns / 1000000000LL), static_cast<long>(ns % 1000000000LL)};
}

// Runs the driver's Poll or Wait unless a pass is already under way (a flush made by a
// hook inside a poll must not start a nested one).
template <class Pass>
void GuardedPass(Pass pass) {
  if (poll_running || !CurrentSystemDriver) return;
  poll_running = true;
  struct Clear {
    ~Clear() { poll_running = false; }
  } clear;
  pass(*CurrentSystemDriver);
}

bool StartsWithNoCase(const String& text, const String& prefix) {
  return text.size() >= prefix.size() && TextLower(text.substr(0, prefix.size())) == prefix;
}

String FormatNow(const char* format) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[kDateBufferSize];
  size_t length = std::strftime(buffer, sizeof buffer, format, &local);
  return TextFromUtf8(std::string_view(buffer, length));
}

// Windows off-screen only, as asked by SetOffScreenOnly.
int off_screen_only = 0;

}  // namespace

Ref<TSystemDriver> CurrentSystemDriver;

void SystemPoll() {
  GuardedPass([](TSystemDriver& driver) { driver.Poll(); });
}

void SystemWait() {
  GuardedPass([](TSystemDriver& driver) { driver.Wait(); });
}

void MoveMouse(int x, int y) { CurrentSystemDriver->MoveMouse(x, y); }
void SetMouseVisible(int visible) { CurrentSystemDriver->SetMouseVisible(visible); }
void Notify(const String& text, int serious) { CurrentSystemDriver->Notify(text, serious); }
int Confirm(const String& text, int serious) {
  return CurrentSystemDriver->Confirm(text, serious);
}
int Proceed(const String& text, int serious) {
  return CurrentSystemDriver->Proceed(text, serious);
}
String RequestFile(const String& text, const String& extensions, int save,
                   const String& path) {
  return CurrentSystemDriver->RequestFile(text, extensions, save, path);
}
String RequestDir(const String& text, const String& path) {
  return CurrentSystemDriver->RequestDir(text, path);
}

String NormaliseURL(const String& url) {
  for (const char16_t* scheme : {u"http:", u"https:", u"file:"}) {
    if (StartsWithNoCase(url, scheme)) return url;
  }
  String rest = url;
  String anchor;
  size_t hash = rest.find(u'#');
  if (hash != String::npos) {
    anchor = rest.substr(hash);
    rest.resize(hash);
  }
  std::error_code error;
  std::filesystem::path path(TextToUtf8(rest));
  if (!rest.empty() && std::filesystem::is_regular_file(path, error)) {
    std::filesystem::path full = std::filesystem::absolute(path, error);
    return u"file://" + TextFromUtf8(full.lexically_normal().string()) + anchor;
  }
  return u"http:" + rest + anchor;
}

int OpenURL(const String& url) { return CurrentSystemDriver->OpenURL(NormaliseURL(url)); }

int MillisecondClock() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  // Note: the value wraps like a 32-bit millisecond counter since system start.
  unsigned long long ms = static_cast<unsigned long long>(now.tv_sec) * 1000ull +
                          static_cast<unsigned long long>(now.tv_nsec / 1000000);
  return static_cast<int>(static_cast<unsigned>(ms));
}

void SetOffScreenOnly(int off_screen) { off_screen_only = off_screen ? 1 : 0; }

int OffScreenOnly() { return off_screen_only; }

void SleepMillis(int ms) {
  if (ms < 0) return;
  // The sleep counts from the call: the work handed over before it is part of it.
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long deadline = Nanoseconds(now) + static_cast<long long>(ms) * 1000000LL;
  RunWorkBeforeSleep();
  if (ms == 0) {
    sched_yield();
    return;
  }
  const timespec wake = FromNanoseconds(deadline - kSpinNanoseconds);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
    // Interrupted by a signal: the deadline stands.
  }
  do {
    clock_gettime(CLOCK_MONOTONIC, &now);
  } while (Nanoseconds(now) < deadline);
}

void SetBeforeSleep(void (*work)()) {
  // The thread first: a sleeping thread that sees the new work sees whose it is.
  before_sleep_thread.store(std::this_thread::get_id(), std::memory_order_release);
  before_sleep.store(work, std::memory_order_release);
}

String CurrentDateText() { return FormatNow("%d %b %Y"); }
String CurrentTimeText() { return FormatNow("%H:%M:%S"); }

void StartSystem() {
  static bool started = false;
  if (started) return;
  started = true;
  StartEvents();
  CurrentSystemDriver = std::make_shared<TSDLSystemDriver>();
}
