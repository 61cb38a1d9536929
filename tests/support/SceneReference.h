#pragma once
// The scenes' per-frame loops and the random-set builders written the plain way, one particle
// at a time with the library's sin and cos. The fast versions in the scenes must match them
// (bit for bit where the show depends on it); the benchmarks time both in the same run.

#include <cstdint>
#include <vector>

#include <glm/glm.hpp>

class Demo;
class Part02;
class Part03;
struct Particle;

namespace reference {

// Part 01: colours of the first `count` particles at time t.
void part01Colors(const Demo& demo, uint32_t t, uint32_t count, Particle* out);
// Part 02: moves, swirls and masks the 40000 particles into `out` (whose colours r and g are
// kept); returns how many were kept.
uint32_t part02Particles(const Demo& demo, const Part02& part, uint32_t t, Particle* out);
// Part 03: the 40000 strand particles at time t, from the scene's strands and colour ramp.
void part03Particles(const Demo& demo, const Part03& part, uint32_t t, Particle* out);

// The shared random sets, with the library's sin and cos for every direction.
void randomCloud(std::vector<glm::vec3>& out);
void randomDirections(std::vector<glm::vec3>& out);

} // namespace reference
