// Program flow and sheet loop: reads the settings, opens one window the size of a sheet,
// seeds the generator, and draws sheet after sheet of sprites, one per cell, writing each
// sheet's files and waiting for a key (R held: another sheet; any other key: the end).
// Depends on the settings, the sprite generator, the sheet output, the 2D front end, the
// graphics module and polled input. State: the grid and the cell being drawn.
#pragma once

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

// Called on the main thread after each cell of a sheet has been handed to the renderer
// (and presented, in a window), with the cells so far and all cells of the sheet; null (the
// default) for nobody. Without a display, a cell handed over is drawn by the renderer's
// threads soon after: they take at most one cell more per thread than they draw.
extern void (*sheet_cell_done)(int cells_done, int cells_all);

// One pass of the cell loop over the current context: clears it and draws every cell,
// presenting after each, paced to 60 Hz when `watched` (somebody sees the window), at once
// otherwise. (Part of RunSheetBuilder, callable by tests and benchmarks.)
void DrawSheet(bool watched);
