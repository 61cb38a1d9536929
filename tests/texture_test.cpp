#include "texture/Texture.h"

#include <gtest/gtest.h>

#include <stb/stb_image_write.h>

#include "gpu_fixture.h"
#include "texture/Image.h"

namespace {

// Draws the bound texture over the whole viewport, one texel per pixel when sizes match.
const char* const kQuadShader = R"(#ifdef VERTEX_SHADER
attribute vec2 aPosition;
varying vec2 st;
void main() {
    st = aPosition * 0.5 + 0.5;
    gl_Position = vec4(aPosition, 0.0, 1.0);
}
#endif
#ifdef FRAGMENT_SHADER
precision highp float;
uniform sampler2D tex;
varying vec2 st;
void main() {
    gl_FragColor = texture2D(tex, st);
}
#endif
)";

class TextureTest : public GpuTest {
protected:
    void writeImage(const std::string& name, int width, int height, int channels,
                    const std::vector<uint8_t>& pixels) {
        const std::string path = dir_.file("assets/" + name);
        const int written =
            stbi_write_png(path.c_str(), width, height, channels, pixels.data(), width * channels);
        ASSERT_NE(written, 0) << name;
    }

    // Draws `texture` over a width x height viewport and returns the pixels, top row first.
    std::vector<uint8_t> drawTexture(const Texture& texture, int width, int height) {
        if (quad_.program == 0) {
            writeAsset("quad.glsl", kQuadShader);
            EXPECT_TRUE(quad_.Load("quad.glsl"));
        }
        const float corners[] = {-1, -1, 1, -1, -1, 1, 1, 1};
        const GLint position = glGetAttribLocation(quad_.program, "aPosition");
        glViewport(0, 0, width, height);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        glUseProgram(quad_.program);
        glBindTexture(GL_TEXTURE_2D, texture.id);
        glEnableVertexAttribArray(static_cast<GLuint>(position));
        glVertexAttribPointer(static_cast<GLuint>(position), 2, GL_FLOAT, GL_FALSE, 0, corners);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glDisableVertexAttribArray(static_cast<GLuint>(position));
        glBindTexture(GL_TEXTURE_2D, 0);
        glUseProgram(0);
        const std::vector<uint8_t> all = pixels();
        std::vector<uint8_t> corner;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const uint8_t* p = pixelAt(all, width_, height_, x, height - 1 - y);
                corner.insert(corner.end(), p, p + 4);
            }
        }
        return corner;
    }

    Program quad_;
};

GLint boundTexture() {
    GLint bound = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    return bound;
}

} // namespace

TEST_F(TextureTest, ChannelCountsGiveTheFourFormats) {
    struct Case {
        int channels;
        std::vector<uint8_t> texel;
        std::vector<uint8_t> drawn; // what the shader sees, RGBA
    };
    const Case cases[] = {
        {1, {200}, {200, 200, 200, 255}},
        {2, {200, 100}, {200, 200, 200, 100}},
        {3, {10, 20, 30}, {10, 20, 30, 255}},
        {4, {10, 20, 30, 40}, {10, 20, 30, 40}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels");
        const std::string name = "c" + std::to_string(c.channels) + ".png";
        writeImage(name, 1, 1, c.channels, c.texel);
        Image image;
        ASSERT_TRUE(Image::Load(image, name));
        EXPECT_EQ(image.channels, c.channels);
        Texture texture;
        ASSERT_TRUE(Texture::Load(texture, name));
        EXPECT_EQ(boundTexture(), 0);
        EXPECT_EQ(drawTexture(texture, 1, 1), c.drawn);
    }
}

TEST_F(TextureTest, RepeatedNameSharesTheTextureWithOneStepFewer) {
    writeImage("a.png", 1, 1, 3, {1, 2, 3});
    Texture first;
    ASSERT_TRUE(Texture::Load(first, "a.png"));
    EXPECT_EQ(steps(), 6);
    EXPECT_NE(first.id, 0u);

    // A cache hit still decodes the file but leaves the binding alone.
    glBindTexture(GL_TEXTURE_2D, first.id);
    Texture second;
    ASSERT_TRUE(Texture::Load(second, "a.png"));
    EXPECT_EQ(steps(), 11);
    EXPECT_EQ(second.id, first.id);
    EXPECT_EQ(second.unit, static_cast<GLenum>(GL_TEXTURE0));
    EXPECT_EQ(boundTexture(), static_cast<GLint>(first.id));
    glBindTexture(GL_TEXTURE_2D, 0);

    // Case matters in the cache.
    writeImage("A.png", 1, 1, 3, {1, 2, 3});
    Texture other;
    ASSERT_TRUE(Texture::Load(other, "A.png"));
    EXPECT_NE(other.id, first.id);
}

TEST_F(TextureTest, CorruptFileReportsTheDecoderThenTheTexture) {
    writeAsset("corrupt.tga", "this is not an image at all");
    Texture texture;
    EXPECT_FALSE(Texture::Load(texture, "corrupt.tga"));
    EXPECT_EQ(texture.id, 0u);
    const std::vector<std::string> texts = boxTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_FALSE(texts[0].empty());
    EXPECT_EQ(texts[0].find("corrupt.tga"), std::string::npos); // the decoder's own reason
    EXPECT_EQ(texts[1], "Texture load error : corrupt.tga");
    EXPECT_EQ(steps(), 5);
}

TEST_F(TextureTest, MissingFileReportsEveryLayer) {
    Texture texture;
    EXPECT_FALSE(Texture::Load(texture, "absent.tga"));
    const std::vector<std::string> expected = {"Load error : absent.tga",
                                               "Image load error : absent.tga",
                                               "Texture load error : absent.tga"};
    EXPECT_EQ(errorList(), expected);
    EXPECT_EQ(steps(), 4);
}

TEST_F(TextureTest, ThreePixelWideRgbRowsUploadTightlyPacked) {
    // Rows of 9 bytes: with the default unpack alignment of 4 the second row would shift.
    const std::vector<uint8_t> rgb = {
        255, 0,   0, 0, 255, 0,   0,   0, 255, // first row: texture t = 0
        255, 255, 0, 0, 255, 255, 255, 0, 255, // second row
    };
    writeImage("strip.png", 3, 2, 3, rgb);
    Texture texture;
    ASSERT_TRUE(Texture::Load(texture, "strip.png"));
    const std::vector<uint8_t> drawn = drawTexture(texture, 3, 2);
    // drawTexture returns top row first; texture row 0 is drawn at the bottom (t = 0).
    for (int row = 0; row < 2; ++row) {
        for (int x = 0; x < 3; ++x) {
            SCOPED_TRACE(testing::Message() << "row " << row << " x " << x);
            const uint8_t* texel = &rgb[static_cast<size_t>(row * 3 + x) * 3];
            const uint8_t* pixel = &drawn[static_cast<size_t>((1 - row) * 3 + x) * 4];
            EXPECT_EQ(pixel[0], texel[0]);
            EXPECT_EQ(pixel[1], texel[1]);
            EXPECT_EQ(pixel[2], texel[2]);
            EXPECT_EQ(pixel[3], 255);
        }
    }
}

TEST_F(TextureTest, UnsupportedChannelCountCreatesNothing) {
    Image image;
    image.width = 1;
    image.height = 1;
    image.channels = 5;
    image.pixels = static_cast<uint8_t*>(malloc(5)); // released by stb_image's free
    Texture texture;
    EXPECT_FALSE(Texture::Create(texture, image, "five.raw"));
    EXPECT_EQ(texture.id, 0u);
    EXPECT_EQ(boundTexture(), 0);
    EXPECT_EQ(boxTexts().size(), 1u);
    // Nothing was cached under the name.
    image.channels = 4;
    EXPECT_TRUE(Texture::Create(texture, image, "five.raw"));
    EXPECT_NE(texture.id, 0u);
}

TEST_F(TextureTest, ImagesBeyondTheDriversLimitAreRefusedBeforeUpload) {
    // As on an ES 2.0 GPU that stops at 4 texels a side: 4 x 4 and 4 x 1 load, 5 x 1 and
    // 1 x 5 are refused with no texture made, and nothing is cached under their names.
    Texture::LimitSizeForTests(4);
    const struct {
        const char* name;
        int width, height;
        bool loads;
    } cases[] = {
        {"square.png", 4, 4, true},
        {"wide-enough.png", 4, 1, true},
        {"too-wide.png", 5, 1, false},
        {"too-tall.png", 1, 5, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        clearErrorList();
        writeImage(c.name, c.width, c.height, 4,
                   std::vector<uint8_t>(static_cast<size_t>(c.width * c.height * 4), 200));
        Texture texture;
        EXPECT_EQ(Texture::Load(texture, c.name), c.loads);
        EXPECT_EQ(texture.id != 0, c.loads);
        EXPECT_EQ(boundTexture(), 0);
        EXPECT_EQ(errorList(), c.loads ? std::vector<std::string>{}
                                       : std::vector<std::string>{
                                             std::string("Texture load error : ") + c.name});
    }
    Texture::LimitSizeForTests(0);
    Texture texture;
    EXPECT_TRUE(Texture::Load(texture, "too-wide.png")) << "the driver's own limit is larger";
}
