// Sprite generator. The random draws, and the single-precision rounding of every value that
// the sprite stores, happen exactly in the order the sprite's look depends on: a given
// generator state and hue give the same sprite, line for line.
// Note: rounding to single precision is done with explicit float casts of double
// expressions; the app library is compiled with -ffp-contract=off so no fused multiply-add
// changes a result, and x86-64 evaluates double arithmetic in double (no x87 excess).
#include "app/sprite.h"

#include <bitset>
#include <chrono>
#include <cmath>  // for std::sin, std::cos, std::floor, std::lround, std::nan
#include <thread>  // for sleep_until

#include "draw2d/draw2d.h"
#include "graphics/graphics.h"
#include "graphics/input.h"
#include "graphics/system.h"
#include "random/random.h"
#include "runtime/degrees.h"
#include "runtime/runtime.h"

int cell_width = 64;
int cell_height = 64;
int hue_counter = 0;
void (*sprite_boundary_sleep)(int ms) = SpritePause;
bool sprite_hidden_lines_skipped = false;

namespace {

// Constants.
constexpr int kSweepSteps = 3600;         // tenths of a degree in one turn
constexpr float kRingLevelStep = 0.15f;   // height between rings, fraction of the cell
constexpr float kRadiusChangeMin = 0.15f;
constexpr double kRadiusChangeMax = 0.25;
constexpr float kRadiusMin = 0.05f;
constexpr float kRadiusMax = 0.95f;
constexpr float kShadeFalloff = 0.4f;
constexpr float kShadeJitter = 0.2f;
constexpr double kShadeMin = 0.25;
constexpr double kShadeMax = 1.0;
constexpr float kBrightnessMin = 0.7f;
constexpr double kBrightnessMax = 1.5;
constexpr double kHueBase = 185.0;
constexpr double kHueAmplitude = 255.0;
constexpr int kHueStep = 30;
constexpr float kLineAlpha = 0.0075f;      // faint lines build up the body
constexpr float kBoundaryAlpha = 0.1f;     // facet edges show
constexpr double kStraightAlphaFactor = 0.25;
constexpr int kBoundarySleepMillis = 2;
constexpr int kEscapeKey = 27;
// The end of a pause is waited out on the clock for this long, as a sleep may oversleep.
constexpr auto kPauseSpin = std::chrono::microseconds(100);

using PauseClock = std::chrono::steady_clock;

// Module state.
PauseClock::time_point last_pause_end;

// Internal helpers.

double Sin(double degrees) { return std::sin(degrees * kDegToRad); }
double Cos(double degrees) { return std::cos(degrees * kDegToRad); }

// Clamps to 0 .. 255; the negated tests also send a NaN to 0.
double ClampColour(double value) {
  if (!(value >= 0)) value = 0;
  if (!(value <= 255)) value = 255;
  return value;
}

// The shape: facets, rings and their radius walk, levels, shades and twists.
void GenerateRings(SpriteShape& shape) {
  RandomInt(3, 6);  // discarded
  shape.facet_count = RandomInt(8, 16);
  shape.facet_step = static_cast<float>(3600.0 / shape.facet_count);
  shape.ring_count = RandomInt(3, 6);
  const int middle = shape.ring_count / 2;

  float r = static_cast<float>(RandomReal(0.25, 0.5));
  const float level_base = static_cast<float>(0.5 - shape.ring_count / 12.0);

  for (int i = 1; i <= shape.ring_count; ++i) {
    shape.ring_radius[i] = r;
    // Note: the change after the last ring is drawn (it moves the generator) but never used.
    if (i < middle) {
      r = static_cast<float>(r + RandomReal(kRadiusChangeMin, kRadiusChangeMax));
    } else if (i > middle) {
      r = static_cast<float>(r - RandomReal(kRadiusChangeMin, kRadiusChangeMax));
    }
    if (!(r <= kRadiusMax)) r = kRadiusMax;
    if (!(r >= kRadiusMin)) r = kRadiusMin;

    shape.ring_level[i] = static_cast<float>(i * double{kRingLevelStep} + level_base);

    const double bracket = 1.0 - (double(i) / shape.ring_count) * double{kShadeFalloff};
    double shade = static_cast<float>(bracket + RandomReal(0, kShadeJitter));
    if (!(shade >= kShadeMin)) shade = kShadeMin;
    if (!(shade <= kShadeMax)) shade = kShadeMax;
    shape.ring_shade[i] = static_cast<float>(shade);

    // Note: a twist is never 0; each zero sign is redrawn, so the draw count varies.
    do {
      shape.ring_twist[i] =
          static_cast<float>(RandomInt(-1, 1) * (double{shape.facet_step} / 10));
    } while (shape.ring_twist[i] == 0);
  }
}

// The base colour from the hue, which then moves on for the next sprite.
void TakeBaseColour(SpriteShape& shape) {
  const int m = hue_counter;
  hue_counter = (hue_counter + kHueStep) % 360;
  shape.hue = m;
  shape.base_red = static_cast<float>(ClampColour(
      static_cast<float>(kHueBase + Sin(m) * kHueAmplitude)));
  shape.base_green = static_cast<float>(ClampColour(
      static_cast<float>(kHueBase + Sin(m + 120) * kHueAmplitude)));
  shape.base_blue = static_cast<float>(ClampColour(
      static_cast<float>(kHueBase + Sin(m + 240) * kHueAmplitude)));
}

// X of a ring point: the horizontal projection, cos_a the cosine of its angle, of radius `q`
// around the cell's centre line, passed on as a single-precision coordinate.
// Note: callers work each cosine out once and share it between the lines that use the
// same angle; the value is the same, so are the lines.
inline float RingX(int half, double cos_a, float q) {
  return static_cast<float>(half + cos_a * q * half);
}

// Cosines of one sprite's sweep angles, kept by where each angle falls on the sweep's grid
// of tenths of a degree from the start angle.
// Note: the lattice offset and most twists are whole tenths, so the lattice line's angle
// and the twisted ends' are often exactly the angle of another step, reached by a
// different sum. A kept cosine serves only its own angle, bit for bit, so every line is
// the one worked out directly; any other angle is worked out and kept in its place.
class SweepCosines {
 public:
  // The lowest and highest tenths a lookup may name: a twist is at most 45 degrees either
  // way and the lattice offset at most 75.
  static constexpr int kLow = -450;
  static constexpr int kHigh = kSweepSteps + 750 + 450;

  void Clear() {
    for (Entry& entry : entries_) entry.degrees = std::nan("");  // matches no angle
  }

  // The cosine of `degrees`, which lies at about `tenth` tenths from the start angle.
  double Get(int tenth, double degrees) {
    if (tenth < kLow || tenth > kHigh) return Cos(degrees);
    Entry& entry = entries_[tenth - kLow];
    if (!(entry.degrees == degrees)) {
      entry.degrees = degrees;
      entry.cosine = Cos(degrees);
    }
    return entry.cosine;
  }

 private:
  struct Entry {
    double degrees;
    double cosine;
  };
  Entry entries_[kHigh - kLow + 1];
};

// Module state: the cosines of the sprite being drawn.
SweepCosines sweep_cosines;

// The angle of a sweep step, `sweep_step` tenths of a degree after the start angle.
double SweepTheta(const SpriteShape& shape, float sweep_step) {
  return shape.start_angle + double{sweep_step} / 10;
}

// Whole tenths of a degree nearest to `degrees`.
int Tenths(double degrees) { return static_cast<int>(std::lround(degrees * 10)); }

// The colour of a ring's lines: its shade and brightness on the base colour.
struct TRingColour {
  int red, green, blue;
};

TRingColour RingColour(const SpriteShape& shape, int ring, float ring_brightness) {
  const double shade = shape.ring_shade[ring];
  const double brightness = ring_brightness;
  const double red = static_cast<float>(double{shape.base_red} * shade * brightness);
  const double green = static_cast<float>(double{shape.base_green} * shade * brightness);
  const double blue = double{shape.base_blue} * shade * brightness;  // full precision
  return {int(ClampColour(red)), int(ClampColour(green)), int(ClampColour(blue))};
}

// The cosines of the twisted ends of one step's lines for one twist.
struct TwistedCosines {
  float twist;
  double ring;     // of the ring line's lower end
  double lattice;  // of the lattice line's lower end
};

// The two sweeps of 3601 steps with their facet boundaries; returns the lines drawn.
int Sweep(const SpriteShape& shape) {
  int lines = 0;
  // Each ring's colour changes only with its brightness, drawn at the facet boundaries.
  TRingColour ring_colour[kMaxRings + 1] = {};
  const int segments = shape.ring_count - 1;
  const int half = cell_width / 2;
  const double facet_step = shape.facet_step;
  const int lattice_tenths = Tenths(shape.lattice_offset);
  int twist_tenths[kMaxRings + 1] = {};
  for (int j = 1; j <= segments; ++j) twist_tenths[j] = Tenths(shape.ring_twist[j]);
  sweep_cosines.Clear();
  // The facet boundaries, the same in both passes: the steps whose remainder by the facet
  // width is exactly 0, that is the whole multiples of the width that are whole steps.
  // Note: a multiple of the width (a float) by a count of at most 16 is exact in double,
  // so the steps are those an exact remainder (fmod) of every step would pick.
  std::bitset<kSweepSteps + 1> boundaries;
  if (facet_step > 0) {
    for (double multiple = 0; multiple <= kSweepSteps; multiple += facet_step) {
      if (multiple == std::floor(multiple)) boundaries[static_cast<int>(multiple)] = true;
    }
  }

  for (int pass = 0; pass < 2; ++pass) {
    SetBlend(BLEND_ALPHA);
    // Note: mode 0 names no blend; the 2D layer draws it as BlendSolid, so the second pass
    // paints opaque over the first.
    if (pass == 1) SetBlend(0);
    // Note: the second pass draws each line of the first again, with the same width and
    // the opaque blend, so nothing of the first pass can show in the finished cell.
    const bool lines_drawn = pass == 1 || !sprite_hidden_lines_skipped;
    const bool redrawn_left_out = pass == 1 && sprite_hidden_lines_skipped;

    for (float sweep_step = 0; sweep_step <= kSweepSteps; sweep_step += 1) {
      const int step = static_cast<int>(sweep_step);
      const bool boundary = boundaries[step];
      if (boundary) {
        sprite_boundary_sleep(kBoundarySleepMillis);
        Flip(0);
        for (int j = 1; j <= segments; ++j) {
          const float brightness =
              static_cast<float>(RandomReal(kBrightnessMin, kBrightnessMax));
          ring_colour[j] = RingColour(shape, j, brightness);
        }
      }
      if (!lines_drawn) continue;
      const double sweep_angle = double{sweep_step} / 10;
      const double theta = SweepTheta(shape, sweep_step);
      const double lattice = theta + shape.lattice_offset;
      // A straight line drawn again later in this opaque pass, with the same ends, is
      // painted over pixel for pixel. With no lattice offset the straight lattice line is
      // the straight ring line, drawn right after it. With one, the straight lattice line is
      // the straight ring line of the step that many tenths on, when that step's angle is
      // exactly this lattice angle (the same cosine, so the same ends); with an offset no
      // straight ring line is left out, so that one is drawn.
      const bool ring_straight_redrawn = redrawn_left_out && lattice == theta;
      const bool lattice_straight_redrawn =
          redrawn_left_out && lattice_tenths > 0 && step + lattice_tenths <= kSweepSteps &&
          SweepTheta(shape, static_cast<float>(step + lattice_tenths)) == lattice;
      const double cos_theta = sweep_cosines.Get(step, theta);
      const double cos_lattice = sweep_cosines.Get(step + lattice_tenths, lattice);
      // Note: the ends of the twisted lines depend only on this step and the ring's twist,
      // and rings share twists (each is plus or minus a tenth of the facet step), so each
      // twist's two cosines are found once a step: the same expressions, the same values.
      TwistedCosines twisted[kMaxRings];
      int twists_known = 0;

      for (int j = 1; j <= segments; ++j) {
        const TRingColour& colour = ring_colour[j];
        SetColor(colour.red, colour.green, colour.blue);

        SetAlpha(kLineAlpha);
        if (boundary) SetAlpha(kBoundaryAlpha);

        const float top_radius = shape.ring_radius[j];
        const float bottom_radius = shape.ring_radius[j + 1];
        const float twist = shape.ring_twist[j];
        const float y1 = static_cast<float>(cell_height * double{shape.ring_level[j]});
        const float y2 = static_cast<float>(cell_height * double{shape.ring_level[j + 1]});

        int k = 0;
        while (k < twists_known && twisted[k].twist != twist) ++k;
        if (k == twists_known) {
          twisted[k].twist = twist;
          twisted[k].ring = sweep_cosines.Get(step + twist_tenths[j], theta + twist);
          // The twist runs the other way on the lattice line.
          twisted[k].lattice =
              sweep_cosines.Get(step - twist_tenths[j] + lattice_tenths,
                                shape.start_angle + (sweep_angle - twist) + shape.lattice_offset);
          ++twists_known;
        }

        DrawLine(RingX(half, cos_theta, top_radius), y1,
                 RingX(half, twisted[k].ring, bottom_radius), y2, 1);
        DrawLine(RingX(half, cos_lattice, top_radius), y1,
                 RingX(half, twisted[k].lattice, bottom_radius), y2, 1);
        SetAlpha(static_cast<float>(GetAlpha() * kStraightAlphaFactor));
        lines += 2 + !ring_straight_redrawn + !lattice_straight_redrawn;
        if (!ring_straight_redrawn) {
          DrawLine(RingX(half, cos_theta, top_radius), y1,
                   RingX(half, cos_theta, bottom_radius), y2, 1);
        }
        if (!lattice_straight_redrawn) {
          DrawLine(RingX(half, cos_lattice, top_radius), y1,
                   RingX(half, cos_lattice, bottom_radius), y2, 1);
        }

        if (KeyHitCount(kEscapeKey) != 0) ExitProgram(0);
      }
    }
  }
  return lines;
}

}  // namespace

void SpritePause(int ms) {
  const PauseClock::time_point now = PauseClock::now();
  const PauseClock::time_point deadline = last_pause_end + std::chrono::milliseconds(ms);
  if (deadline <= now) {
    // Note: the work since the last pause took the whole pause; a late pause is not made
    // up by shorter ones later, as a late frame is not.
    last_pause_end = now;
    return;
  }
  SleepMillis(0);  // hands the drawing recorded so far to the renderer first
  std::this_thread::sleep_until(deadline - kPauseSpin);
  while (PauseClock::now() < deadline) {
  }
  last_pause_end = deadline;
}

void ResetDrawState() {
  SetRotation(0);
  SetAlpha(1);
  SetColor(255, 255, 255);
  SetBlend(BLEND_ALPHA);
}

void DrawSprite() {
  SpriteShape shape;
  DrawSprite(shape);
}

void DrawSprite(SpriteShape& shape) {
  shape = SpriteShape{};
  GenerateRings(shape);

  SetColor(0, 0, 0);
  DrawRect(0, 0, cell_width, cell_height);

  RandomInt(0, 360);  // discarded
  TakeBaseColour(shape);
  shape.line_width = static_cast<float>(RandomReal(1, 4));
  SetLineWidth(shape.line_width);
  shape.start_angle = int(RandomReal(0, 360));
  shape.lattice_offset = static_cast<float>(RandomInt(0, 5) * 15);

  shape.lines_drawn = Sweep(shape);
}
