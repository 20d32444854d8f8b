// Sprite generator through the recording 2D driver: the first sprites from the start state,
// to the last printed digit, the random draw count, the lines and their closing plots, facet
// boundaries with their pauses, presentations and alpha, the blend of each pass, the base
// colour and the black cell, and the Escape way out.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/sprite.h"
#include "draw2d/draw2d.h"
#include "draw2d/recording_driver.h"
#include "graphics/event.h"
#include "graphics/graphics.h"
#include "graphics/input.h"
#include "graphics/system.h"
#include "random/random.h"
#include "runtime/degrees.h"
#include "runtime/runtime.h"

namespace {

int pauses = 0;
int pause_millis = 0;
void CountPause(int ms) {
  ++pauses;
  pause_millis += ms;
}

// Steps of the generator between two states (the plain 64-bit recurrence), up to a limit.
int StepsBetween(int32_t from, int32_t to, int limit) {
  int64_t state = from;
  for (int steps = 0; steps <= limit; ++steps) {
    if (state == to) return steps;
    state = state * 48271 % 2147483647;
  }
  return -1;
}

// A value to six significant digits, the way the figures of a sprite are written down.
std::string SixDigits(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// A generator state from which the next sprite has the wanted facet or ring count.
int32_t FindSeed(int facets, int rings) {
  for (int32_t seed = 1; seed < 1000000; ++seed) {
    SeedRandom(seed);
    RandomInt(3, 6);
    const int f = RandomInt(8, 16);
    const int r = RandomInt(3, 6);
    if ((facets == 0 || f == facets) && (rings == 0 || r == rings)) return seed;
  }
  return 0;
}

// One line as the driver saw it: the front end passes the start as the translation and the
// end as an offset; the closing plot that follows lands on the end point.
struct SeenLine {
  float x0, y0, x1, y1;
  float alpha;  // in force when it was drawn
  bool closed;  // followed at once by its last-pixel plot
  float dx, dy;  // the end as the driver got it: an offset from the start
  int red, green, blue;  // colour in force
};

struct SpriteLog {
  std::vector<SeenLine> lines;
  std::vector<size_t> flips_at;  // number of lines drawn before each Flip(0)
  std::vector<float> blends;
};

SpriteLog ReadLog(const TRecordingDriver& recorder) {
  SpriteLog log;
  float alpha = -1;
  int red = -1, green = -1, blue = -1;
  const auto& records = recorder.records;
  for (size_t i = 0; i < records.size(); ++i) {
    const DrawRecord& r = records[i];
    switch (r.op) {
      case DrawOp::SetAlpha: alpha = r.a[0]; break;
      case DrawOp::SetColor:
        red = int(r.a[0]);
        green = int(r.a[1]);
        blue = int(r.a[2]);
        break;
      case DrawOp::SetBlend: log.blends.push_back(r.a[0]); break;
      case DrawOp::Flip:
        if (r.a[0] == 0) log.flips_at.push_back(log.lines.size());
        break;
      case DrawOp::DrawLine: {
        const bool closed = i + 1 < records.size() && records[i + 1].op == DrawOp::Plot;
        const DrawRecord& end = closed ? records[i + 1] : r;
        log.lines.push_back(SeenLine{r.a[4], r.a[5], end.a[0], end.a[1], alpha, closed, r.a[2],
                                     r.a[3], red, green, blue});
        break;
      }
      default: break;
    }
  }
  return log;
}

// Where a ring's point at `degrees` lies across the cell: cos(angle) x the ring's radius x
// half the cell from its centre line. Checked to within a thousandth of a pixel: what the
// lines must join, not how the sum is rounded (the pinned sheet checks the bits).
constexpr float kOnTheRing = 1e-3f;
float RingPoint(double degrees, float radius) {
  return static_cast<float>(32 + std::cos(degrees * 3.14159265358979323846 / 180) * radius * 32);
}

// The four lines of every segment at one step of a pass: line 1 joins the ring points at the
// step's angle and that angle turned by the ring's twist, line 2 the lattice angle and the
// lattice angle turned against the twist, lines 3 and 4 join both rings at one angle (the
// step's and the lattice's); every line runs from its ring's level to the next one's.
void ExpectLinesOfStep(const SpriteLog& log, const SpriteShape& shape, int pass, int step) {
  const int segments = shape.ring_count - 1;
  const size_t per_step = 4 * segments;
  const double theta = shape.start_angle + step / 10.0;
  const double lattice = theta + shape.lattice_offset;
  for (int j = 1; j <= segments; ++j) {
    const float top = shape.ring_radius[j], bottom = shape.ring_radius[j + 1];
    const float twist = shape.ring_twist[j];
    const float starts[4] = {RingPoint(theta, top), RingPoint(lattice, top),
                             RingPoint(theta, top), RingPoint(lattice, top)};
    const float ends[4] = {RingPoint(theta + twist, bottom), RingPoint(lattice - twist, bottom),
                           RingPoint(theta, bottom), RingPoint(lattice, bottom)};
    for (int k = 0; k < 4; ++k) {
      const size_t n = pass * 3601 * per_step + step * per_step + (j - 1) * 4 + k;
      ASSERT_LT(n, log.lines.size());
      const SeenLine& line = log.lines[n];
      const std::string where = "pass " + std::to_string(pass) + " step " +
                                std::to_string(step) + " segment " + std::to_string(j) +
                                " line " + std::to_string(k + 1);
      EXPECT_NEAR(line.x0, starts[k], kOnTheRing) << where;
      EXPECT_NEAR(line.x1, ends[k], kOnTheRing) << where;
      EXPECT_NEAR(line.y0, 64 * shape.ring_level[j], kOnTheRing) << where;
      EXPECT_NEAR(line.y1, 64 * shape.ring_level[j + 1], kOnTheRing) << where;
    }
  }
}

// A colour byte: clamped to 0 .. 255, then truncated.
int ColourByte(double value) {
  if (!(value >= 0)) value = 0;
  if (!(value <= 255)) value = 255;
  return int(value);
}

class SpriteTest : public ::testing::Test {
 protected:
  static TRecordingDriver* recorder;

  static void SetUpTestSuite() {
    StartRandom();
    StartGraphics();
    StartDraw2D();
    recorder = new TRecordingDriver;
    SelectGraphicsDriver(recorder, 2);
    OpenGraphics(64, 64, 0, 60, 0);
  }

  void SetUp() override {
    sprite_boundary_sleep = CountPause;
    pauses = 0;
    pause_millis = 0;
    SeedRandom(4660);
    hue_counter = 0;
    cell_width = 64;
    cell_height = 64;
    ResetDrawState();
    recorder->Clear();
  }
};
TRecordingDriver* SpriteTest::recorder = nullptr;

TEST_F(SpriteTest, FirstTwoSpritesFromTheStartState) {
  SpriteShape shape;
  DrawSprite(shape);

  EXPECT_EQ(shape.facet_count, 9);
  EXPECT_EQ(shape.facet_step, 400.0f);
  ASSERT_EQ(shape.ring_count, 5);
  const char* radii[] = {"0.287341", "0.494433", "0.494433", "0.280739", "0.0724684"};
  const char* levels[] = {"0.233333", "0.383333", "0.533333", "0.683333", "0.833333"};
  const float twists[] = {40, 40, -40, 40, 40};
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(SixDigits(shape.ring_radius[i]), radii[i - 1]) << "ring " << i;
    EXPECT_EQ(SixDigits(shape.ring_level[i]), levels[i - 1]) << "ring " << i;
    EXPECT_EQ(shape.ring_twist[i], twists[i - 1]) << "ring " << i;
  }
  EXPECT_EQ(SixDigits(shape.line_width), "1.00297");
  EXPECT_EQ(recorder->Last(DrawOp::SetLineWidth)->a[0], shape.line_width);
  EXPECT_EQ(shape.start_angle, 280);
  EXPECT_EQ(shape.lattice_offset, 0.0f);
  EXPECT_EQ(CurrentRandomSeed(), 1039941950);
  EXPECT_EQ(StepsBetween(4660, 1039941950, 400), 210);

  SpriteShape next;
  DrawSprite(next);
  EXPECT_EQ(next.facet_count, 8);
  EXPECT_EQ(next.ring_count, 6);
  EXPECT_EQ(next.start_angle, 53);
  EXPECT_EQ(next.lattice_offset, 15.0f);
  EXPECT_EQ(CurrentRandomSeed(), 1976519241);
}

TEST_F(SpriteTest, EveryLineIsClosedByItsLastPixelAndStaysInTheRings) {
  SpriteShape shape;
  DrawSprite(shape);
  const SpriteLog log = ReadLog(*recorder);

  // 2 passes x 3601 steps x 4 segments x 4 lines.
  ASSERT_EQ(log.lines.size(), 115232u);
  size_t unclosed = 0, outside = 0, wrong_rows = 0;
  for (size_t n = 0; n < log.lines.size(); ++n) {
    const SeenLine& l = log.lines[n];
    unclosed += !l.closed;
    const int j = int(n / 4 % 4) + 1;  // segment joining ring j to ring j + 1
    // Each end lies on its ring: within radius x half of the centre line, at the ring's level.
    const float top = shape.ring_radius[j] * 32, bottom = shape.ring_radius[j + 1] * 32;
    outside += std::fabs(l.x0 - 32) > top + 1e-3f || std::fabs(l.x1 - 32) > bottom + 1e-3f;
    wrong_rows += l.y0 != static_cast<float>(64.0 * shape.ring_level[j]) ||
                  std::fabs(l.y1 - 64.0 * shape.ring_level[j + 1]) > 1e-4;
  }
  EXPECT_EQ(unclosed, 0u);
  EXPECT_EQ(outside, 0u);
  EXPECT_EQ(wrong_rows, 0u);
}

TEST_F(SpriteTest, LinesJoinTheRingPointsOfEachStep) {
  const int steps[] = {0, 1, 37, 399, 400, 1234, 2999, 3599, 3600};
  SpriteShape shape;
  DrawSprite(shape);  // the first from the start state: no lattice offset
  SpriteLog log = ReadLog(*recorder);
  for (int pass = 0; pass < 2; ++pass) {
    for (int step : steps) ExpectLinesOfStep(log, shape, pass, step);
  }

  recorder->Clear();
  DrawSprite(shape);  // the next one: lattice offset 15, six rings
  ASSERT_EQ(shape.lattice_offset, 15.0f);
  log = ReadLog(*recorder);
  for (int pass = 0; pass < 2; ++pass) {
    for (int step : steps) ExpectLinesOfStep(log, shape, pass, step);
  }
}

// Bit for bit, every line starts at its ring point's x and reaches its other end, for
// every facet count (twists of whole tenths of a degree and of fractions) and for lattice
// offsets of 0 and more: the sprite works each cosine out once and shares it between
// angles that are the same number, and no line may come out different for it.
TEST_F(SpriteTest, EveryLineEndIsWhereItsOwnAngleGivesBitForBit) {
  const auto x_at = [](double degrees, float radius) {
    return static_cast<float>(32 + std::cos(degrees * kDegToRad) * radius * 32);
  };
  bool offset_zero = false, offset_more = false;
  for (int facets = 8; facets <= 16; ++facets) {
    SeedRandom(FindSeed(facets, 0));
    recorder->Clear();
    SpriteShape shape;
    DrawSprite(shape);
    ASSERT_EQ(shape.facet_count, facets);
    (shape.lattice_offset == 0 ? offset_zero : offset_more) = true;
    const SpriteLog log = ReadLog(*recorder);
    const int segments = shape.ring_count - 1;
    ASSERT_EQ(log.lines.size(), 2u * 3601 * 4 * segments);
    size_t wrong = 0;
    for (size_t n = 0; n < log.lines.size(); ++n) {
      const int step = int(n / (4 * segments) % 3601);
      const int j = int(n / 4 % segments) + 1;
      const double sweep = step / 10.0;
      const double theta = shape.start_angle + sweep;
      const double lattice = theta + shape.lattice_offset;
      const float twist = shape.ring_twist[j];
      const double starts[4] = {theta, lattice, theta, lattice};
      const double ends[4] = {theta + twist,
                              shape.start_angle + (sweep - twist) + shape.lattice_offset,
                              theta, lattice};
      const float x0 = x_at(starts[n % 4], shape.ring_radius[j]);
      const float x1 = x_at(ends[n % 4], shape.ring_radius[j + 1]);
      // The front end hands the driver the start and the way to the end.
      const SeenLine& line = log.lines[n];
      wrong += line.x0 != x0 || line.dx != static_cast<float>(double{x1} - x0);
    }
    EXPECT_EQ(wrong, 0u) << facets << " facets";
  }
  EXPECT_TRUE(offset_zero && offset_more);
}

TEST_F(SpriteTest, SegmentColourIsBaseTimesShadeTimesTheBrightnessOfItsFacet) {
  hue_counter = 90;  // red clamps to 255, green and blue are near 57.5 and do not clamp
  SpriteShape shape;
  DrawSprite(shape);
  EXPECT_EQ(shape.base_red, 255.0f);
  EXPECT_NEAR(shape.base_green, 57.5f, 1e-4);
  EXPECT_NEAR(shape.base_blue, 57.5f, 1e-4);
  const SpriteLog log = ReadLog(*recorder);

  // The first sprite's 210 generator steps: 50 before the sweep, then four brightness
  // draws at each of the ten boundaries of each pass.
  SeedRandom(4660);
  for (int i = 0; i < 25; ++i) RandomUnit();
  float brightness[2][10][5] = {};
  for (auto& pass : brightness) {
    for (auto& boundary : pass) {
      for (int j = 1; j <= 4; ++j) boundary[j] = static_cast<float>(RandomReal(0.7f, 1.5));
    }
  }
  ASSERT_EQ(CurrentRandomSeed(), 1039941950);

  for (int pass = 0; pass < 2; ++pass) {
    for (int step : {0, 1, 399, 400, 401, 2000, 3599, 3600}) {
      for (int j = 1; j <= 4; ++j) {
        const double factor = double{shape.ring_shade[j]} * brightness[pass][step / 400][j];
        const int red = ColourByte(static_cast<float>(shape.base_red * factor));
        const int green = ColourByte(static_cast<float>(shape.base_green * factor));
        const int blue = ColourByte(shape.base_blue * factor);  // not rounded to single
        const SeenLine& line = log.lines[pass * 3601 * 16 + step * 16 + (j - 1) * 4];
        EXPECT_EQ(line.red, red) << "pass " << pass << " step " << step << " segment " << j;
        EXPECT_EQ(line.green, green) << "pass " << pass << " step " << step << " segment " << j;
        EXPECT_EQ(line.blue, blue) << "pass " << pass << " step " << step << " segment " << j;
      }
    }
  }
}

TEST_F(SpriteTest, FacetBoundariesPauseAndPresentAndDrawBolderLines) {
  DrawSprite();
  const SpriteLog log = ReadLog(*recorder);

  // Nine facets of 400 tenths: steps 0, 400, ..., 3600, ten per pass.
  EXPECT_EQ(pauses, 20);
  EXPECT_EQ(pause_millis, 40);
  ASSERT_EQ(log.flips_at.size(), 20u);
  const size_t lines_per_step = 16, lines_per_pass = 3601 * lines_per_step;
  for (size_t b = 0; b < 20; ++b) {
    EXPECT_EQ(log.flips_at[b], (b / 10) * lines_per_pass + (b % 10) * 400 * lines_per_step)
        << "boundary " << b;
  }
  for (size_t n = 0; n < log.lines.size(); ++n) {
    const int step = int(n % lines_per_pass / lines_per_step);
    const bool boundary = step % 400 == 0;
    const bool straight = n % 4 >= 2;  // lines 3 and 4 take a quarter
    const float expected = boundary ? (straight ? 0.025f : 0.1f)
                                    : (straight ? 0.001875f : 0.0075f);
    ASSERT_EQ(log.lines[n].alpha, expected) << "line " << n << " at step " << step;
  }
}

// Every facet count pauses and presents at exactly the steps whose remainder by its facet
// width is 0, in each pass.
TEST_F(SpriteTest, EveryFacetCountHasItsBoundariesWhereTheExactRemainderIsZero) {
  for (int facets = 8; facets <= 16; ++facets) {
    SeedRandom(FindSeed(facets, 0));
    recorder->Clear();
    pauses = 0;
    SpriteShape shape;
    DrawSprite(shape);
    ASSERT_EQ(shape.facet_count, facets);
    std::vector<size_t> expected;
    const size_t per_step = 4 * (shape.ring_count - 1);
    for (int pass = 0; pass < 2; ++pass) {
      for (int step = 0; step <= 3600; ++step) {
        if (std::fmod(double(step), double{shape.facet_step}) == 0) {
          expected.push_back((pass * 3601 + step) * per_step);
        }
      }
    }
    EXPECT_EQ(ReadLog(*recorder).flips_at, expected) << facets << " facets";
    EXPECT_EQ(pauses, static_cast<int>(expected.size())) << facets << " facets";
  }
}

TEST_F(SpriteTest, ElevenFacetsGiveASingleBoundaryPerPass) {
  SeedRandom(FindSeed(11, 0));
  SpriteShape shape;
  DrawSprite(shape);
  ASSERT_EQ(shape.facet_count, 11);
  EXPECT_EQ(shape.facet_step, 327.27274f);
  const SpriteLog log = ReadLog(*recorder);
  EXPECT_EQ(pauses, 2);
  ASSERT_EQ(log.flips_at.size(), 2u);
  EXPECT_EQ(log.flips_at[1], log.lines.size() / 2);
  const size_t per_step = 4 * (shape.ring_count - 1);
  size_t bold = 0;
  for (const SeenLine& line : log.lines) bold += line.alpha == 0.1f || line.alpha == 0.025f;
  EXPECT_EQ(bold, 2 * per_step);
}

TEST_F(SpriteTest, SixteenFacetsGiveSeventeenBoundariesPerPass) {
  SeedRandom(FindSeed(16, 0));
  SpriteShape shape;
  DrawSprite(shape);
  ASSERT_EQ(shape.facet_count, 16);
  EXPECT_EQ(pauses, 34);
  const SpriteLog log = ReadLog(*recorder);
  ASSERT_EQ(log.flips_at.size(), 34u);
  // The last boundary of a pass is its last step, 3600.
  const size_t per_step = 4 * (shape.ring_count - 1);
  EXPECT_EQ(log.flips_at[16], 3600 * per_step);
  for (int i = 1; i <= shape.ring_count; ++i) EXPECT_EQ(std::fabs(shape.ring_twist[i]), 22.5f);
}

TEST_F(SpriteTest, SecondPassSwitchesFromAlphaToBlendZero) {
  DrawSprite();
  const SpriteLog log = ReadLog(*recorder);
  ASSERT_EQ(log.blends, (std::vector<float>{3, 3, 0}));
  // Pass 1's lines come after the switch to 0, pass 0's before it.
  size_t lines_before_zero = 0;
  for (const DrawRecord& r : recorder->records) {
    if (r.op == DrawOp::SetBlend && r.a[0] == 0) break;
    lines_before_zero += r.op == DrawOp::DrawLine;
  }
  EXPECT_EQ(lines_before_zero, log.lines.size() / 2);
  EXPECT_EQ(GetBlend(), 0);
}

TEST_F(SpriteTest, CellIsPaintedBlackBeforeTheFirstLine) {
  DrawSprite();
  const auto& records = recorder->records;
  size_t rect = records.size(), first_line = records.size();
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].op == DrawOp::DrawRect && rect == records.size()) rect = i;
    if (records[i].op == DrawOp::DrawLine && first_line == records.size()) first_line = i;
  }
  ASSERT_LT(rect, first_line);
  ASSERT_GT(rect, 0u);
  EXPECT_EQ(records[rect - 1].op, DrawOp::SetColor);
  EXPECT_EQ(records[rect - 1].a[0], 0);
  EXPECT_EQ(records[rect - 1].a[1], 0);
  EXPECT_EQ(records[rect - 1].a[2], 0);
  // The whole cell, from its top-left corner, at the alpha and blend ResetDrawState left.
  EXPECT_EQ(records[rect].a[0], 0);
  EXPECT_EQ(records[rect].a[1], 0);
  EXPECT_EQ(records[rect].a[2], 64);
  EXPECT_EQ(records[rect].a[3], 64);
  EXPECT_EQ(recorder->Count(DrawOp::DrawRect), 1u);
}

TEST_F(SpriteTest, HueStepsRoundTheWheelAndGivesTheBaseColour) {
  SpriteShape shape;
  DrawSprite(shape);
  EXPECT_EQ(shape.hue, 0);
  EXPECT_EQ(shape.base_red, 185.0f);
  EXPECT_EQ(shape.base_green, 255.0f);
  EXPECT_EQ(shape.base_blue, 0.0f);
  EXPECT_EQ(hue_counter, 30);

  // Every line colour is the base colour scaled by shade and brightness: blue stays 0.
  for (const DrawRecord& r : recorder->All(DrawOp::SetColor)) EXPECT_EQ(r.a[2], 0);

  hue_counter = 330;
  DrawSprite(shape);
  EXPECT_EQ(shape.hue, 330);
  EXPECT_EQ(hue_counter, 0);
  // sin 330 = -1/2 for red and blue (570 = 210), sin 450 = 1 for green (clamped).
  EXPECT_NEAR(shape.base_red, 57.5f, 1e-4);
  EXPECT_EQ(shape.base_green, 255.0f);
  EXPECT_NEAR(shape.base_blue, 57.5f, 1e-4);
}

TEST_F(SpriteTest, ShapesStayInTheirRangesOverManySprites) {
  for (int k = 0; k < 24; ++k) {
    SpriteShape shape;
    const int32_t before = CurrentRandomSeed();
    DrawSprite(shape);
    recorder->Clear();
    EXPECT_EQ(shape.hue, 30 * k % 360);
    ASSERT_GE(shape.ring_count, 3);
    ASSERT_LE(shape.ring_count, 6);
    EXPECT_GE(shape.ring_radius[1], 0.25f);
    EXPECT_LT(shape.ring_radius[1], 0.5f);
    const int middle = shape.ring_count / 2;
    EXPECT_EQ(shape.ring_radius[middle], shape.ring_radius[middle + 1]) << "sprite " << k;
    for (int i = 1; i <= shape.ring_count; ++i) {
      EXPECT_GE(shape.ring_radius[i], 0.05f);
      EXPECT_LE(shape.ring_radius[i], 0.95f);
      EXPECT_GE(shape.ring_shade[i], 0.25f);
      EXPECT_LE(shape.ring_shade[i], 1.0f);
      EXPECT_EQ(std::fabs(shape.ring_twist[i]), shape.facet_step / 10);
      if (i > 1) {
        EXPECT_NEAR(shape.ring_level[i] - shape.ring_level[i - 1], 0.15, 1e-6);
      }
    }
    // The draws are even: whatever the twists redrew, two steps per draw.
    EXPECT_EQ(StepsBetween(before, CurrentRandomSeed(), 2000) % 2, 0);
  }
}

TEST_F(SpriteTest, ThreeRingsKeepTheFirstRadiusForTheSecondRing) {
  SeedRandom(FindSeed(0, 3));
  SpriteShape shape;
  DrawSprite(shape);
  ASSERT_EQ(shape.ring_count, 3);
  EXPECT_EQ(shape.ring_radius[1], shape.ring_radius[2]);
  EXPECT_LT(shape.ring_radius[3], shape.ring_radius[2]);
  EXPECT_EQ(recorder->Count(DrawOp::DrawLine), 2u * 3601 * 2 * 4);
}

using SpriteDeathTest = SpriteTest;

TEST_F(SpriteDeathTest, EscapeEndsTheProgramWithStatusZeroAfterTheExitActions) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        AddExitAction([] { std::fputs("exit actions ran\n", stderr); });
        EnablePolledInput(nullptr);
        EmitEvent(CreateEvent(EVENT_KEYDOWN, nullptr, 27, 0, 0, 0, nullptr));
        DrawSprite();
        std::fputs("sprite finished\n", stderr);
      },
      ::testing::ExitedWithCode(0), "exit actions ran");
}

}  // namespace

namespace {

int handovers = 0;
void CountHandover() { ++handovers; }

TEST(SpritePause, CountsFromTheEndOfThePreviousPauseAndSkipsWhenTheWorkTookLonger) {
  using Clock = std::chrono::steady_clock;
  SetBeforeSleep(CountHandover);
  SpritePause(1);  // a start for the pauses below
  const Clock::time_point first_end = Clock::now();
  // Straight after a pause: it sleeps (handing the drawing over first) until the pause is
  // over, which began a moment before first_end.
  handovers = 0;
  SpritePause(3);
  EXPECT_GE(Clock::now() - first_end, std::chrono::milliseconds(2));
  EXPECT_EQ(handovers, 1);
  // After more work than a pause lasts: it is over already, nothing sleeps.
  const Clock::time_point work_start = Clock::now();
  while (Clock::now() - work_start < std::chrono::milliseconds(4)) {
  }
  handovers = 0;
  SpritePause(3);
  EXPECT_EQ(handovers, 0);
  SetBeforeSleep(nullptr);
}

}  // namespace
