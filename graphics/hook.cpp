// Hooks: numbered chains of callbacks, kept in descending priority, that thread one value
// through every link. The event module and the graphics module run their own chains.
// Depends on the runtime core. State: the 256 chain heads and the id counter.
#include "graphics/hook.h"

#include <vector>

namespace {

constexpr int kHookChains = 256;

THook* chains[kHookChains] = {};
int hook_counter = -1;
// Links dropped while a chain runs stay allocated until no chain runs, because the walk
// reads a link's successor after its function returns (a hook may drop itself).
int calls_running = 0;
std::vector<THook*> dropped_links;

// Ids come only from NewHookId; anything else is ignored rather than indexing outside the
// table.
bool ValidHookId(int id) { return id >= 0 && id < kHookChains; }

}  // namespace

void StartHooks() {
  static bool started = false;
  if (started) return;
  started = true;
  for (THook*& head : chains) head = nullptr;
}

int NewHookId() {
  // Note: the counter stays past 255 once there, so every later request raises too; it
  // stops one past the table instead of counting on towards a signed overflow.
  if (hook_counter < kHookChains) ++hook_counter;
  if (hook_counter > kHookChains - 1) throw TRuntimeError("Too many hook ids");
  return hook_counter;
}

void InsertHook(int id, HookFunction func, Ref<Object> context, int priority) {
  if (!ValidHookId(id)) return;
  THook* hook = new THook;
  hook->priority = priority;
  hook->func = func;
  hook->context = std::move(context);
  // Equal priorities keep their insertion order: walk past every link at or above ours.
  THook** link = &chains[id];
  while (*link && (*link)->priority >= priority) link = &(*link)->succ;
  hook->succ = *link;
  *link = hook;
}

Ref<Object> CallHooks(int id, Ref<Object> data) {
  if (!ValidHookId(id)) return data;
  struct Running {
    Running() { ++calls_running; }
    ~Running() {
      if (--calls_running == 0) {
        for (THook* hook : dropped_links) delete hook;
        dropped_links.clear();
      }
    }
  } running;
  for (THook* hook = chains[id]; hook;) {
    if (!hook->func) throw TRuntimeError("Attempt to call null function");
    data = hook->func(id, std::move(data), hook->context);
    hook = hook->succ;
  }
  return data;
}

void DropHook(int id, HookFunction func, const Ref<Object>& context) {
  if (!ValidHookId(id)) return;
  for (THook** link = &chains[id]; *link; link = &(*link)->succ) {
    THook* hook = *link;
    if (hook->func == func && hook->context == context) {
      *link = hook->succ;
      if (calls_running > 0) {
        dropped_links.push_back(hook);
      } else {
        delete hook;
      }
      return;
    }
  }
}
