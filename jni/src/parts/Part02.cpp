// Scene 2: every frame all 40000 particles are moved, swirled and tested against the floor
// mask on the CPU; the kept ones are packed at the front of the vector the draw reads.

#include "parts/Part02.h"

#include <algorithm>
#include <cmath>

#include "demo/Demo.h"
#include "loader/Loader.h"
#include "parts/FastTrig.h"
#include "progress/Progress.h"
#include "report/Errors.h"

namespace {

constexpr uint32_t kMaskBytesNeeded = kMaskHeaderBytes + kMaskSide * kMaskSide;
constexpr const char* kMaskName = "ventillator.tga";

struct Shot {
    float side, up, view, rotationX, rotationY, rotationZ;
};
// Patterns 13..16.
constexpr Shot kShots[4] = {
    {-0.50000054f, 1.5999999f, 7.9199944f, 92.0f, -173.0f, -1884.0555f},
    {-0.50000054f, 1.5999999f, -1.0800056f, -8.0f, -208.0f, -1884.0555f},
    {-0.67000037f, 1.5999999f, 7.7699909f, 53.0f, -161.0f, -1884.0555f},
    {-0.67000037f, 1.5999999f, -7.2300091f, -52.0f, -394.0f, -1884.0555f},
};
constexpr int32_t kFirstShotPattern = 13;

// trunc((v + 1) * 128), or 255 when that is not in 0..255.
inline uint32_t gridCell(float v) {
    const float cell = (v + 1.0f) * 128.0f;
    return cell > -1.0f && cell < 256.0f ? static_cast<uint32_t>(static_cast<int32_t>(cell)) : 255u;
}

// Particles are moved a block at a time into plain arrays, then looked up and packed.
constexpr uint32_t kBlock = 256;

// A cell coordinate from the fast rotation differs from the library's by at most
// 128 * (2 * kFastTrigMaxError + 4 * 2^-24) = 1.3e-4 of a cell (two products and a sum
// rounded on each side, then the + 1). Every decision (trunc, and the range test at -1 and
// 256) changes only at whole numbers, so a cell farther than this margin from one decides
// exactly as the library would; nearer ones are recomputed with it.
constexpr float kCellMargin = 1.0f / 1024.0f;
static_assert(128.0f * (2.0f * kFastTrigMaxError + 4.0f / 16777216.0f) < kCellMargin / 4.0f,
              "the margin must cover the fast rotation's error with room to spare");

// For a cell coordinate from a point within sqrt(2) of the origin (|cell| < 310, so the
// truncation is defined): the grid cell as gridCell decides it, and whether the coordinate
// lies within the margin of a whole number. In range, trunc(cell) is the cell; below 0 (cell
// at or under -1) the unsigned value is huge and at 256 or more it is too big, so both clamp
// to 255, and cells in (-1, 0) truncate to 0 as the range test allows.
inline uint32_t clampedCell(int32_t truncated) {
    const uint32_t cell = static_cast<uint32_t>(truncated);
    return cell < 255u ? cell : 255u;
}
inline int32_t nearWholeNumber(float cell, int32_t truncated) {
    const float fraction = std::fabs(cell - static_cast<float>(truncated));
    return (fraction < kCellMargin) | (fraction > 1.0f - kCellMargin);
}

// c - trunc(c) for |c| < 2^31, in a form that vectorises.
inline float wrapSmall(float c) {
    return c - static_cast<float>(static_cast<int32_t>(c));
}

} // namespace

Part02::~Part02() {
    delete[] maskFileBytes;
}

bool Part02::init() {
    if (!fillParticles())
        return false;
    if (!particleSet.load("particlePart02.glsl", "envflare3.tga",
                          static_cast<float>(demo->screenWidth))) {
        return false;
    }
    lookupUniforms(particleSet, {"uTime", "uPsize"}, {&timeLocation, &psizeLocation});

    particleGroups.reset(new int32_t[particleCount]);
    for (uint32_t j = 0; j < particleCount; ++j)
        particleGroups[j] = static_cast<int32_t>(j & 15);

    progressStep();
    if (!loadMask())
        return false;

    sceneLens(camera);
    openingShot(camera);
    return true;
}

bool Part02::fillParticles() {
    // Colours read points 404.. and 808..; the motion reads points and directions 0..39999.
    if (!hasSharedSets(808 + particleCount, particleCount))
        return false;
    const std::vector<glm::vec3>& points = demo->randomPoints;
    const std::vector<glm::vec3>& directions = demo->randomDirections;
    particleSet.particles.assign(particleCount, Particle{});
    for (std::vector<float>* coordinate :
         {&startX, &startY, &startZ, &headingX, &headingY, &headingZ}) {
        coordinate->resize(particleCount);
    }
    for (uint32_t i = 0; i < particleCount; ++i) {
        particleSet.particles[i].r = points[404 + i].x;
        particleSet.particles[i].g = points[808 + i].y;
        startX[i] = points[i].x;
        startY[i] = points[i].y;
        startZ[i] = points[i].z;
        headingX[i] = directions[i].x;
        headingY[i] = directions[i].y;
        headingZ[i] = directions[i].z;
    }
    return true;
}

bool Part02::loadMask() {
    maskFileName = kMaskName;
    delete[] maskFileBytes;
    maskFileBytes = nullptr;
    maskFileSize = 0;
    densityMask.reset();
    if (!Loader::Get(maskFileName, maskFileSize, maskFileBytes)) {
        maskFileBytes = nullptr;
        maskFileSize = 0;
        reportError("Load error : " + maskFileName);
        return false;
    }
    // The lookup reads up to byte 18 + 65535: a shorter file cannot be a 256 x 256 mask.
    if (!maskFileBytes || maskFileSize < kMaskBytesNeeded) {
        reportError("Mask size error : " + maskFileName);
        return false;
    }
    // The whole file is converted, header included; the lookup skips the header.
    densityMask.reset(new float[maskFileSize]);
    for (uint32_t j = 0; j < maskFileSize; ++j) {
        densityMask[j] = static_cast<float>(255 - maskFileBytes[j]) / 255.0f;
    }
    return true;
}

void Part02::chooseShot(int32_t pattern) {
    if (pattern < kFirstShotPattern || pattern >= kFirstShotPattern + 4)
        return;
    const Shot& shot = kShots[pattern - kFirstShotPattern];
    camera.sideOffset = shot.side;
    camera.upOffset = shot.up;
    camera.viewOffset = shot.view;
    camera.rotationX = shot.rotationX;
    camera.rotationY = shot.rotationY;
    camera.rotationZ = shot.rotationZ;
}

float Part02::wrap(float c) {
    return c - std::trunc(c);
}

uint32_t Part02::maskIndex(float rx, float rz) {
    return kMaskHeaderBytes + gridCell(rz) * kMaskSide + gridCell(rx);
}

LUMENFALL_WIDE_VECTORS
uint32_t Part02::updateParticles(uint32_t t) {
    if (!densityMask || !particleGroups || startX.size() < particleCount ||
        particleSet.particles.size() < particleCount) {
        return 0;
    }
    const float time = static_cast<float>(t);
    const SyncTracks& sync = demo->sync;
    const float drift = time / 4000.0f;
    const double swirlBase = time / 6.0;
    const float level = sync.trackLevels[2];
    const int32_t highlighted = sync.channelNotes[2];
    // The drift keeps |c| below 2^31 for every 32-bit time, so wrapSmall is exact.
    const double swirl = swirlBase + level * 45.0f;
    const double levelWide = level;
    // |y| < 1, so every angle this frame lies within |swirl| + 90 * 0.629 * |level| degrees
    // (plus rounding). When that may leave the fast sine's range, or is not a number, every
    // particle takes the library's rotation.
    const double widestDegrees = std::fabs(swirl) + 60.0 * std::fabs(levelWide) + 1.0;
    const int32_t allExact = widestDegrees * kDegToRad < kFastTrigLimit * 0.5 ? 0 : 1;

    Particle* particles = particleSet.particles.data();
    const size_t slots = particleSet.particles.size();
    const float* mask = densityMask.get();
    const int32_t* groups = particleGroups.get();
    alignas(32) float fx[kBlock], fy[kBlock], fz[kBlock], density[kBlock], alpha[kBlock];
    alignas(32) int32_t maskAt[kBlock], recheck[kBlock];
    uint32_t n = 0;
    for (uint32_t first = 0; first < particleCount; first += kBlock) {
        const uint32_t count = std::min(kBlock, particleCount - first);
        const float* px = startX.data() + first;
        const float* py = startY.data() + first;
        const float* pz = startZ.data() + first;
        const float* dx = headingX.data() + first;
        const float* dy = headingY.data() + first;
        const float* dz = headingZ.data() + first;

        // Move, wrap and swirl with the fast sine and cosine; find the mask pixel.
        int32_t anyRecheck = allExact;
        for (uint32_t j = 0; j < count; ++j) {
            const float x = wrapSmall(px[j] + drift * dx[j]);
            const float y = wrapSmall(py[j] + drift * dy[j]);
            const float z = wrapSmall(pz[j] + drift * dz[j]);
            const double angle = swirl - static_cast<double>(y * 90.0f) * 0.629 * levelWide;
            const float radians = static_cast<float>(angle) * kDegToRad;
            float sinB, cosB;
            fastSinCos(radians, sinB, cosB);
            const float cx = (x * cosB + z * sinB + 1.0f) * 128.0f;
            const float cz = (z * cosB - x * sinB + 1.0f) * 128.0f;
            const int32_t column = static_cast<int32_t>(cx);
            const int32_t row = static_cast<int32_t>(cz);
            fx[j] = x;
            fy[j] = y;
            fz[j] = z;
            maskAt[j] = static_cast<int32_t>(kMaskHeaderBytes + clampedCell(row) * kMaskSide +
                                             clampedCell(column));
            const int32_t near = nearWholeNumber(cx, column) | nearWholeNumber(cz, row);
            recheck[j] = near;
            anyRecheck |= near;
            alpha[j] = groups[first + j] == highlighted ? 2.0f : 1.0f;
        }

        // The few near a cell edge: the library's rotation decides.
        if (anyRecheck) {
            for (uint32_t j = 0; j < count; ++j) {
                if (!(recheck[j] | allExact))
                    continue;
                const double angle = swirl - static_cast<double>(fy[j] * 90.0f) * 0.629 * levelWide;
                const glm::vec3 r =
                    rotateVector(glm::vec3(fx[j], 0.0f, fz[j]), 0.0f, static_cast<float>(angle));
                maskAt[j] = static_cast<int32_t>(maskIndex(r.x, r.z));
            }
        }

        // Look up the densities and count the kept ones.
        uint32_t kept = 0;
        for (uint32_t j = 0; j < count; ++j)
            density[j] = mask[maskAt[j]];
        for (uint32_t j = 0; j < count; ++j)
            kept += density[j] > 0.0f ? 1u : 0u;

        // Pack: every particle is written to slot n, and n moves on only past kept ones, so
        // no branch depends on the mask. Dropped particles after the last kept one leave
        // their values in the slot just past the block's kept ones; that slot is put back.
        const uint32_t end = n + kept;
        const bool spills = end < slots;
        Particle saved{};
        if (spills)
            saved = particles[end];
        for (uint32_t j = 0; j < count; ++j) {
            Particle& slot = particles[n];
            slot.x = fx[j];
            slot.y = fy[j];
            slot.z = fz[j];
            slot.b = density[j];
            slot.a = alpha[j];
            n += density[j] > 0.0f ? 1u : 0u;
        }
        if (spills)
            particles[end] = saved;
    }
    return n;
}

void Part02::draw(uint32_t t) {
    const float time = static_cast<float>(t);
    const SyncTracks& sync = demo->sync;
    chooseShot(sync.pattern);
    camera.update();
    additiveState();

    const float pointSize = (sync.trackLevels[2] * 2.0f + 1.0f) * 0.1332f;
    const uint32_t kept = updateParticles(t);
    // A count of 0 would draw every particle, stale ones included: with none kept, draw none.
    if (kept == 0)
        return;
    particlePass(particleSet, camera, {{timeLocation, time}, {psizeLocation, pointSize}}, kept);
}
