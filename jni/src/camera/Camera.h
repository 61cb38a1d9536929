#pragma once
// The scene camera: lens, look-at frame, three offsets applied after the look-at and three
// model rotations. update() turns the fields into projection, view and model matrices.
// Angles are degrees, converted with the single-precision factor just before the matrices are
// built (with the portable sine and cosine, so every machine gets the same ones).

#include <glm/glm.hpp>

constexpr float kDegToRad = 0.017453292f;

struct Camera {
    void update();

    float fov = 90.0f;
    float aspect = 16.0f / 9.0f;
    float zNear = 1.0f;
    float zFar = 1000.0f;
    glm::mat4 projection{1.0f};
    glm::vec3 eye{10.0f, 10.0f, 10.0f};
    glm::vec3 target{0.0f, 0.0f, 0.0f};
    glm::vec3 up{0.0f, 0.0f, 1.0f};
    glm::mat4 view{1.0f};
    float sideOffset = 1.0f;
    float upOffset = 1.0f;
    float viewOffset = 1.0f;
    float rotationX = 1.0f;
    float rotationY = 1.0f;
    float rotationZ = 1.0f;
    glm::mat4 model{1.0f};
};

// Rx(a) * Ry(b) * v: first b degrees about Y, then a degrees about X.
glm::vec3 rotateVector(const glm::vec3& v, float a, float b);
// The same rotation from the sines and cosines of the two angles (in radians, as
// rotateVector takes them), for callers that reuse them.
glm::vec3 rotateVector(const glm::vec3& v, float sinA, float cosA, float sinB, float cosB);
