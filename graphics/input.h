// Polled input: key, character and mouse state kept from the event chain while enabled.
// Every query polls the platform first. Depends on events and the system driver.
// State: the key, character and mouse arrays and flags, in input.cpp.
#pragma once

#include "graphics/event.h"

void EnablePolledInput(Ref<Object> source);
void DisablePolledInput();
int KeyHitCount(int key);
int IsKeyDown(int key);
int NextChar();
void FlushKeyState();
int WaitForKey();
int WaitForChar();
int MouseHitCount(int button);
int IsMouseDown(int button);
void FlushMouseState();
int WaitForMouse();
int MousePosX();
int MousePosY();
int MouseWheelPos();
int MouseDeltaX();
int MouseDeltaY();
int MouseWheelDelta();
int IsAppSuspended();
int AppTerminateRequested();

Ref<Object> PolledInputHook(int id, Ref<Object> data, Ref<Object> context);

// Starts the polled-input module (after the system module). Runs once.
void StartPolledInput();
