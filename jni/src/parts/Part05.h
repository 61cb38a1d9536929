#pragma once
// Scene 5: a disc and a sphere cloud growing in over a background, then the closing title.

#include "camera/Camera.h"
#include "ife/Ife.h"
#include "particles/ParticleSet.h"
#include "parts/Part.h"

class Part05 final : public Part {
public:
    explicit Part05(Demo* owner) : Part(owner, "Part 05") {}
    bool init() override;
    void draw(uint32_t t) override;

    static constexpr uint32_t kMaxCloud = 35000;
    static constexpr uint32_t kBackgroundParticles = 10000;

    // The CPU halves of init: the three layers from the shared random sets. The disc holds
    // `cloudCount` particles and the sphere a quarter of that.
    bool fillDisc(uint32_t cloudCount);
    bool fillSphere(uint32_t cloudCount);
    bool fillBackground();

    // The disc cloud's draw count and growth at time t; draw() stores them in the
    // process-wide values below.
    static uint32_t cloudCountAt(uint32_t t);
    static float cloudGrowthAt(uint32_t t);

    Camera camera;
    ParticleSet backgroundSet;
    Ife vege;
    GLint backgroundPsizeLocation = -1;
    ParticleSet discSet;
    GLint discPsizeLocation = -1, discTimeLocation = -1, discCloudLocation = -1;
    ParticleSet sphereSet;
    GLint spherePsizeLocation = -1, sphereTimeLocation = -1, sphereCloudLocation = -1;
};

// Live for the whole program: init sizes the clouds from it, draw overwrites it.
extern uint32_t part05CloudCount;
extern float part05CloudGrowth;
