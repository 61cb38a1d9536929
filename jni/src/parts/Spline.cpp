// Each segment is a cubic Bezier from point i to point i+1 whose inner control points lie one
// tangent away from the ends; tangents are a sixth of the neighbour difference.

#include "parts/Spline.h"

bool Spline::build() {
    const size_t n = points.size();
    if (n < 2)
        return false;
    tangents.resize(n);
    tangents[0] = (points[1] - points[0]) / 6.0f;
    tangents[n - 1] = (points[n - 1] - points[n - 2]) / 6.0f;
    for (size_t i = 1; i + 1 < n; ++i)
        tangents[i] = (points[i + 1] - points[i - 1]) / 6.0f;
    return true;
}

glm::vec3 Spline::evaluate(float s) const {
    const size_t n = points.size();
    if (n == 0)
        return glm::vec3(0.0f);
    if (!(s > 0.0f))
        return points[0]; // NaN lands here too
    if (s >= static_cast<float>(n - 1))
        return points[n - 1];
    // Unbuilt curves have no tangents: keep to the control points rather than read past.
    if (tangents.size() != n)
        return points[static_cast<size_t>(s)];
    const size_t i = static_cast<size_t>(s);
    const float u = s - static_cast<float>(i);
    const float c = 1.0f - u;
    const glm::vec3& p = points[i];
    const glm::vec3& q = points[i + 1];
    return p * (c * c * c) + (p + tangents[i]) * (3.0f * u * c * c) +
           (q - tangents[i + 1]) * (3.0f * u * u * c) + q * (u * u * u);
}
