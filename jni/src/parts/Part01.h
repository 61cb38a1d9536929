#pragma once
// Scene 1: a cloud of 20000 additive point sprites pulsing with the music, credits over it.

#include <vector>

#include "camera/Camera.h"
#include "ife/Ife.h"
#include "particles/ParticleSet.h"
#include "parts/Part.h"

class Part01 final : public Part {
public:
    explicit Part01(Demo* owner) : Part(owner, "Part 01") {}
    bool init() override;
    void draw(uint32_t t) override;

    // The CPU half of init: particleCount particles at the first random points, colour 0,
    // and the two random coordinates each colour pulse reads, copied into plain arrays.
    bool fillParticles();
    // How many particles draw() colours and draws at time t (0 means all).
    static uint32_t countAt(uint32_t t, int32_t pattern);
    // Writes the colours of the first `count` particles for time t.
    void updateColors(uint32_t t, uint32_t count);

    ParticleSet particleSet;
    Camera camera;
    GLint timeLocation = -1;
    GLint tracks2Location = -1;
    GLint psizeLocation = -1;
    Ife credits;
    uint32_t particleCount = 20000;
    // Pulse inputs per particle: point (404 + i).x and point (808 + i).y.
    std::vector<float> pulseRate;
    std::vector<float> pulseOffset;
};
