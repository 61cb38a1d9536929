#include "particles/ParticleSet.h"

#include <gtest/gtest.h>

#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/type_ptr.hpp>
#include <stb/stb_image_write.h>

#include "camera/Camera.h"
#include "gpu_fixture.h"

namespace {

constexpr int kWidth = 200;
constexpr int kHeight = 100;

// One-pixel points in the particle's own colour.
const char* const kPointShader = R"(#ifdef VERTEX_SHADER
attribute vec4 aPosition;
attribute vec4 aColor;
uniform mat4 uModelView;
uniform mat4 uProjection;
uniform float screenWidth;
varying vec4 vColor;
void main() {
    gl_Position = uProjection * uModelView * aPosition;
    gl_PointSize = min(screenWidth, 1.0);
    vColor = aColor;
}
#endif
#ifdef FRAGMENT_SHADER
precision mediump float;
varying vec4 vColor;
void main() {
    gl_FragColor = vColor;
}
#endif
)";

class ParticleSetTest : public GpuTest {
protected:
    ParticleSetTest() : GpuTest(kWidth, kHeight) {}

    void SetUp() override {
        GpuTest::SetUp();
        writeAsset("points.glsl", kPointShader);
        const uint8_t white[4] = {255, 255, 255, 255};
        ASSERT_NE(stbi_write_png(dir_.file("assets/dot.png").c_str(), 1, 1, 4, white, 4), 0);
        // Identity matrices: positions are clip coordinates.
        camera_.projection = camera_.view = camera_.model = glm::mat4(1.0f);
    }

    // One particle per pixel, row by row from the bottom, colour `value`.
    static std::vector<Particle> grid(float value) {
        std::vector<Particle> particles;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const float cx = (x + 0.5f) / kWidth * 2.0f - 1.0f;
                const float cy = (y + 0.5f) / kHeight * 2.0f - 1.0f;
                particles.push_back({cx, cy, 0.0f, 1.0f, value, value, value, 1.0f});
            }
        }
        return particles;
    }

    // Draws and returns how many pixels are lit, and how many of them are the first `prefix`.
    int drawAndCount(ParticleSet& set, uint32_t count, int* litInOrder = nullptr) {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glUseProgram(set.program.program);
        set.draw(count, camera_);
        glUseProgram(0);
        const std::vector<uint8_t> rgba = pixels();
        int lit = 0;
        int leading = 0;
        bool gap = false;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const bool on = pixelAt(rgba, kWidth, kHeight, x, y)[0] > 127;
                lit += on ? 1 : 0;
                gap = gap || !on;
                leading += (on && !gap) ? 1 : 0;
            }
        }
        if (litInOrder != nullptr) {
            *litInOrder = leading;
        }
        return lit;
    }

    Camera camera_;
};

} // namespace

TEST_F(ParticleSetTest, CountSelectsTheFirstParticles) {
    for (bool uploaded : {false, true}) {
        SCOPED_TRACE(uploaded ? "vertex buffer" : "client memory");
        ParticleSet set;
        set.particles = grid(1.0f);
        ASSERT_EQ(set.particles.size(), 20000u);
        ASSERT_TRUE(set.load("points.glsl", "dot.png", 1280.0f));
        if (uploaded) {
            ASSERT_TRUE(set.upload());
            EXPECT_NE(set.vbo, 0u);
        }
        const std::pair<uint32_t, int> cases[] = {
            {11000, 11000}, {0, 20000}, {1, 1}, {20000, 20000}, {30000, 20000}};
        for (const auto& [count, expected] : cases) {
            int inOrder = 0;
            EXPECT_EQ(drawAndCount(set, count, &inOrder), expected) << "count " << count;
            EXPECT_EQ(inOrder, expected) << "count " << count;
        }
        GLint bound = -1;
        glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
        EXPECT_EQ(bound, 0);
    }
}

TEST_F(ParticleSetTest, UploadedSetIgnoresLaterChangesToTheVector) {
    ParticleSet set;
    set.particles = grid(1.0f);
    ASSERT_TRUE(set.load("points.glsl", "dot.png", 1280.0f));
    ASSERT_TRUE(set.upload());
    for (Particle& p : set.particles) {
        p.r = 0.0f;
        p.x = 5.0f; // off screen
    }
    EXPECT_EQ(drawAndCount(set, 0), 20000);
    // Growing the vector does not grow the buffer: drawing stops at what was uploaded.
    set.particles.resize(40000, set.particles.front());
    EXPECT_EQ(drawAndCount(set, 0), 20000);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ParticleSetTest, ModelViewIsViewTimesModel) {
    ParticleSet set;
    set.particles = grid(1.0f);
    ASSERT_TRUE(set.load("points.glsl", "dot.png", 640.0f));

    GLfloat matrix[16];
    glGetUniformfv(set.program.program, set.modelViewLocation, matrix);
    EXPECT_EQ(glm::make_mat4(matrix), glm::mat4(1.0f));
    GLfloat width = 0.0f;
    glGetUniformfv(set.program.program, glGetUniformLocation(set.program.program, "screenWidth"),
                   &width);
    EXPECT_EQ(width, 640.0f);

    Camera camera;
    camera.update(); // the defaults turn the model a little about every axis
    ASSERT_NE(camera.view * camera.model, camera.model * camera.view);
    glUseProgram(set.program.program);
    set.draw(1, camera);
    glUseProgram(0);
    glGetUniformfv(set.program.program, set.modelViewLocation, matrix);
    EXPECT_EQ(glm::make_mat4(matrix), camera.view * camera.model);
    glGetUniformfv(set.program.program, set.projectionLocation, matrix);
    EXPECT_EQ(glm::make_mat4(matrix), camera.projection);
}

TEST_F(ParticleSetTest, LoadTakesTheProgramAndTextureSteps) {
    ParticleSet first;
    first.particles = grid(1.0f);
    ASSERT_TRUE(first.load("points.glsl", "dot.png", 1280.0f));
    EXPECT_EQ(steps(), 26);
    ParticleSet second;
    second.particles = grid(1.0f);
    ASSERT_TRUE(second.load("points.glsl", "dot.png", 1280.0f));
    EXPECT_EQ(steps(), 31);
    EXPECT_EQ(second.texture.id, first.texture.id);
    EXPECT_EQ(second.program.program, first.program.program);
}

TEST_F(ParticleSetTest, EmptySetFailsAfterLoadingItsResources) {
    ParticleSet set;
    EXPECT_FALSE(set.load("points.glsl", "dot.png", 1280.0f));
    EXPECT_NE(set.program.program, 0u);
    EXPECT_NE(set.texture.id, 0u);
    EXPECT_TRUE(boxTexts().empty());
}

TEST_F(ParticleSetTest, ProgramWithoutScreenWidthLoads) {
    std::string plain = kPointShader;
    plain.replace(plain.find("uniform float screenWidth;"), 26, "");
    plain.replace(plain.find("min(screenWidth, 1.0)"), 21, "1.0");
    writeAsset("plain.glsl", plain);
    ParticleSet set;
    set.particles = grid(1.0f);
    EXPECT_TRUE(set.load("plain.glsl", "dot.png", 1280.0f));
    EXPECT_EQ(drawAndCount(set, 0), 20000);
}

TEST_F(ParticleSetTest, MissingTextureFailsTheLoad) {
    ParticleSet set;
    set.particles = grid(1.0f);
    EXPECT_FALSE(set.load("points.glsl", "absent.png", 1280.0f));
    ASSERT_FALSE(errorList().empty());
    EXPECT_EQ(errorList().back(), "Texture load error : absent.png");
}
