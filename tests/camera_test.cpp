#include "camera/Camera.h"

#include <gtest/gtest.h>

#include <glm/gtc/matrix_transform.hpp>

namespace {

void expectVecNear(const glm::vec3& actual, const glm::vec3& expected, float tolerance = 1e-5f) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

Camera neutralCamera() {
    Camera camera;
    camera.sideOffset = camera.upOffset = camera.viewOffset = 0.0f;
    camera.rotationX = camera.rotationY = camera.rotationZ = 0.0f;
    return camera;
}

} // namespace

TEST(Camera, DefaultProjectionEntries) {
    Camera camera;
    camera.update();
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            float expected = 0.0f;
            if (column == 0 && row == 0)
                expected = 0.5625f;
            if (column == 1 && row == 1)
                expected = 1.0f;
            if (column == 2 && row == 2)
                expected = -1001.0f / 999.0f;
            if (column == 2 && row == 3)
                expected = -1.0f;
            if (column == 3 && row == 2)
                expected = -2000.0f / 999.0f;
            EXPECT_NEAR(camera.projection[column][row], expected, 1e-6f)
                << "column " << column << " row " << row;
        }
    }
}

TEST(Camera, NeutralAdjustmentsGiveThePlainLookAt) {
    Camera camera = neutralCamera();
    camera.update();
    EXPECT_EQ(camera.view, glm::lookAt(camera.eye, camera.target, camera.up));
    EXPECT_EQ(camera.model, glm::mat4(1.0f));
}

TEST(Camera, ZRotationActsBeforeX) {
    Camera camera = neutralCamera();
    camera.rotationX = 90.0f;
    camera.rotationZ = 90.0f;
    camera.update();
    const glm::vec4 mapped = camera.model * glm::vec4(1.0f, 0.0f, 0.0f, 1.0f);
    expectVecNear(glm::vec3(mapped), glm::vec3(0.0f, 0.0f, 1.0f));
}

TEST(Camera, OffsetsShiftTheWorldBeforeTheLookAt) {
    Camera camera = neutralCamera();
    camera.sideOffset = 2.0f;
    camera.upOffset = 3.0f;
    camera.viewOffset = 5.0f;
    camera.update();
    const glm::mat4 lookAt = glm::lookAt(camera.eye, camera.target, camera.up);
    const glm::vec3 forward = glm::normalize(camera.target - camera.eye);
    const glm::vec3 side = glm::cross(forward, camera.up);
    const glm::vec3 shift = 2.0f * side + 3.0f * camera.up + 5.0f * forward;
    const glm::vec4 point(1.0f, -2.0f, 4.0f, 1.0f);
    const glm::vec4 viaCamera = camera.view * point;
    const glm::vec4 expected = lookAt * (point + glm::vec4(shift, 0.0f));
    expectVecNear(glm::vec3(viaCamera), glm::vec3(expected), 1e-4f);
}

TEST(Camera, LongerUpDoublesTheSideAndUpShifts) {
    auto shiftOf = [](const glm::vec3& up) {
        Camera camera = neutralCamera();
        camera.up = up;
        camera.sideOffset = 1.0f;
        camera.upOffset = 1.0f;
        camera.update();
        const glm::mat4 lookAt = glm::lookAt(camera.eye, camera.target, camera.up);
        return glm::vec3(camera.view[3] - lookAt[3]);
    };
    const glm::vec3 unit = shiftOf(glm::vec3(0.0f, 1.0f, 0.0f));
    const glm::vec3 doubled = shiftOf(glm::vec3(0.0f, 2.0f, 0.0f));
    EXPECT_GT(glm::length(unit), 0.1f);
    expectVecNear(doubled, 2.0f * unit, 1e-4f);
}

TEST(Camera, RotateVector) {
    struct Case {
        glm::vec3 v;
        float a, b;
        glm::vec3 expected;
    };
    const Case cases[] = {
        {{1, 0, 0}, 0, 90, {0, 0, -1}},
        {{0, 1, 0}, 90, 0, {0, 0, 1}},
        {{0, 0, 1}, 0, 90, {1, 0, 0}},
        {{0, 0, 1}, 90, 0, {0, -1, 0}},
        {{1, 2, 3}, 0, 0, {1, 2, 3}},
        // Y first, then X: (1,0,0) -> (0,0,-1) about Y, then -> (0,1,0) about X.
        {{1, 0, 0}, 90, 90, {0, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "a " << c.a << " b " << c.b);
        expectVecNear(rotateVector(c.v, c.a, c.b), c.expected);
    }
}
