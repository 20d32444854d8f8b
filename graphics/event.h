// Events: TEvent records emitted on the event hook chain, the registry of event names and
// user event ids.
// Depends on hooks. State: EmitEventHookId, the names registry and the user id counter.
#pragma once

#include <memory>

#include "graphics/hook.h"

constexpr int EVENT_APPSUSPEND = 257;
constexpr int EVENT_APPRESUME = 258;
constexpr int EVENT_APPTERMINATE = 259;
constexpr int EVENT_KEYDOWN = 513;
constexpr int EVENT_KEYUP = 514;
constexpr int EVENT_KEYCHAR = 515;
constexpr int EVENT_KEYREPEAT = 516;
constexpr int EVENT_MOUSEDOWN = 1025;
constexpr int EVENT_MOUSEUP = 1026;
constexpr int EVENT_MOUSEMOVE = 1027;
constexpr int EVENT_MOUSEWHEEL = 1028;
constexpr int EVENT_MOUSEENTER = 1029;
constexpr int EVENT_MOUSELEAVE = 1030;

constexpr int MODIFIER_SHIFT = 1;
constexpr int MODIFIER_CONTROL = 2;
constexpr int MODIFIER_ALT = 4;
constexpr int MODIFIER_SYSTEM = 8;

// Emit passes the event itself down the chain, so it needs its own reference.
class TEvent : public Object, public std::enable_shared_from_this<TEvent> {
 public:
  String ToString() const override;
  // Runs the event hook chain with this event.
  virtual void Emit();
  static Ref<TEvent> Create(int id, Ref<Object> source, int data, int mods, int x, int y,
                            Ref<Object> extra);
  static int AllocUserId();
  static void RegisterId(int id, const String& name);
  static String DescriptionForId(int id);

  int id = 0;
  Ref<Object> source;
  int data = 0;
  int mods = 0;
  int x = 0;
  int y = 0;
  Ref<Object> extra;
};

extern int EmitEventHookId;

Ref<TEvent> CreateEvent(int id, Ref<Object> source, int data, int mods, int x, int y,
                        Ref<Object> extra);
void EmitEvent(const Ref<TEvent>& event);
int AllocUserEventId(const String& name);

// Starts the event module: hooks, EmitEventHookId and the 35 system event names. Runs once.
void StartEvents();
