#pragma once
// A keyframed 2D sprite animation on a 1280 x 720 virtual screen, read from a ".ife" text
// file and drawn with "ife.glsl". The owner writes `time` (in its own unit) and calls draw().
// Textures belong to the texture cache; the Ife owns only its sprites and keys.

#include <cstdint>
#include <string>
#include <vector>

#include "ife/PostProcess.h"
#include "platform/gl.h"
#include "program/Program.h"
#include "texture/Texture.h"

class Asset;
class Ife;

struct IfeKey {
    uint32_t time;
    float x, y;
    int32_t easing;
    float angle;
    float width, height;
    float red, green, blue, alpha;
};
static_assert(sizeof(IfeKey) == 44, "a key is eleven 32-bit values");

// The interpolated look of one sprite at one time.
struct IfeSpriteState {
    float x, y, angle, halfWidth, halfHeight;
    float red, green, blue, alpha; // 0..1
};

struct IfeSprite {
    // A sprite without keys draws nothing and leaves the blend state alone.
    void draw(const Ife& owner) const;
    // Keys of equal time hold the later-listed one instead of dividing 0 by 0; no keys gives
    // an all-zero state.
    IfeSpriteState stateAt(float t) const;

    std::string imageName;
    std::string text2;
    std::string text3;
    Texture texture;
    int32_t blendMode = 0;
    std::vector<IfeKey> keys;
};

class Ife final : public PostProcess {
public:
    // A negative count, or more sprites or keys than the rest of the file could hold, fails
    // with "Ife count error : " + name.
    bool load(const std::string& name);
    void draw() override;

    std::vector<IfeSprite> sprites;
    Program program;
    GLint colorLocation = -1;
    GLint transformationLocation = -1;
    GLint vertexLocation = -1;
    float time = 0.0f;
};

float ease(int32_t kind, float a, float b, float u);
std::string readDataLine(Asset& asset);
// "%d" of a line with the C locale; 0 when it does not start with a number.
int32_t parseInt(const std::string& line);
// A key line "%d %f %f %d %f %f %f %f %f %f %f"; missing values read as 0.
IfeKey parseKey(const std::string& line);
