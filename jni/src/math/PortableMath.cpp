#include "math/PortableMath.h"

#include <cfloat>
#include <cmath>
#include <cstdint>

namespace {

// pi/2 in two parts; the head has 33 significant bits, so q * head is exact for q < 2^20.
constexpr double kPiOver2Head = 0x1.921fb544p+0;
constexpr double kPiOver2Tail = 0x1.0b4611a626331p-34;
constexpr double kTwoOverPi = 0.6366197723675814;
// Beyond this |x| the argument is first brought below 2 pi by fmod, which is exact; such
// angles are far outside the show's and only need to be the same everywhere.
constexpr double kDirectReductionLimit = 0x1p19;
constexpr double kTwoPi = 6.283185307179586;

// x = quadrant * pi/2 + r with |r| <= pi/4 (plus a rounding); x finite.
double reduce(double x, int32_t& quadrant) {
    if (std::fabs(x) > kDirectReductionLimit)
        x = std::fmod(x, kTwoPi);
    const double q = std::floor(x * kTwoOverPi + 0.5);
    quadrant = static_cast<int32_t>(q);
    return (x - q * kPiOver2Head) - q * kPiOver2Tail;
}

// Taylor series on |r| <= pi/4, cut where the next term is below 1e-16: far below what
// rounding to float can see.
double sinSeries(double r) {
    const double z = r * r;
    return r + r * z *
                   (-1.0 / 6.0 +
                    z * (1.0 / 120.0 +
                         z * (-1.0 / 5040.0 +
                              z * (1.0 / 362880.0 +
                                   z * (-1.0 / 39916800.0 + z * (1.0 / 6227020800.0 +
                                                                 z * (-1.0 / 1307674368000.0)))))));
}

double cosSeries(double r) {
    const double z = r * r;
    return 1.0 +
           z * (-1.0 / 2.0 +
                z * (1.0 / 24.0 +
                     z * (-1.0 / 720.0 +
                          z * (1.0 / 40320.0 + z * (-1.0 / 3628800.0 +
                                                    z * (1.0 / 479001600.0 +
                                                         z * (-1.0 / 87178291200.0 +
                                                              z * (1.0 / 20922789888000.0))))))));
}

// Both in double; quadrant q turns (sin r, cos r) by q quarter turns. NaN for infinities
// and NaN.
void sinCosDouble(double x, double& sinOut, double& cosOut) {
    if (!(std::fabs(x) <= DBL_MAX)) {
        sinOut = cosOut = x - x;
        return;
    }
    int32_t quadrant = 0;
    const double r = reduce(x, quadrant);
    const double s = sinSeries(r);
    const double c = cosSeries(r);
    switch (quadrant & 3) {
    case 0:
        sinOut = s;
        cosOut = c;
        break;
    case 1:
        sinOut = c;
        cosOut = -s;
        break;
    case 2:
        sinOut = -s;
        cosOut = -c;
        break;
    default:
        sinOut = -c;
        cosOut = s;
        break;
    }
}

} // namespace

double portableSinDouble(double x) {
    double s, c;
    sinCosDouble(x, s, c);
    return s;
}

float portableSin(float x) {
    double s, c;
    sinCosDouble(x, s, c);
    return static_cast<float>(s);
}

float portableCos(float x) {
    double s, c;
    sinCosDouble(x, s, c);
    return static_cast<float>(c);
}

float portableTan(float x) {
    double s, c;
    sinCosDouble(x, s, c);
    return static_cast<float>(s / c);
}

void portableSinCos(float x, float& sinOut, float& cosOut) {
    double s, c;
    sinCosDouble(x, s, c);
    sinOut = static_cast<float>(s);
    cosOut = static_cast<float>(c);
}

glm::mat4 portableRotate(const glm::mat4& m, float angle, const glm::vec3& axisIn) {
    float s, c;
    portableSinCos(angle, s, c);
    const glm::vec3 axis = glm::normalize(axisIn);
    const glm::vec3 temp = (1.0f - c) * axis;

    glm::mat4 rotation;
    rotation[0][0] = c + temp[0] * axis[0];
    rotation[0][1] = temp[0] * axis[1] + s * axis[2];
    rotation[0][2] = temp[0] * axis[2] - s * axis[1];
    rotation[1][0] = temp[1] * axis[0] - s * axis[2];
    rotation[1][1] = c + temp[1] * axis[1];
    rotation[1][2] = temp[1] * axis[2] + s * axis[0];
    rotation[2][0] = temp[2] * axis[0] + s * axis[1];
    rotation[2][1] = temp[2] * axis[1] - s * axis[0];
    rotation[2][2] = c + temp[2] * axis[2];

    glm::mat4 result;
    result[0] = m[0] * rotation[0][0] + m[1] * rotation[0][1] + m[2] * rotation[0][2];
    result[1] = m[0] * rotation[1][0] + m[1] * rotation[1][1] + m[2] * rotation[1][2];
    result[2] = m[0] * rotation[2][0] + m[1] * rotation[2][1] + m[2] * rotation[2][2];
    result[3] = m[3];
    return result;
}

glm::mat4 portablePerspective(float fovy, float aspect, float zNear, float zFar) {
    const float tanHalfFovy = portableTan(fovy / 2.0f);
    glm::mat4 result(0.0f);
    result[0][0] = 1.0f / (aspect * tanHalfFovy);
    result[1][1] = 1.0f / tanHalfFovy;
    result[2][2] = -(zFar + zNear) / (zFar - zNear);
    result[2][3] = -1.0f;
    result[3][2] = -(2.0f * zFar * zNear) / (zFar - zNear);
    return result;
}
