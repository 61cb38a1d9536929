// The portable sine, cosine and tangent against the exact values, and its matrices against
// GLM's.

#include "math/PortableMath.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include <glm/gtc/matrix_transform.hpp>

namespace {

// Units in the last place between a float and the exact (double) value.
double ulpsFrom(float value, double exact) {
    const float nearest = static_cast<float>(exact);
    const double ulp = std::nextafter(std::fabs(nearest), INFINITY) - std::fabs(nearest);
    return std::fabs(static_cast<double>(value) - exact) / ulp;
}

} // namespace

TEST(PortableMath, SineCosineAndTangentAreWithinARounding) {
    // Every 997th float up to the direct reduction's limit, both signs, and the edges of the
    // quadrants where the reduction changes sides.
    std::vector<float> xs;
    const float limit = 524288.0f;
    uint32_t lastBits;
    std::memcpy(&lastBits, &limit, sizeof lastBits);
    for (uint32_t bits = 0; bits <= lastBits; bits += 997) {
        float x;
        std::memcpy(&x, &bits, sizeof x);
        xs.push_back(x);
        xs.push_back(-x);
    }
    for (int q = -3000; q <= 3000; ++q) {
        float x = static_cast<float>((q + 0.5) * M_PI / 2.0);
        for (int step = 0; step < 4; ++step, x = std::nextafter(x, 0.0f))
            xs.push_back(x);
    }
    double worstSin = 0.0, worstCos = 0.0, worstTan = 0.0;
    for (float x : xs) {
        float s, c;
        portableSinCos(x, s, c);
        ASSERT_EQ(s, portableSin(x));
        ASSERT_EQ(c, portableCos(x));
        worstSin = std::max(worstSin, ulpsFrom(s, std::sin(static_cast<double>(x))));
        worstCos = std::max(worstCos, ulpsFrom(c, std::cos(static_cast<double>(x))));
        if (std::fabs(x) < 1.5f)
            worstTan =
                std::max(worstTan, ulpsFrom(portableTan(x), std::tan(static_cast<double>(x))));
    }
    // Half a unit for the rounding, a little more for the series and the reduction.
    EXPECT_LE(worstSin, 0.501);
    EXPECT_LE(worstCos, 0.501);
    EXPECT_LE(worstTan, 0.501);
}

TEST(PortableMath, OddArgumentsStayDefined) {
    const float inf = std::numeric_limits<float>::infinity();
    for (float x : {inf, -inf, std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_TRUE(std::isnan(portableSin(x)));
        EXPECT_TRUE(std::isnan(portableCos(x)));
        EXPECT_TRUE(std::isnan(portableTan(x)));
    }
    for (float x : {1e6f, -3.5e7f, 1e30f, -std::numeric_limits<float>::max()}) {
        float s, c;
        portableSinCos(x, s, c);
        EXPECT_LE(std::fabs(s), 1.0f) << x;
        EXPECT_NEAR(s * s + c * c, 1.0f, 1e-6f) << x;
    }
}

TEST(PortableMath, MatricesAgreeWithGlm) {
    const struct {
        float angle;
        glm::vec3 axis;
    } rotations[] = {{0.0f, {1, 0, 0}},   {0.7f, {0, 1, 0}},     {-2.9f, {0, 0, 1}},
                     {31.4f, {1, 2, -3}}, {-1714.1f, {0, 0, 1}}, {1.5707964f, {1, 0, 0}}};
    const glm::mat4 base = glm::translate(glm::mat4(1.0f), glm::vec3(1.0f, -2.0f, 0.5f)) *
                           glm::rotate(glm::mat4(1.0f), 0.3f, glm::vec3(0.0f, 1.0f, 0.0f));
    for (const auto& r : rotations) {
        const glm::mat4 ours = portableRotate(base, r.angle, r.axis);
        const glm::mat4 theirs = glm::rotate(base, r.angle, r.axis);
        for (int column = 0; column < 4; ++column)
            for (int row = 0; row < 4; ++row)
                EXPECT_NEAR(ours[column][row], theirs[column][row], 2e-6f) << r.angle;
    }
    for (float fov : {0.3f, 1.5707964f, 2.5f}) {
        const glm::mat4 ours = portablePerspective(fov, 16.0f / 9.0f, 1.0f, 1000.0f);
        const glm::mat4 theirs = glm::perspective(fov, 16.0f / 9.0f, 1.0f, 1000.0f);
        for (int column = 0; column < 4; ++column)
            for (int row = 0; row < 4; ++row)
                EXPECT_NEAR(ours[column][row], theirs[column][row],
                            1e-6f * std::fabs(theirs[column][row]))
                    << fov;
    }
}
