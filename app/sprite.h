// Sprite generator: draws one procedurally generated sprite, the side view of a faceted,
// lattice-shaded solid of revolution, into the cell the caller selected with a viewport and
// an origin. Every decision comes from the random generator in a fixed order; the base
// colour comes from hue_counter, which steps 30 degrees per sprite.
// Depends on the random generator, the 2D front end, Flip, polled input and SleepMillis.
// State: hue_counter, the end of the last facet pause (and the cell size the sheet loop
// sets before every cell).
#pragma once

// Cell size in pixels; the sheet loop copies the sprite size here before every cell.
extern int cell_width;
extern int cell_height;
// Hue in degrees of the next sprite; advanced by 30 mod 360 per sprite, never reset.
extern int hue_counter;

// The pause at every facet boundary (SpritePause); tests swap it to count the pauses.
extern void (*sprite_boundary_sleep)(int ms);

// Pauses until `ms` milliseconds after the previous pause ended, so that the lines worked
// out and the window presented since then happen inside the pause instead of after it;
// returns at once when they took longer. Before it sleeps, the drawing recorded so far is
// handed to the renderer (SleepMillis's work before a sleep).
void SpritePause(int ms);

// Whether DrawSprite leaves out the lines nobody can see in the finished cell (its random
// draws, pauses and presentations still happen): every line of its first pass, which the
// second draws again opaque, and each straight line of the second pass that the pass
// draws again, end for end, later on. Only for a sheet nobody watches: every pixel of a
// line left out is painted over, so the files are the same; a watcher sees the first pass
// grow, so a watched sheet draws every line.
extern bool sprite_hidden_lines_skipped;

// Most rings a sprite has; ring lists are indexed by ring number from 1.
constexpr int kMaxRings = 6;

// What one sprite was generated with, for callers that want to know (tests, tools).
// Ring lists use indices 1 .. ring_count; index 0 is never used.
struct SpriteShape {
  int facet_count = 0;
  float facet_step = 0;  // tenths of a degree per facet
  int ring_count = 0;
  float ring_radius[kMaxRings + 1] = {};  // fraction of half the cell width
  float ring_level[kMaxRings + 1] = {};   // fraction of the cell height, 0 at the top
  float ring_shade[kMaxRings + 1] = {};
  float ring_twist[kMaxRings + 1] = {};   // degrees
  float base_red = 0, base_green = 0, base_blue = 0;
  float line_width = 0;
  int start_angle = 0;       // degrees
  float lattice_offset = 0;  // degrees
  int hue = 0;               // hue_counter as the sprite read it
  int lines_drawn = 0;       // DrawLine calls made, lines left out not counted
};

// Puts the drawing state where the cell fill and DrawSprite start from: no rotation,
// alpha 1, white, alpha blending.
void ResetDrawState();
// Draws one sprite into the current cell (black background first). Escape pressed while it
// draws ends the program with status 0.
void DrawSprite();
// The same, also reporting the generated parameters.
void DrawSprite(SpriteShape& shape);
