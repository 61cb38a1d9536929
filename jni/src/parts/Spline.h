#pragma once
// A cubic curve through control points, with tangents (neighbour difference / 6).

#include <vector>

#include <glm/glm.hpp>

struct Spline {
    bool build();
    glm::vec3 evaluate(float s) const;

    std::vector<glm::vec3> points;
    std::vector<glm::vec3> tangents;
};
