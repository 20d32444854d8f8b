// Start-up: runs every module's initialiser once, dependencies first, before the
// application body. The order is explicit here, never left to static initialisation.
#pragma once

// Resets the floating-point environment, installs the handler for unhandled failures,
// starts the runtime core with the program's arguments and then every module.
void StartSheetBuilder(int argc, char** argv);
