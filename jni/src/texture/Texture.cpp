#include "texture/Texture.h"

#include <map>

#include "progress/Progress.h"
#include "report/Errors.h"
#include "texture/Image.h"

namespace {

// File name (case matters) to texture; entries and their GL objects live until exit.
std::map<std::string, Texture>& textureCache() {
    static std::map<std::string, Texture> cache;
    return cache;
}

GLint& testSizeLimit() {
    static GLint limit = 0;
    return limit;
}

// The largest width and height the driver takes; many ES 2.0 GPUs stop at 2048 or 4096.
GLint maxTextureSize() {
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    const GLint limit = testSizeLimit();
    return limit > 0 && (size <= 0 || limit < size) ? limit : size;
}

GLenum formatForChannels(int32_t channels) {
    switch (channels) {
    case 1:
        return GL_LUMINANCE;
    case 2:
        return GL_LUMINANCE_ALPHA;
    case 3:
        return GL_RGB;
    case 4:
        return GL_RGBA;
    default:
        return 0;
    }
}

} // namespace

bool Texture::Load(Texture& texture, const std::string& name) {
    progressStep();
    Image image;
    if (!Image::Load(image, name)) {
        reportError("Texture load error : " + name);
        return false;
    }
    const bool created = Create(texture, image, name);
    image.release();
    return created;
}

bool Texture::Create(Texture& texture, const Image& image, const std::string& name) {
    const auto cached = textureCache().find(name);
    if (cached != textureCache().end()) {
        texture.id = cached->second.id;
        texture.unit = cached->second.unit;
        return true;
    }

    progressStep();
    // Check what can be checked before a GL name exists, so a bad image leaks nothing.
    const GLenum format = formatForChannels(image.channels);
    if (format == 0 || image.pixels == nullptr || image.width <= 0 || image.height <= 0) {
        reportError("Texture format error : " + name);
        return false;
    }
    // An image beyond the driver's limit would stay an incomplete texture and draw black.
    const GLint maxSize = maxTextureSize();
    if (image.width > maxSize || image.height > maxSize) {
        reportError("Texture load error : " + name);
        return false;
    }

    GLuint id = 0;
    glGenTextures(1, &id);
    texture.id = id;
    glBindTexture(GL_TEXTURE_2D, id);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);

    // Rows are tightly packed: a row of 3 RGB pixels is 9 bytes, not padded to 12.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), image.width, image.height, 0, format,
                 GL_UNSIGNED_BYTE, image.pixels);
    glBindTexture(GL_TEXTURE_2D, 0);

    textureCache()[name] = Texture{texture.id, texture.unit};
    return true;
}

void Texture::ClearCache() {
    textureCache().clear();
}

void Texture::LimitSizeForTests(GLint size) {
    testSizeLimit() = size;
}
