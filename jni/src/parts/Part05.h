#pragma once
// Scene 5: a disc and a sphere cloud growing in over a background, then the closing title.

#include "camera/Camera.h"
#include "ife/Ife.h"
#include "parts/Part.h"
#include "particles/ParticleSet.h"

class Part05 final : public Part {
public:
    explicit Part05(Demo* demo) : Part(demo, "Part 05") {}
    bool init() override;
    void draw(uint32_t t) override;

    // The disc cloud's draw count and growth at time t (updates the process-wide values).
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
