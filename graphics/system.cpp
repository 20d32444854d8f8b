// System module: the driver in force for the platform's message pump and dialogs, the
// non-reentrant poll guard, URL normalisation, the millisecond clock, sleep and the date
// and time texts. Depends on events and the SDL platform driver.
// State: CurrentSystemDriver and the poll guard.
#include "graphics/system.h"

#include <sched.h>  // for sched_yield

#include <ctime>
#include <filesystem>

#include "graphics/platform/sdlsystem.h"
#include "runtime/text.h"

namespace {

constexpr int kDateBufferSize = 256;

bool poll_running = false;

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

void SleepMillis(int ms) {
  if (ms < 0) return;
  if (ms == 0) {
    sched_yield();
    return;
  }
  timespec wait{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0) {
    // Interrupted by a signal: sleep what is left.
  }
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
