#pragma once
// A texture handle: a plain copy of a GL name held in the process-wide texture cache.
// Textures are created once per file name and never deleted while the process runs;
// no code outside this unit calls glGenTextures.

#include <string>

#include "platform/gl.h"

struct Image;

struct Texture {
    static bool Load(Texture& texture, const std::string& name);
    static bool Create(Texture& texture, const Image& image, const std::string& name);

    // Tests only: forget every cached texture.
    static void ClearCache();
    // Tests only: treat `size` texels a side as the driver's largest texture (0: the driver's
    // own GL_MAX_TEXTURE_SIZE, the smaller of the two when both are set).
    static void LimitSizeForTests(GLint size);

    GLuint id = 0;
    GLenum unit = GL_TEXTURE0;
};
