// The sheet builder's process entry: read the command line (help, version and usage errors
// end here, before anything starts), start every module, run the application body, run the
// exit actions (the window closes) and end with the body's status.
#include "app/commandline.h"
#include "app/sheetbuilder.h"
#include "app/startup.h"
#include "runtime/arguments.h"
#include "runtime/runtime.h"

int main(int argc, char** argv) {
  const TCommandLine command = ReadCommandLine(ProgramArguments(argc, argv));
  if (command.exit_status) return *command.exit_status;
  StartSheetBuilder(argc, argv);
  const int status = RunSheetBuilder(command.options);
  RunExitActions();
  return status;
}
