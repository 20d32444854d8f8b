// The sheet builder's process entry: start every module, run the application body, run the
// exit actions (the window closes) and end with the body's status.
#include "app/sheetbuilder.h"
#include "app/startup.h"
#include "runtime/runtime.h"

int main(int argc, char** argv) {
  StartSheetBuilder(argc, argv);
  const int status = RunSheetBuilder();
  RunExitActions();
  return status;
}
