// Events: the TEvent record, its emit path over the event hook chain, the registry of
// event names and the user id counter.
// Depends on hooks. State: EmitEventHookId, the names registry and the user id counter.
#include "graphics/event.h"

#include "runtime/text.h"

namespace {

struct EventName {
  int id;
  const char16_t* name;
};

// The system's own event kinds, registered in id order at start-up.
constexpr EventName kSystemEvents[] = {
    {257, u"AppSuspend"},       {258, u"AppResume"},      {259, u"AppTerminate"},
    {260, u"AppOpenFile"},      {261, u"AppIdle"},        {513, u"KeyDown"},
    {514, u"KeyUp"},            {515, u"KeyChar"},        {516, u"KeyRepeat"},
    {1025, u"MouseDown"},       {1026, u"MouseUp"},       {1027, u"MouseMove"},
    {1028, u"MouseWheel"},      {1029, u"MouseEnter"},    {1030, u"MouseLeave"},
    {2049, u"TimerTick"},       {4097, u"HotkeyHit"},     {8193, u"GadgetAction"},
    {8194, u"GadgetPaint"},     {8195, u"GadgetSelect"},  {8196, u"GadgetMenu"},
    {8197, u"GadgetOpen"},      {8198, u"GadgetClose"},   {8199, u"GadgetDone"},
    {8200, u"GadgetLostFocus"}, {8201, u"GadgetShape"},   {16385, u"WindowMove"},
    {16386, u"WindowSize"},     {16387, u"WindowClose"},  {16388, u"WindowActivate"},
    {16389, u"WindowAccept"},   {32769, u"MenuAction"},   {65537, u"StreamEof"},
    {65538, u"StreamAvail"},    {131073, u"ProcessExit"},
};

// User ids count up from here; the first one handed out is 0x80000001.
constexpr unsigned kUserIdBase = 0x80000000u;

String id_names = u"}";
unsigned user_id_counter = kUserIdBase;

}  // namespace

int EmitEventHookId = -1;

String TEvent::ToString() const {
  String text = DescriptionForId(id);
  if (text.empty()) {
    if (id < 0) {
      text = u"UserEvent" + TextFromInt(static_cast<long long>(static_cast<unsigned>(id)) -
                                        static_cast<long long>(kUserIdBase));
    } else {
      text = u"Unknown Event, id=" + TextFromInt(id);
    }
  }
  text += u": data=" + TextFromInt(data) + u", mods=" + TextFromInt(mods) + u", x=" +
          TextFromInt(x) + u", y=" + TextFromInt(y) + u", extra=\"";
  if (auto string = std::dynamic_pointer_cast<TStringObject>(extra)) text += string->text;
  text += u"\"";
  return text;
}

void TEvent::Emit() {
  // The chain's result is ignored. Note: an event that is not owned by a Ref (made on the
  // stack) travels as a non-owning reference, valid for the length of the call.
  Ref<TEvent> self = weak_from_this().lock();
  if (!self) self = Ref<TEvent>(Ref<TEvent>(), this);
  CallHooks(EmitEventHookId, self);
}

Ref<TEvent> TEvent::Create(int id, Ref<Object> source, int data, int mods, int x, int y,
                           Ref<Object> extra) {
  auto event = std::make_shared<TEvent>();
  event->id = id;
  event->source = std::move(source);
  event->data = data;
  event->mods = mods;
  event->x = x;
  event->y = y;
  event->extra = std::move(extra);
  return event;
}

int TEvent::AllocUserId() {
  ++user_id_counter;
  return static_cast<int>(user_id_counter);
}

void TEvent::RegisterId(int id, const String& name) {
  id_names += TextFromInt(id) + u"{" + name + u"}";
}

String TEvent::DescriptionForId(int id) {
  String key = u"}";
  key += TextFromInt(id);
  key += u'{';
  size_t at = id_names.find(key);
  if (at == String::npos) return String();
  size_t start = at + key.size();
  size_t end = id_names.find(u'}', start);
  return id_names.substr(start, end - start);
}

Ref<TEvent> CreateEvent(int id, Ref<Object> source, int data, int mods, int x, int y,
                        Ref<Object> extra) {
  return TEvent::Create(id, std::move(source), data, mods, x, y, std::move(extra));
}

void EmitEvent(const Ref<TEvent>& event) {
  if (event) event->Emit();
}

int AllocUserEventId(const String& name) {
  int id = TEvent::AllocUserId();
  if (!name.empty()) TEvent::RegisterId(id, name);
  return id;
}

void StartEvents() {
  static bool started = false;
  if (started) return;
  started = true;
  StartHooks();
  EmitEventHookId = NewHookId();
  for (const EventName& entry : kSystemEvents) TEvent::RegisterId(entry.id, entry.name);
}
