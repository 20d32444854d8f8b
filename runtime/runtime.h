// Runtime core: the application's identity (executable, folder, arguments, title) and the
// process exit actions that modules register at start-up.
// State: the recorded identity and the list of exit actions, kept in runtime.cpp.
#pragma once

#include <functional>
#include <vector>

#include "runtime/object.h"

// Records the executable's file, folder and arguments and sets the application title to
// "Corvane Application". Runs once, before any other module starts.
void StartRuntime(int argc, char** argv);

String AppFile();
String AppDir();
const std::vector<String>& AppArgs();
String AppTitle();
void SetAppTitle(const String& title);

// Registers an action to run at process exit. Actions run newest first, each once.
void AddExitAction(std::function<void()> action);
// Runs the registered exit actions that have not run yet (newest first).
void RunExitActions();
// True once the exit actions have begun to run: the program is ending, and work that only
// a user could see (drawing still queued) may be dropped.
bool ExitInProgress();
// Runs the exit actions and ends the process with the given status.
[[noreturn]] void ExitProgram(int status);
