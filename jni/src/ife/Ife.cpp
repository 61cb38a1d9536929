#include "ife/Ife.h"

#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/type_ptr.hpp>

#include "loader/Asset.h"
#include "math/PortableMath.h"
#include "report/Errors.h"

namespace {

constexpr double kDegToRadDouble = 0.017453292519943295;

// Takes `count` items of `each` bytes from what the load may still hold; false for a negative
// count or one that does not fit.
bool takeFromBudget(int32_t count, uint64_t each, uint64_t& budget) {
    if (count < 0 || static_cast<uint64_t>(count) * each > budget) {
        return false;
    }
    budget -= static_cast<uint64_t>(count) * each;
    return true;
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

// Reading

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

    uint64_t budget = kIfeBudgetBytes;
    const int32_t spriteCount = parseInt(readDataLine(asset));
    if (!takeFromBudget(spriteCount, sizeof(IfeSprite), budget)) {
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
        if (!takeFromBudget(keyCount, sizeof(IfeKey), budget)) {
            reportError("Ife count error : " + name);
            return false;
        }
        sprite.blendMode = parseInt(readDataLine(asset));
        sprite.keys.reserve(static_cast<size_t>(keyCount));
        for (int32_t key = 0; key < keyCount; ++key) {
            sprite.keys.push_back(parseKey(readDataLine(asset)));
        }
    }
    return true;
}

// Drawing

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
    transformation =
        portableRotate(transformation, static_cast<float>(state.angle * kDegToRadDouble),
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
