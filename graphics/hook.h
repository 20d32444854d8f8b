// Hooks: 256 numbered chains of callbacks, run in priority order, threading one value.
// Depends on the runtime core. State: the chain heads and the id counter, in hook.cpp.
#pragma once

#include "runtime/object.h"

using HookFunction = Ref<Object> (*)(int id, Ref<Object> data, Ref<Object> context);

struct THook {
  THook* succ = nullptr;
  int priority = 0;
  HookFunction func = nullptr;
  Ref<Object> context;
};

// Next free hook id (0 first); raises "Too many hook ids" past 255.
int NewHookId();
// Inserts after the last link whose priority is at least `priority`.
void InsertHook(int id, HookFunction func, Ref<Object> context, int priority);
// Runs chain `id` from the head, threading `data`; returns the final value.
Ref<Object> CallHooks(int id, Ref<Object> data);
// Unlinks the first link whose function and context both match.
void DropHook(int id, HookFunction func, const Ref<Object>& context);

// Starts the hook module (the 256 empty chains). Runs once.
void StartHooks();
