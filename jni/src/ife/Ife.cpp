#include "ife/Ife.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/type_ptr.hpp>
#include <locale.h>

#include "loader/Asset.h"
#include "report/Errors.h"

namespace {

constexpr double kHalfPi = 1.5707963267948966;
constexpr double kDegToRadDouble = 0.017453292519943295;

// Numbers in .ife files always use a decimal point, whatever LC_ALL says.
locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

// "%d" of the text at `begin`: optional white space, optional sign, decimal digits.
// Returns false (and leaves `value`) when no number starts there; clamps to 32 bits.
bool scanInt(const char* begin, const char** end, int32_t& value) {
    char* stop = nullptr;
    const long long parsed = strtoll_l(begin, &stop, 10, cLocale());
    if (stop == begin) {
        return false;
    }
    if (parsed > std::numeric_limits<int32_t>::max()) {
        value = std::numeric_limits<int32_t>::max();
    } else if (parsed < std::numeric_limits<int32_t>::min()) {
        value = std::numeric_limits<int32_t>::min();
    } else {
        value = static_cast<int32_t>(parsed);
    }
    *end = stop;
    return true;
}

// "%f" of the text at `begin`, with the C locale's decimal point.
bool scanFloat(const char* begin, const char** end, float& value) {
    char* stop = nullptr;
    const float parsed = strtof_l(begin, &stop, cLocale());
    if (stop == begin) {
        return false;
    }
    value = parsed;
    *end = stop;
    return true;
}

// Bytes left after the cursor; a count can never exceed this by more than the one empty
// line read at the very end.
uint32_t bytesLeft(const Asset& asset) {
    return asset.cursor < asset.size ? asset.size - asset.cursor : 0;
}

bool countFits(int32_t count, const Asset& asset) {
    return count >= 0 &&
           static_cast<uint64_t>(count) <= static_cast<uint64_t>(bytesLeft(asset)) + 1;
}

void applyBlendMode(int32_t mode) {
    switch (mode) {
    case 0:
        glDisable(GL_BLEND);
        break;
    case 1:
        glBlendFunc(GL_ONE, GL_ONE);
        break;
    case 2:
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        break;
    case 3:
        glBlendFunc(GL_ONE_MINUS_SRC_ALPHA, GL_SRC_ALPHA);
        break;
    case 4:
        glBlendFunc(GL_SRC_COLOR, GL_ONE_MINUS_SRC_COLOR);
        break;
    default:
        break; // the previous blend state stays
    }
}

// Two triangles over the four corners.
const GLubyte kCornerIndices[6] = {0, 1, 2, 0, 2, 3};

} // namespace

// Parsing

int32_t parseInt(const std::string& line) {
    int32_t value = 0;
    const char* end = nullptr;
    scanInt(line.c_str(), &end, value);
    return value;
}

IfeKey parseKey(const std::string& line) {
    IfeKey key{};
    const char* cursor = line.c_str();
    int32_t time = 0;
    if (!scanInt(cursor, &cursor, time)) {
        return key;
    }
    // "%d" is read signed and used unsigned.
    key.time = static_cast<uint32_t>(time);
    if (!scanFloat(cursor, &cursor, key.x) || !scanFloat(cursor, &cursor, key.y) ||
        !scanInt(cursor, &cursor, key.easing)) {
        return key;
    }
    float* const rest[] = {&key.angle, &key.width, &key.height, &key.red,
                           &key.green, &key.blue,  &key.alpha};
    for (float* value : rest) {
        if (!scanFloat(cursor, &cursor, *value)) {
            break;
        }
    }
    return key;
}

std::string readDataLine(Asset& asset) {
    std::string line;
    while (asset.cursor <= asset.size) {
        line = asset.ReadLine();
        if (line.empty() || line[0] != '#') {
            return line;
        }
    }
    return line;
}

float ease(int32_t kind, float a, float b, float u) {
    const double from = a;
    const double to = b;
    const double along = u;
    switch (kind) {
    case 0:
        return static_cast<float>(from + (to - from) * along);
    case 1:
        return static_cast<float>(from + (to - from) * std::sin(along * kHalfPi));
    case 2:
        return static_cast<float>(from + (to - from) * (1.0 - std::sin(along * kHalfPi + kHalfPi)));
    default:
        return 0.0f;
    }
}

// Loading

bool Ife::load(const std::string& name) {
    if (!program.Load("ife.glsl")) {
        return false;
    }
    glUseProgram(program.program);
    colorLocation = glGetUniformLocation(program.program, "color");
    if (colorLocation >= 0) {
        glUniform4f(colorLocation, 0.0f, 0.0f, 0.0f, 0.0f);
    }
    transformationLocation = glGetUniformLocation(program.program, "transformation");
    if (transformationLocation >= 0) {
        const glm::mat4 identity(1.0f);
        glUniformMatrix4fv(transformationLocation, 1, GL_FALSE, glm::value_ptr(identity));
    }
    vertexLocation = glGetAttribLocation(program.program, "vertex");
    glUseProgram(0);

    Asset asset;
    if (!asset.Load(name)) {
        return false;
    }

    const int32_t spriteCount = parseInt(readDataLine(asset));
    if (!countFits(spriteCount, asset)) {
        reportError("Ife count error : " + name);
        return false;
    }
    parseInt(readDataLine(asset)); // unused

    // Sprites are appended as their blocks are read, so a lying count allocates nothing.
    sprites.clear();
    for (int32_t index = 0; index < spriteCount; ++index) {
        sprites.emplace_back();
        IfeSprite& sprite = sprites.back();
        sprite.imageName = readDataLine(asset);
        if (!Texture::Load(sprite.texture, sprite.imageName)) {
            return false;
        }
        sprite.text2 = readDataLine(asset);
        sprite.text3 = readDataLine(asset);
        const int32_t keyCount = parseInt(readDataLine(asset));
        if (!countFits(keyCount, asset)) {
            reportError("Ife count error : " + name);
            return false;
        }
        sprite.blendMode = parseInt(readDataLine(asset));
        for (int32_t key = 0; key < keyCount; ++key) {
            sprite.keys.push_back(parseKey(readDataLine(asset)));
        }
    }
    return true;
}

// Drawing

IfeSpriteState IfeSprite::stateAt(float t) const {
    const size_t count = keys.size();
    if (count == 0) {
        return IfeSpriteState{};
    }
    size_t current = 0;      // the last key at or before t
    size_t next = count - 1; // the first key at or after t
    for (size_t i = 0; i < count; ++i) {
        if (static_cast<float>(keys[i].time) <= t) {
            current = i;
        }
    }
    for (size_t i = 0; i < count; ++i) {
        if (static_cast<float>(keys[i].time) >= t) {
            next = i;
            break;
        }
    }

    // Keys of equal time would divide 0 by 0: hold the current key instead.
    float u = 0.0f;
    const uint32_t span = keys[next].time - keys[current].time; // unsigned, as stored
    if (current != next && span != 0) {
        u = (t - static_cast<float>(keys[current].time)) / static_cast<float>(span);
    }

    const IfeKey& a = keys[current];
    const IfeKey& b = keys[next];
    const int32_t kind = a.easing;
    IfeSpriteState state;
    state.angle = ease(kind, a.angle, b.angle, u);
    state.x = ease(kind, a.x, b.x, u);
    state.y = ease(kind, a.y, b.y, u);
    state.halfWidth = ease(kind, a.width, b.width, u) * 0.5f;
    state.halfHeight = ease(kind, a.height, b.height, u) * 0.5f;
    state.alpha = ease(kind, a.alpha, b.alpha, u) / 255.0f;
    state.blue = ease(kind, a.blue, b.blue, u) / 255.0f;
    state.green = ease(kind, a.green, b.green, u) / 255.0f;
    state.red = ease(kind, a.red, b.red, u) / 255.0f;
    return state;
}

void IfeSprite::draw(const Ife& owner) const {
    // A sprite without keys has nothing to show.
    if (keys.empty()) {
        return;
    }
    applyBlendMode(blendMode);

    const IfeSpriteState state = stateAt(owner.time);
    glUniform4f(owner.colorLocation, state.red, state.green, state.blue, state.alpha);

    glm::mat4 transformation = glm::ortho(0.0f, 1280.0f, 0.0f, 720.0f);
    transformation = glm::translate(transformation, glm::vec3(state.x, state.y, 0.0f));
    transformation = glm::rotate(transformation, static_cast<float>(state.angle * kDegToRadDouble),
                                 glm::vec3(0.0f, 0.0f, 1.0f));
    glUniformMatrix4fv(owner.transformationLocation, 1, GL_FALSE, glm::value_ptr(transformation));

    glBindTexture(GL_TEXTURE_2D, texture.id);

    // s, t, then the corner relative to the centre; t = 0 is the sprite's top edge.
    const float hw = state.halfWidth;
    const float hh = state.halfHeight;
    const float corners[16] = {1.0f, 0.0f, hw,  hh,  1.0f, 1.0f, hw,  -hh,
                               0.0f, 1.0f, -hw, -hh, 0.0f, 0.0f, -hw, hh};
    if (owner.vertexLocation >= 0) {
        const GLuint location = static_cast<GLuint>(owner.vertexLocation);
        glEnableVertexAttribArray(location);
        glVertexAttribPointer(location, 4, GL_FLOAT, GL_FALSE, 0, corners);
        glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_BYTE, kCornerIndices);
        glDisableVertexAttribArray(location);
    }

    glBindTexture(GL_TEXTURE_2D, 0);
}

void Ife::draw() {
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glUseProgram(program.program);
    for (const IfeSprite& sprite : sprites) {
        sprite.draw(*this);
    }
    glUseProgram(0);
}
