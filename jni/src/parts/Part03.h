#pragma once
// Scene 3: a dim fixed cloud in a vertex buffer and 40000 bright particles running along
// strands that fall from z = 3 to z = 0, coloured along a ramp. The moving particles are
// written into the Demo's shared particle set.

#include <vector>

#include "camera/Camera.h"
#include "particles/ParticleSet.h"
#include "parts/Part.h"
#include "parts/Spline.h"

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
    // colour ramp evaluated as Spline::evaluate does, bit for bit, from the strand fields.
    void updateParticles(uint32_t t, Particle* out) const;

    Camera camera;
    ParticleSet particleSet;
    std::vector<Spline> strands;
    Spline colorRamp;
    GLint psizeLocation = -1;
    // Built with the strands, one entry per strand: what its control points are made of
    // (point 0 is (top, 3), point 1 the heading a, point 2 bend * a and point 3
    // (reach * a.x, reach * a.y, 0)), the two phase terms |p.y| + 1 and 4 |p.x|, and the
    // ramp's Bezier controls per segment (segment 3 holds the end colour four times).
    std::vector<float> strandTopX, strandTopY;
    std::vector<float> strandHeadingX, strandHeadingY, strandHeadingZ;
    std::vector<float> strandBend, strandReach;
    std::vector<float> phaseSpeed;
    std::vector<float> phaseStart;
    alignas(16) float rampControls[4][4][4] = {};
};
