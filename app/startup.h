// Start-up: runs every module's initialiser once, dependencies first, before the
// application body. The order is explicit here, never left to static initialisation.
#pragma once

// Resets the floating-point environment, installs the handler for unhandled failures,
// starts the runtime core with the program's arguments and then every module.
void StartSheetBuilder(int argc, char** argv);

enum class TRenderer;
// Puts the GL 2D driver in force when `renderer` asks for it; otherwise the driver in force
// after start-up (the software one) stays.
void SelectRenderer(TRenderer renderer);
