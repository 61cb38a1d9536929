#pragma once
// The base of the five scenes. The Demo creates them, gives each a window of music time,
// calls init() once while loading and draw() on the scene whose window holds the time.
// Scenes read the Demo's shared data through a pointer they do not own.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "platform/gl.h"

// Scene windows end at these music times and each scene starts where the one before ends; the
// last one ends with the music.
constexpr uint32_t kPart01EndMs = 106905;
constexpr uint32_t kPart02EndMs = 141813;
constexpr uint32_t kPart03EndMs = 176721;
constexpr uint32_t kPart04EndMs = 194175;

class Demo;
class ParticleSet;
struct Camera;

class Part {
public:
    Part(Demo* owner, const char* sceneName) : name(sceneName), demo(owner) {}
    virtual ~Part() = default;
    virtual bool init() { return true; }
    virtual void draw(uint32_t t) = 0;

    std::string name;
    Demo* demo;
    uint32_t startMs = 0;
    uint32_t endMs = 0;
    uint32_t drawCount = 0;

protected:
    // The steps every scene shares.
    void sceneLens(Camera& camera) const;
    static void openingShot(Camera& camera);
    // Whether the Demo's random sets hold at least this many points and directions; scenes
    // check before indexing them so a half-built Demo fails init instead of reading past.
    bool hasSharedSets(uint32_t pointsNeeded, uint32_t directionsNeeded) const;
    static void lookupUniforms(ParticleSet& set, std::initializer_list<const char*> names,
                               std::initializer_list<GLint*> locations);
    static void particlePass(ParticleSet& set, const Camera& camera,
                             std::initializer_list<std::pair<GLint, float>> uniforms,
                             uint32_t count);
    static void additiveState();
};
