// Runtime core: application identity and process exit actions.
#include "runtime/runtime.h"

#include <cstdlib>
#include <filesystem>

#include "runtime/arguments.h"
#include "runtime/text.h"

namespace {

const char16_t kDefaultTitle[] = u"Corvane Application";

String app_file;
String app_dir;
std::vector<String> app_args;
String app_title = kDefaultTitle;
std::vector<std::function<void()>> exit_actions;
bool exiting = false;

}  // namespace

void StartRuntime(int argc, char** argv) {
  static bool started = false;
  if (started) return;
  started = true;
  app_args.clear();
  for (int i = 0; i < argc; ++i) app_args.push_back(TextFromUtf8(argv[i]));
  std::string exe = ExecutableFile();
  if (exe.empty() && argc > 0) {
    std::error_code error;
    exe = std::filesystem::absolute(argv[0], error).string();
  }
  app_file = TextFromUtf8(exe);
  // The folder is the text up to the last separator (on Windows either slash is one).
  const bool windows_paths = std::filesystem::path::preferred_separator == '\\';
  const size_t separator = app_file.find_last_of(windows_paths ? u"/\\" : u"/");
  app_dir = separator == String::npos ? String() : app_file.substr(0, separator);
  app_title = kDefaultTitle;
}

String AppFile() { return app_file; }
String AppDir() { return app_dir; }
const std::vector<String>& AppArgs() { return app_args; }
String AppTitle() { return app_title; }
void SetAppTitle(const String& title) { app_title = title; }

void AddExitAction(std::function<void()> action) { exit_actions.push_back(std::move(action)); }

void RunExitActions() {
  exiting = true;
  // Note: each action is taken off the list before it runs, so an action that ends the
  // process or registers another never runs twice.
  while (!exit_actions.empty()) {
    std::function<void()> action = std::move(exit_actions.back());
    exit_actions.pop_back();
    action();
  }
}

bool ExitInProgress() { return exiting; }

void ExitProgram(int status) {
  RunExitActions();
  std::exit(status);
}
