// Random generator: one process-wide Lehmer generator (multiplier 48271 modulo 2^31 - 1)
// from which every sprite decision is drawn, in a fixed order.
// Depends on nothing. State: random_state, kept in random.cpp; 4660 until seeded.
#pragma once

#include <cstdint>

// Sets the state from the seed's low 31 bits; 0 and 0x7FFFFFFF (outside the cycle) give 4660.
void SeedRandom(int32_t seed);
// The current state, unchanged.
int32_t CurrentRandomSeed();
// A real in [0, 1) with 53 significant bits; two generator steps.
double RandomUnit();
// A real between the two bounds, in either order; one RandomUnit.
double RandomReal(double min, double max);
// An integer between the two bounds, both included, in either order; one RandomUnit.
int32_t RandomInt(int32_t min, int32_t max);

// Starts the random module: the state is 4660. Runs once.
void StartRandom();
