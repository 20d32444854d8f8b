// Program flow and sheet loop: reads the settings, opens one window the size of a sheet,
// seeds the generator, and draws sheet after sheet of sprites, one per cell, writing each
// sheet's files and waiting for a key (R held: another sheet; any other key: the end). The
// command line's options steer it: where the settings and the files are, whether a window
// opens, whether the settings are only printed, and how much it says.
// Depends on the command line's options, the settings, the sprite generator, the sheet output, the 2D front end, the
// graphics module and polled input. State: the grid and the cell being drawn.
#pragma once

#include <functional>

struct TRunOptions;

// Grid size, computed once from the settings.
extern int cells_across;
extern int cells_down;
// The cell being drawn.
extern int cell_col;
extern int cell_row;

// Key codes the sheet builder answers to.
constexpr int kRepeatKey = 82;  // R

// The closing message, drawn after the files are written.
constexpr char16_t kFinishedMessage[] = u"Finished : Press any key to Quit";

// The application body. Returns the process exit status: 0 when the user ends it (or, with
// no display, once the sheet's files are written), 1 when the settings are unusable, the
// window cannot be opened or a file could not be written.
int RunSheetBuilder();
// The same, as the command line asks (settings file and arguments, output folder, no window,
// printed settings, verbose or quiet); RunSheetBuilder() is the run without arguments.
// Status 1 also when the output folder is not there.
int RunSheetBuilder(const TRunOptions& options);

// One pass of the cell loop over the current context: clears it and draws every cell,
// presenting after each, paced to 60 Hz when `watched` (somebody sees the window), at once
// otherwise. (Part of RunSheetBuilder, callable by tests and benchmarks.)
// `cell_done`, when given, hears after each cell how many of all are done. Without a
// display a cell counts as done once handed to the renderer, whose threads draw it soon
// after (they are at most one cell per thread behind).
void DrawSheet(bool watched, const std::function<void(int done, int total)>& cell_done = {});
