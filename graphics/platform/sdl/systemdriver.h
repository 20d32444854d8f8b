// System driver on SDL2: SDL plays the native window system's role on this platform. It
// is the one system driver, made when the system module starts; it pumps SDL's event
// queue, turns SDL events of graphics windows into TEvents, and brings up SDL video (on a
// display, or the off-screen driver when there is none) when the first window is made.
#pragma once

#include "graphics/platform/systemdriver.h"

union SDL_Event;
struct SDL_Window;

class TSDLSystemDriver : public TSystemDriver {
 public:
  // Runs the platform start-up: SDL's event queue (video waits for the first window).
  TSDLSystemDriver();
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

// Starts SDL video once: on the display when one can be opened, else on the off-screen
// driver. Returns 0 when neither works.
int StartSDLVideo();
// 1 when SDL video runs on a real display, 0 off-screen or not started.
int SDLVideoOnDisplay();
// Called as a graphics window closes (already out of the context list): when the keyboard
// focus goes with it, the next window of ours to gain the focus is a resume again.
void SDLWindowClosing(SDL_Window* window);

// Turns one SDL event of a graphics window into at most one TEvent (two for a key that
// also types a control character), emitted on the event chain.
void TranslateSDLEvent(const SDL_Event& event, const Ref<Object>& source);
// The Windows virtual-key code for an SDL key (scancode and keycode), or 0.
int VirtualKeyForSDLKey(int scancode, int keycode);
// Modifier mask (1 Shift, 2 Control, 4 Alt, 8 Windows key) from SDL's modifier state.
int ModifierMaskFromSDL(int sdl_mods);
