// The SDL platform layer without a window: key code mapping, modifier mask, clock, sleep,
// date and time texts, URL normalisation, and the hook id limit.
#include <SDL.h>
#include <gtest/gtest.h>
#if defined(__linux__)
#include <sys/resource.h>  // for getpriority
#include <sys/syscall.h>   // for SYS_gettid
#include <unistd.h>
#endif

#include <algorithm>  // for std::find
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <thread>
#include <vector>

#include "graphics/platform/sdl/systemdriver.h"
#include "graphics/system.h"
#include "runtime/text.h"

namespace {

int Key(SDL_Scancode scancode) {
  return VirtualKeyForSDLKey(scancode, SDL_GetKeyFromScancode(scancode));
}

TEST(KeyMapping, LettersDigitsAndFunctionKeys) {
  for (int i = 0; i < 26; ++i) {
    EXPECT_EQ(Key(static_cast<SDL_Scancode>(SDL_SCANCODE_A + i)), 65 + i);
  }
  EXPECT_EQ(Key(SDL_SCANCODE_0), 48);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(Key(static_cast<SDL_Scancode>(SDL_SCANCODE_1 + i)), 49 + i);
  }
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(Key(static_cast<SDL_Scancode>(SDL_SCANCODE_F1 + i)), 112 + i);
    EXPECT_EQ(Key(static_cast<SDL_Scancode>(SDL_SCANCODE_F13 + i)), 124 + i);
  }
  EXPECT_EQ(Key(SDL_SCANCODE_KP_0), 96);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(Key(static_cast<SDL_Scancode>(SDL_SCANCODE_KP_1 + i)), 97 + i);
  }
}

TEST(KeyMapping, LettersFollowTheLayoutsKeycode) {
  // The physical Q key typing "a" (an AZERTY layout) is the A key.
  EXPECT_EQ(VirtualKeyForSDLKey(SDL_SCANCODE_Q, SDLK_a), 65);
  // A letter key with a non-Latin keycode falls back to its physical letter.
  EXPECT_EQ(VirtualKeyForSDLKey(SDL_SCANCODE_R, 0x0440), 82);
}

TEST(KeyMapping, EditingNavigationKeypadAndPunctuation) {
  const std::pair<SDL_Scancode, int> expected[] = {
      {SDL_SCANCODE_ESCAPE, 27},        {SDL_SCANCODE_BACKSPACE, 8},
      {SDL_SCANCODE_TAB, 9},            {SDL_SCANCODE_RETURN, 13},
      {SDL_SCANCODE_PAUSE, 19},         {SDL_SCANCODE_CAPSLOCK, 20},
      {SDL_SCANCODE_SPACE, 32},         {SDL_SCANCODE_PAGEUP, 33},
      {SDL_SCANCODE_PAGEDOWN, 34},      {SDL_SCANCODE_END, 35},
      {SDL_SCANCODE_HOME, 36},          {SDL_SCANCODE_LEFT, 37},
      {SDL_SCANCODE_UP, 38},            {SDL_SCANCODE_RIGHT, 39},
      {SDL_SCANCODE_DOWN, 40},          {SDL_SCANCODE_PRINTSCREEN, 44},
      {SDL_SCANCODE_INSERT, 45},        {SDL_SCANCODE_DELETE, 46},
      {SDL_SCANCODE_LGUI, 91},          {SDL_SCANCODE_RGUI, 92},
      {SDL_SCANCODE_APPLICATION, 93},   {SDL_SCANCODE_KP_MULTIPLY, 106},
      {SDL_SCANCODE_KP_PLUS, 107},      {SDL_SCANCODE_KP_MINUS, 109},
      {SDL_SCANCODE_KP_PERIOD, 110},    {SDL_SCANCODE_KP_DIVIDE, 111},
      {SDL_SCANCODE_KP_ENTER, 13},      {SDL_SCANCODE_NUMLOCKCLEAR, 144},
      {SDL_SCANCODE_SCROLLLOCK, 145},   {SDL_SCANCODE_SEMICOLON, 186},
      {SDL_SCANCODE_EQUALS, 187},       {SDL_SCANCODE_COMMA, 188},
      {SDL_SCANCODE_MINUS, 189},        {SDL_SCANCODE_PERIOD, 190},
      {SDL_SCANCODE_SLASH, 191},        {SDL_SCANCODE_GRAVE, 192},
      {SDL_SCANCODE_LEFTBRACKET, 219},  {SDL_SCANCODE_BACKSLASH, 220},
      {SDL_SCANCODE_RIGHTBRACKET, 221}, {SDL_SCANCODE_APOSTROPHE, 222},
      {SDL_SCANCODE_CLEAR, 12},         {SDL_SCANCODE_HELP, 47},
      {SDL_SCANCODE_SLEEP, 95},         {SDL_SCANCODE_AC_BACK, 166},
      {SDL_SCANCODE_AC_HOME, 172},      {SDL_SCANCODE_AUDIOMUTE, 173},
      {SDL_SCANCODE_VOLUMEDOWN, 174},   {SDL_SCANCODE_VOLUMEUP, 175},
      {SDL_SCANCODE_AUDIONEXT, 176},    {SDL_SCANCODE_AUDIOPLAY, 179},
      {SDL_SCANCODE_MAIL, 180},         {SDL_SCANCODE_CALCULATOR, 183},
  };
  for (const auto& [scancode, code] : expected) {
    EXPECT_EQ(Key(scancode), code) << SDL_GetScancodeName(scancode);
  }
}

TEST(KeyMapping, ModifierKeysHaveTheirOwnSidesAndNeverTheSharedCodes) {
  EXPECT_EQ(Key(SDL_SCANCODE_LSHIFT), 160);
  EXPECT_EQ(Key(SDL_SCANCODE_RSHIFT), 161);
  EXPECT_EQ(Key(SDL_SCANCODE_LCTRL), 162);
  EXPECT_EQ(Key(SDL_SCANCODE_RCTRL), 163);
  EXPECT_EQ(Key(SDL_SCANCODE_LALT), 164);
  EXPECT_EQ(Key(SDL_SCANCODE_RALT), 165);
  for (int scancode = 0; scancode < SDL_NUM_SCANCODES; ++scancode) {
    int code = Key(static_cast<SDL_Scancode>(scancode));
    EXPECT_TRUE(code != 16 && code != 17 && code != 18) << scancode;
    EXPECT_TRUE(code >= 0 && code <= 255) << scancode;
  }
  EXPECT_EQ(Key(SDL_SCANCODE_UNKNOWN), 0);
}

TEST(KeyMapping, EveryKeySDLNamesIsMappedOrKnownToHaveNoCode) {
  // Keys that type a character or repeat another key's meaning.
  const std::pair<SDL_Scancode, int> expected[] = {
      {SDL_SCANCODE_KP_EQUALS, 146},      {SDL_SCANCODE_KP_EQUALSAS400, 146},
      {SDL_SCANCODE_SEPARATOR, 108},      {SDL_SCANCODE_KP_COMMA, 108},
      {SDL_SCANCODE_KP_DECIMAL, 110},     {SDL_SCANCODE_KP_00, 96},
      {SDL_SCANCODE_KP_CLEAR, 12},        {SDL_SCANCODE_KP_TAB, 9},
      {SDL_SCANCODE_KP_BACKSPACE, 8},     {SDL_SCANCODE_KP_SPACE, 32},
      {SDL_SCANCODE_KP_A, 65},            {SDL_SCANCODE_KP_F, 70},
      {SDL_SCANCODE_RETURN2, 13},         {SDL_SCANCODE_CANCEL, 3},
      {SDL_SCANCODE_INTERNATIONAL3, 220}, {SDL_SCANCODE_LANG1, 21},
  };
  for (const auto& [scancode, code] : expected) {
    EXPECT_EQ(Key(scancode), code) << SDL_GetScancodeName(scancode);
  }
  // Keys with no virtual-key code at all.
  const std::vector<SDL_Scancode> without_code = {
      SDL_SCANCODE_POWER,           SDL_SCANCODE_STOP,           SDL_SCANCODE_AGAIN,
      SDL_SCANCODE_UNDO,            SDL_SCANCODE_CUT,            SDL_SCANCODE_COPY,
      SDL_SCANCODE_PASTE,           SDL_SCANCODE_FIND,           SDL_SCANCODE_INTERNATIONAL6,
      SDL_SCANCODE_INTERNATIONAL7,  SDL_SCANCODE_INTERNATIONAL8, SDL_SCANCODE_INTERNATIONAL9,
      SDL_SCANCODE_LANG3,           SDL_SCANCODE_LANG4,          SDL_SCANCODE_LANG5,
      SDL_SCANCODE_LANG6,           SDL_SCANCODE_LANG7,          SDL_SCANCODE_LANG8,
      SDL_SCANCODE_LANG9,           SDL_SCANCODE_ALTERASE,       SDL_SCANCODE_OUT,
      SDL_SCANCODE_OPER,            SDL_SCANCODE_CLEARAGAIN,     SDL_SCANCODE_CURRENCYUNIT,
      SDL_SCANCODE_CURRENCYSUBUNIT, SDL_SCANCODE_KP_LEFTPAREN,   SDL_SCANCODE_KP_RIGHTPAREN,
      SDL_SCANCODE_KP_LEFTBRACE,    SDL_SCANCODE_KP_RIGHTBRACE,  SDL_SCANCODE_KP_XOR,
      SDL_SCANCODE_KP_POWER,        SDL_SCANCODE_KP_PERCENT,     SDL_SCANCODE_KP_LESS,
      SDL_SCANCODE_KP_GREATER,      SDL_SCANCODE_KP_AMPERSAND,   SDL_SCANCODE_KP_DBLAMPERSAND,
      SDL_SCANCODE_KP_VERTICALBAR,  SDL_SCANCODE_KP_DBLVERTICALBAR, SDL_SCANCODE_KP_COLON,
      SDL_SCANCODE_KP_HASH,         SDL_SCANCODE_KP_AT,          SDL_SCANCODE_KP_EXCLAM,
      SDL_SCANCODE_KP_MEMSTORE,     SDL_SCANCODE_KP_MEMRECALL,   SDL_SCANCODE_KP_MEMCLEAR,
      SDL_SCANCODE_KP_MEMADD,       SDL_SCANCODE_KP_MEMSUBTRACT, SDL_SCANCODE_KP_MEMMULTIPLY,
      SDL_SCANCODE_KP_MEMDIVIDE,    SDL_SCANCODE_KP_PLUSMINUS,   SDL_SCANCODE_KP_CLEARENTRY,
      SDL_SCANCODE_KP_BINARY,       SDL_SCANCODE_KP_OCTAL,       SDL_SCANCODE_KP_HEXADECIMAL,
      SDL_SCANCODE_BRIGHTNESSDOWN,  SDL_SCANCODE_BRIGHTNESSUP,   SDL_SCANCODE_DISPLAYSWITCH,
      SDL_SCANCODE_KBDILLUMTOGGLE,  SDL_SCANCODE_KBDILLUMDOWN,   SDL_SCANCODE_KBDILLUMUP,
      SDL_SCANCODE_EJECT,           SDL_SCANCODE_AUDIOREWIND,    SDL_SCANCODE_AUDIOFASTFORWARD,
      SDL_SCANCODE_SOFTLEFT,        SDL_SCANCODE_SOFTRIGHT,      SDL_SCANCODE_CALL,
      SDL_SCANCODE_ENDCALL,
  };
  // The sweep: a key SDL names (a new SDL may add some) is either given a code or listed
  // above; nothing vanishes unaccounted for.
  int named = 0;
  for (int scancode = 1; scancode < SDL_NUM_SCANCODES; ++scancode) {
    const auto key = static_cast<SDL_Scancode>(scancode);
    if (SDL_GetScancodeName(key)[0] == '\0') continue;
    ++named;
    const bool listed =
        std::find(without_code.begin(), without_code.end(), key) != without_code.end();
    EXPECT_NE(Key(key) != 0, listed) << SDL_GetScancodeName(key) << " (" << scancode << ")";
  }
  EXPECT_GT(named, 200);
}

TEST(ModifierMask, CombinesBothSidesOfEachModifier) {
  EXPECT_EQ(ModifierMaskFromSDL(KMOD_NONE), 0);
  EXPECT_EQ(ModifierMaskFromSDL(KMOD_RSHIFT), 1);
  EXPECT_EQ(ModifierMaskFromSDL(KMOD_LCTRL | KMOD_RALT), 2 | 4);
  EXPECT_EQ(ModifierMaskFromSDL(KMOD_RGUI | KMOD_LSHIFT), 8 | 1);
  EXPECT_EQ(ModifierMaskFromSDL(KMOD_NUM | KMOD_CAPS), 0);
}

TEST(SystemClock, SleepWaitsAndNegativeReturnsAtOnce) {
  StartSystem();
  // Fifty sleeps of -5 ms and of 0 ms: had any of them slept its 5 ms, they would take a
  // quarter of a second at least; they take next to nothing.
  auto before = std::chrono::steady_clock::now();
  for (int i = 0; i < 50; ++i) {
    SleepMillis(-5);
    SleepMillis(0);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(250));
  const int start = MillisecondClock();
  SleepMillis(20);
  EXPECT_GE(MillisecondClock() - start, 20);
  // The last stretch is waited out on the clock: a sleep never ends early.
  for (int i = 0; i < 20; ++i) {
    const auto asleep = std::chrono::steady_clock::now();
    SleepMillis(2);
    ASSERT_GE(std::chrono::steady_clock::now() - asleep, std::chrono::milliseconds(2));
  }
}

int work_before_sleep = 0;

TEST(SystemClock, WorkBeforeASleepRunsOnlyOnTheThreadThatSetIt) {
  StartSystem();
  SetBeforeSleep([] { ++work_before_sleep; });
  SleepMillis(1);
  SleepMillis(0);
  SleepMillis(-1);  // no sleep, no work
  EXPECT_EQ(work_before_sleep, 2);
  std::thread([] { SleepMillis(1); }).join();
  EXPECT_EQ(work_before_sleep, 2);
  SetBeforeSleep(nullptr);
  SleepMillis(1);
  EXPECT_EQ(work_before_sleep, 2);
}

TEST(SystemTexts, DateAndTimeFormats) {
  std::string date = TextToUtf8(CurrentDateText());
  std::string time = TextToUtf8(CurrentTimeText());
  EXPECT_TRUE(std::regex_match(date, std::regex("[0-3][0-9] [A-Z][a-z]{2} [0-9]{4}"))) << date;
  EXPECT_TRUE(std::regex_match(time, std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]"))) << time;
}

TEST(SystemUrl, NormalisesTextsWithoutAScheme) {
  EXPECT_EQ(NormaliseURL(u"http://example.org/a#b"), u"http://example.org/a#b");
  EXPECT_EQ(NormaliseURL(u"HTTPS://Example.org"), u"HTTPS://Example.org");
  EXPECT_EQ(NormaliseURL(u"File:///tmp/x"), u"File:///tmp/x");
  EXPECT_EQ(NormaliseURL(u"www.example.org/page#top"), u"http:www.example.org/page#top");
  auto file = std::filesystem::temp_directory_path() / "graphics_url_test.html";
  std::FILE* out = std::fopen(file.c_str(), "w");
  ASSERT_NE(out, nullptr);
  std::fclose(out);
  String path = TextFromUtf8(file.string());
  EXPECT_EQ(NormaliseURL(path + u"#part"), u"file://" + path + u"#part");
  std::filesystem::remove(file);
  // A folder is not a file to open.
  String folder = TextFromUtf8(std::filesystem::temp_directory_path().string());
  EXPECT_EQ(NormaliseURL(folder), u"http:" + folder);
}

TEST(SystemRequesters, AnswerNothingWithoutDialogs) {
  StartSystem();
  EXPECT_EQ(RequestFile(u"Open", u"png", 0, u"/tmp"), u"");
  EXPECT_EQ(RequestDir(u"Folder", u"/tmp"), u"");
}

#if defined(__linux__)
TEST(ThreadPriority, AHelperThreadGoesBelowTheProgramAndTheProgramStays) {
  const auto nice_of_this_thread = [] {
    return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
  };
  const int program = nice_of_this_thread();
  int helper = program;
  std::thread([&] {
    LowerThreadPriority();
    helper = nice_of_this_thread();
  }).join();
  EXPECT_EQ(helper, std::min(program + 5, 19));
  EXPECT_EQ(nice_of_this_thread(), program);
}
#endif

TEST(SystemPoll, WorksWithoutAnyWindowOrDisplay) {
  StartSystem();
  SDL_Event user{};
  user.type = SDL_USEREVENT;
  SDL_PushEvent(&user);
  SystemPoll();
  // The pending event was taken off SDL's queue by the poll.
  EXPECT_EQ(SDL_PeepEvents(&user, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT), 0);
}

TEST(HookIds, The257thIdRaisesAndSoDoesEveryLaterOne) {
  EXPECT_EXIT(
      {
        StartHooks();
        int last = -1;
        try {
          for (;;) last = NewHookId();
        } catch (const TRuntimeError& error) {
          bool first = std::string(error.what()) == "Too many hook ids";
          bool again = false;
          try {
            NewHookId();
          } catch (const TRuntimeError&) {
            again = true;
          }
          std::exit(last == 255 && first && again ? 0 : 1);
        }
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
