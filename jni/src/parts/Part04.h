#pragma once
// Scene 4: 160 tentacles of 250 points shaped in the vertex shader over a background cloud;
// both layers are static vertex buffers and the camera rolls about Z.

#include "camera/Camera.h"
#include "parts/Part.h"
#include "particles/ParticleSet.h"

class Part04 final : public Part {
public:
    explicit Part04(Demo* demo) : Part(demo, "Part 04") {}
    bool init() override;
    void draw(uint32_t t) override;

    static float progressAt(uint32_t t);  // e, never exactly 0
    static float tentacleSpeed(uint32_t t) { float e = progressAt(t); return 5.0f * e * e * e + 0.2f; }

    Camera camera;
    ParticleSet cloudSet;
    ParticleSet tentacleSet;
    GLint cloudPsizeLocation = -1;
    GLint tentacleTimeLocation = -1;
    GLint tentaclePsizeLocation = -1;
    GLint tentacleSpeedLocation = -1;
};
