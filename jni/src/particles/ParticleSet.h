#pragma once
// A cloud of point sprites: a program, one texture and a vector of 32-byte particles the owner
// fills. Drawn from client memory, or from a static vertex buffer after upload(). The set owns
// its vertex buffer; program and texture belong to their caches.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/gl.h"
#include "program/Program.h"
#include "texture/Texture.h"

struct Camera;

struct Particle {
    float x, y, z, w;
    float r, g, b, a;
};
static_assert(sizeof(Particle) == 32, "the GPU reads 32-byte particles");

class ParticleSet {
public:
    ParticleSet() = default;
    ~ParticleSet();
    ParticleSet(const ParticleSet&) = delete;
    ParticleSet& operator=(const ParticleSet&) = delete;

    bool load(const std::string& programName, const std::string& textureName, float screenWidth);
    bool upload();
    // count 0 draws every particle; a count above the size draws them all.
    void draw(uint32_t count, const Camera& camera);

    Program program;
    Texture texture;
    GLint positionLocation = -1;
    GLint colorLocation = -1;
    GLint modelViewLocation = -1;
    GLint projectionLocation = -1;
    std::vector<Particle> particles;
    GLuint vbo = 0;
    GLenum vboTarget = 0;
    // Particles in the vertex buffer: the vector may grow after upload, the buffer does not.
    uint32_t uploadedCount = 0;
};
