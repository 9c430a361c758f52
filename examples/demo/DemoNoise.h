// Seeded noise for the generated media: the same seed gives the same values
// on every machine (integer hashing, no library random generators).
#pragma once

#include <cstdint>

namespace orb::demo {

uint32_t Hash(int32_t x, int32_t y, uint32_t seed);

// Smooth value noise in 0 .. 1.
float ValueNoise(float x, float y, uint32_t seed);

// Octaves of value noise, each at twice the frequency and half the weight of
// the one before; 0 .. 1.
float Fbm(float x, float y, int32_t octaves, uint32_t seed);

// A small linear congruential generator.
class TRandom {
public:
    explicit TRandom(uint32_t seed) : m_state(seed) {}
    // 0 .. 1, 1 excluded.
    float Next();

private:
    uint32_t m_state;
};

}  // namespace orb::demo
