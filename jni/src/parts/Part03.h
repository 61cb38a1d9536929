#pragma once
// Scene 3: a dim fixed cloud in a vertex buffer and 40000 bright particles running along
// strands that fall from z = 3 to z = 0, coloured along a ramp. The moving particles are
// written into the Demo's shared particle set.

#include <vector>

#include "camera/Camera.h"
#include "particles/ParticleSet.h"
#include "parts/Part.h"
#include "parts/Spline.h"

// What a strand's four control points are made from: point 0 is (top, 3), point 1 the
// heading a, point 2 a * s1 and point 3 (a.x * s2, a.y * s2, 0). 32 bytes per strand.
struct StrandShape {
    float topX, topY;
    float headingX, headingY, headingZ;
    float s1, s2;
    float unused;
};

class Part03 final : public Part {
public:
    explicit Part03(Demo* owner) : Part(owner, "Part 03") {}
    bool init() override;
    void draw(uint32_t t) override;

    static constexpr uint32_t kCloudParticles = 10508;
    static constexpr uint32_t kStrandCount = 40000;

    // The CPU halves of init: the fixed cloud's particles, and the strands built from the
    // shared random sets and the generator's current state (one step per 10000 strands
    // created and per 10000 shaped when takeSteps), then the colour ramp.
    bool fillCloud();
    void buildStrands(bool takeSteps);
    // Sets the camera adjustments for patterns 17..20 at time t; other patterns keep them.
    void chooseShot(int32_t pattern, uint32_t t);
    // Writes the moving particles for time t into `out` (40000 entries): the strands and the
    // colour ramp evaluated as Spline::evaluate does, bit for bit, from the compact shapes.
    void updateParticles(uint32_t t, Particle* out) const;

    Camera camera;
    ParticleSet particleSet;
    std::vector<Spline> strands;
    Spline colorRamp;
    GLint psizeLocation = -1;
    // Built with the strands: their compact shapes, the two per-particle phase terms
    // |p.y| + 1 and 4 |p.x|, and the ramp's Bezier controls per segment (segment 3 holds
    // the end colour four times).
    std::vector<StrandShape> shapes;
    std::vector<float> phaseSpeed;
    std::vector<float> phaseStart;
    alignas(16) float rampControls[4][4][4] = {};
};
