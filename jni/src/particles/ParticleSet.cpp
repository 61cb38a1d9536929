#include "particles/ParticleSet.h"

#include <cstddef>
#include <cstdint>

#include <glm/gtc/type_ptr.hpp>

#include "camera/Camera.h"

ParticleSet::~ParticleSet() {
    if (vbo != 0) {
        glDeleteBuffers(1, &vbo);
    }
}

bool ParticleSet::load(const std::string& programName, const std::string& textureName,
                       float screenWidth) {
    if (!program.Load(programName)) {
        return false;
    }

    // Locations, and the uniforms' values until the first draw.
    const glm::mat4 identity(1.0f);
    glUseProgram(program.program);
    positionLocation = glGetAttribLocation(program.program, "aPosition");
    colorLocation = glGetAttribLocation(program.program, "aColor");
    modelViewLocation = glGetUniformLocation(program.program, "uModelView");
    if (modelViewLocation >= 0) {
        glUniformMatrix4fv(modelViewLocation, 1, GL_FALSE, glm::value_ptr(identity));
    }
    projectionLocation = glGetUniformLocation(program.program, "uProjection");
    if (projectionLocation >= 0) {
        glUniformMatrix4fv(projectionLocation, 1, GL_FALSE, glm::value_ptr(identity));
    }
    const GLint screenWidthLocation = glGetUniformLocation(program.program, "screenWidth");
    if (screenWidthLocation >= 0) {
        glUniform1f(screenWidthLocation, screenWidth);
    }
    glUseProgram(0);

    if (!Texture::Load(texture, textureName)) {
        return false;
    }
    // An empty set has nothing to draw; the owner's caller reports it.
    return !particles.empty();
}

bool ParticleSet::upload() {
    vboTarget = GL_ARRAY_BUFFER;
    if (vbo == 0) {
        glGenBuffers(1, &vbo);
    }
    if (vbo == 0) {
        return false;
    }
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(particles.size() * sizeof(Particle)),
                 particles.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    uploadedCount = static_cast<uint32_t>(particles.size());
    return true;
}

void ParticleSet::draw(uint32_t count, const Camera& camera) {
    if (vbo != 0) {
        glBindBuffer(vboTarget, vbo);
    }
    const glm::mat4 modelView = camera.view * camera.model;
    glUniformMatrix4fv(modelViewLocation, 1, GL_FALSE, glm::value_ptr(modelView));
    glUniformMatrix4fv(projectionLocation, 1, GL_FALSE, glm::value_ptr(camera.projection));

    // Never read past what exists: the vector, or the buffer as it was uploaded.
    const uint32_t available = vbo != 0 ? uploadedCount : static_cast<uint32_t>(particles.size());
    const uint32_t n = (count == 0 || count > available) ? available : count;

    const bool hasPosition = positionLocation >= 0;
    const bool hasColor = colorLocation >= 0;
    if (hasPosition) {
        glEnableVertexAttribArray(static_cast<GLuint>(positionLocation));
    }
    if (hasColor) {
        glEnableVertexAttribArray(static_cast<GLuint>(colorLocation));
    }
    // With a buffer the "pointers" are byte offsets into it.
    const uintptr_t base = vbo != 0 ? 0 : reinterpret_cast<uintptr_t>(particles.data());
    if (hasPosition) {
        glVertexAttribPointer(static_cast<GLuint>(positionLocation), 4, GL_FLOAT, GL_FALSE,
                              sizeof(Particle),
                              reinterpret_cast<const void*>(base + offsetof(Particle, x)));
    }
    if (hasColor) {
        glVertexAttribPointer(static_cast<GLuint>(colorLocation), 4, GL_FLOAT, GL_FALSE,
                              sizeof(Particle),
                              reinterpret_cast<const void*>(base + offsetof(Particle, r)));
    }
    if (n > 0) {
        glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(n));
    }
    if (hasColor) {
        glDisableVertexAttribArray(static_cast<GLuint>(colorLocation));
    }
    if (hasPosition) {
        glDisableVertexAttribArray(static_cast<GLuint>(positionLocation));
    }

    if (vbo != 0) {
        glBindBuffer(vboTarget, 0);
    }
}
