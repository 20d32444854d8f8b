// System module: the driver in force for the platform's message pump and dialogs, the
// non-reentrant poll guard, URL normalisation, the millisecond clock, sleep and the date
// and time texts. Depends on events and the platform's system driver layer.
// State: CurrentSystemDriver, the poll guard and the work run before a sleep.
#include "graphics/system.h"

#include <atomic>
#include <ctime>
#include <filesystem>
#include <thread>

#include "graphics/platform/systemdriver.h"
#include "runtime/text.h"

namespace {

constexpr int kDateBufferSize = 256;

bool poll_running = false;

// Set on one thread, read by every thread that sleeps.
std::atomic<void (*)()> before_sleep{nullptr};
std::atomic<std::thread::id> before_sleep_thread;

void RunWorkBeforeSleep() {
  void (*work)() = before_sleep.load(std::memory_order_acquire);
  if (work && std::this_thread::get_id() == before_sleep_thread.load(std::memory_order_acquire)) {
    work();
  }
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
  const std::tm local = PlatformLocalTime(now);
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

int MillisecondClock() { return PlatformMillisecondClock(); }

void LowerThreadPriority() { PlatformLowerThreadPriority(); }

void SetOffScreenOnly(int off_screen) { off_screen_only = off_screen ? 1 : 0; }

int OffScreenOnly() { return off_screen_only; }

void SleepMillis(int ms) {
  if (ms < 0) return;
  // The sleep counts from the call: the work handed over before it is part of it.
  const long long deadline = PlatformNanoseconds() + static_cast<long long>(ms) * 1000000LL;
  RunWorkBeforeSleep();
  if (ms == 0) {
    PlatformYield();
    return;
  }
  PlatformSleepUntil(deadline);
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
  CurrentSystemDriver = CreatePlatformSystemDriver();
}
