// System driver on Win32: the platform's message pump, pointer, message boxes, requesters
// and shell, the millisecond clock and sleep. It is the one system driver on Windows, made
// when the system module starts. State: the modifier mask, the pointer wish and the
// tracked window, in systemdriver.cpp.
#pragma once

#include <cstdint>

#include "graphics/platform/systemdriver.h"

struct HWND__;  // a native window (HWND)

class TWin32SystemDriver : public TSystemDriver {
 public:
  // Runs the platform start-up: 1 ms timer resolution (released at exit), main thread.
  TWin32SystemDriver();
  void Poll() override;
  void Wait() override;
  void MoveMouse(int x, int y) override;
  void SetMouseVisible(int visible) override;
  void Notify(const String& text, int serious) override;
  int Confirm(const String& text, int serious) override;
  int Proceed(const String& text, int serious) override;
  String RequestFile(const String& text, const String& extensions, int save,
                     const String& path) override;
  String RequestDir(const String& text, const String& path) override;
  int OpenURL(const String& url) override;
};

// Turns one window message into at most one TEvent, emitted on the event chain. The
// graphics window procedure calls it first for every message of a graphics window.
void TranslateOSMessage(HWND__* window, unsigned message, uintptr_t wparam, intptr_t lparam,
                        const Ref<Object>& source);
// The modifier mask (1 Shift, 2 Control, 4 Alt, 8 Windows key) copied into key and mouse
// events; recomputed by the pump when a modifier key goes down or up.
int Win32ModifierMask();
void SetWin32ModifierMask(int mask);
