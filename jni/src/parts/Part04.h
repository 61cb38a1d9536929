#pragma once
// Scene 4: 160 tentacles of 250 points shaped in the vertex shader over a background cloud;
// both layers are static vertex buffers and the camera rolls about Z.

#include "camera/Camera.h"
#include "particles/ParticleSet.h"
#include "parts/Part.h"

class Part04 final : public Part {
public:
    explicit Part04(Demo* owner) : Part(owner, "Part 04") {}
    bool init() override;
    void draw(uint32_t t) override;

    static constexpr uint32_t kTentacles = 160;
    static constexpr uint32_t kTentacleLength = 250;
    static constexpr uint32_t kTentacleParticles = kTentacles * kTentacleLength;
    static constexpr uint32_t kCloudParticles = 10000;

    // The CPU halves of init: tentacle particles carry their tentacle's direction in xyz and
    // their place along it in w; the background cloud is a dim cube of 50 units.
    bool fillTentacles();
    bool fillCloud();

    static float progressAt(uint32_t t); // e, never exactly 0
    static float tentacleSpeed(uint32_t t) {
        const float e = progressAt(t);
        return 5.0f * e * e * e + 0.2f;
    }

    Camera camera;
    ParticleSet cloudSet;
    ParticleSet tentacleSet;
    GLint cloudPsizeLocation = -1;
    GLint tentacleTimeLocation = -1;
    GLint tentaclePsizeLocation = -1;
    GLint tentacleSpeedLocation = -1;
};
