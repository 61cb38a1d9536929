#pragma once
// A keyframed 2D sprite animation on a 1280 x 720 virtual screen, read from a ".ife" text
// file and drawn with "ife.glsl". The owner writes `time` (in its own unit) and calls draw().
// Textures belong to the texture cache; the Ife owns only its sprites and keys.

#include <cstdint>
#include <string>
#include <vector>

#include "ife/IfeKey.h"
#include "ife/PostProcess.h"
#include "platform/gl.h"
#include "program/Program.h"
#include "texture/Texture.h"

class Asset;
class Ife;

struct IfeSprite {
    // A sprite without keys draws nothing and leaves the blend state alone.
    void draw(const Ife& owner) const;
    IfeSpriteState stateAt(float t) const { return interpolateKeys(keys, t); }

    std::string imageName;
    std::string text2;
    std::string text3;
    Texture texture;
    int32_t blendMode = 0;
    std::vector<IfeKey> keys;
};

// What one animation may hold in sprites and keys, whatever its counts announce: missing
// lines read as empty, so a short file can still announce millions of (empty) keys.
constexpr uint64_t kIfeBudgetBytes = 64u << 20;

class Ife final : public PostProcess {
public:
    // A negative count, or counts whose sprites and keys together would take more than
    // kIfeBudgetBytes, fail with "Ife count error : " + name before anything is allocated.
    bool load(const std::string& name);
    void draw() override;

    std::vector<IfeSprite> sprites;
    Program program;
    GLint colorLocation = -1;
    GLint transformationLocation = -1;
    GLint vertexLocation = -1;
    float time = 0.0f;
};

std::string readDataLine(Asset& asset);
