// Random generator: Lehmer steps in Schrage's decomposition, so that no intermediate value
// leaves 32 bits, and the unit, real and integer draws built on two steps each.
#include "random/random.h"

// Constants: the modulus 2^31 - 1 split as multiplier * quotient + remainder.
namespace {
constexpr int32_t kModulus = 2147483647;    // 2^31 - 1
constexpr int32_t kMultiplier = 48271;
constexpr int32_t kSchrageQuotient = 44488;  // kModulus div kMultiplier
constexpr int32_t kSchrageRemainder = 3399;  // kModulus mod kMultiplier
constexpr int32_t kStartState = 4660;        // 0x1234
constexpr double kTwoTo27 = 134217728.0;
constexpr double kTwoTo29 = 536870912.0;

// Module state.
int32_t random_state = kStartState;
bool started = false;

// One generator step: random_state * 48271 mod (2^31 - 1), without a 64-bit product.
void Step() {
  random_state = (random_state % kSchrageQuotient) * kMultiplier -
                 (random_state / kSchrageQuotient) * kSchrageRemainder;
  if (random_state < 0) random_state += kModulus;
}
}  // namespace

void SeedRandom(int32_t seed) {
  random_state = seed & 0x7FFFFFFF;
  if (random_state == 0 || random_state == kModulus) random_state = kStartState;
}

int32_t CurrentRandomSeed() { return random_state; }

double RandomUnit() {
  Step();
  const double b = random_state & 0x1FFFFFFC;  // bits 2-28
  Step();
  const double d = random_state & 0x1FFFFFF8;  // bits 3-28
  return (b + d / kTwoTo27) / kTwoTo29;
}

double RandomReal(double min, double max) {
  const double u = RandomUnit();
  if (max > min) return min + (max - min) * u;
  return max + (min - max) * u;
}

int32_t RandomInt(int32_t min, int32_t max) {
  const double u = RandomUnit();
  // Note: the span is formed in 64 bits, so bounds whose difference does not fit in 32 bits
  // (e.g. the whole int range) still give a result between them instead of overflowing.
  const int64_t span = int64_t{max} - int64_t{min};
  if (span > 0) return static_cast<int32_t>(static_cast<int64_t>(u * double(span + 1)) + min);
  return static_cast<int32_t>(static_cast<int64_t>(u * double(1 - span)) + max);
}

void StartRandom() {
  if (started) return;
  started = true;
  random_state = kStartState;
}
