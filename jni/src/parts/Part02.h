#pragma once
// Scene 2: 40000 points drifting through a cube, swirled about the vertical axis and kept
// only where the floor mask "ventillator.tga" is not white. The camera jumps on the pattern.

#include <memory>
#include <string>
#include <vector>

#include "camera/Camera.h"
#include "particles/ParticleSet.h"
#include "parts/Part.h"

constexpr uint32_t kMaskHeaderBytes = 18;
constexpr uint32_t kMaskSide = 256;

class Part02 final : public Part {
public:
    explicit Part02(Demo* owner) : Part(owner, "Part 02") {}
    ~Part02() override;
    Part02(const Part02&) = delete;
    Part02& operator=(const Part02&) = delete;
    bool init() override;
    void draw(uint32_t t) override;

    // The CPU halves of init: particle colours from the random cloud and the motion's start
    // points and directions copied into plain arrays, and the mask file read and turned into
    // densities (fails with a message when missing or too short).
    bool fillParticles();
    bool loadMask();
    // Sets the camera adjustments for patterns 13..16; other patterns keep the last shot.
    void chooseShot(int32_t pattern);

    // Moves, swirls and masks every particle for time t; returns how many were kept. Slots
    // from the returned count on are left as they were.
    uint32_t updateParticles(uint32_t t);
    static float wrap(float c); // c - trunc(c), keeps the sign
    // Index into the mask file of the pixel under a rotated point (header skipped); points
    // off the grid, or on its far edge, sample column or row 255.
    static uint32_t maskIndex(float rx, float rz);

    Camera camera;
    ParticleSet particleSet;
    uint32_t particleCount = 40000;
    std::string maskFileName;
    uint32_t maskFileSize = 0;
    uint8_t* maskFileBytes = nullptr;
    std::unique_ptr<float[]> densityMask;
    std::unique_ptr<int32_t[]> particleGroups;
    GLint timeLocation = -1;
    GLint psizeLocation = -1;
    // Point i and direction i, one array per coordinate.
    std::vector<float> startX, startY, startZ;
    std::vector<float> headingX, headingY, headingZ;
};
