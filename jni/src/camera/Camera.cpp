#include "camera/Camera.h"

#include <glm/gtc/matrix_transform.hpp>

#include "math/PortableMath.h"

void Camera::update() {
    projection = portablePerspective(fov * kDegToRad, aspect, zNear, zFar);
    view = glm::lookAt(eye, target, up);

    // The side direction is not normalised: its length is |up| * sin(angle(forward, up)).
    const glm::vec3 forward = glm::normalize(target - eye);
    const glm::vec3 side = glm::cross(forward, up);
    view = glm::translate(view, sideOffset * side);
    view = glm::translate(view, upOffset * up);
    view = glm::translate(view, viewOffset * forward);

    // Rx * Ry * Rz: on a point, Z turns first and X last.
    model = portableRotate(glm::mat4(1.0f), rotationX * kDegToRad, glm::vec3(1.0f, 0.0f, 0.0f));
    model = portableRotate(model, rotationY * kDegToRad, glm::vec3(0.0f, 1.0f, 0.0f));
    model = portableRotate(model, rotationZ * kDegToRad, glm::vec3(0.0f, 0.0f, 1.0f));
}

glm::vec3 rotateVector(const glm::vec3& v, float a, float b) {
    const float angleA = a * kDegToRad;
    const float angleB = b * kDegToRad;
    float sinA, cosA, sinB, cosB;
    portableSinCos(angleA, sinA, cosA);
    portableSinCos(angleB, sinB, cosB);
    return rotateVector(v, sinA, cosA, sinB, cosB);
}

glm::vec3 rotateVector(const glm::vec3& v, float sinA, float cosA, float sinB, float cosB) {
    return glm::vec3(v.x * cosB + v.z * sinB, v.x * sinA * sinB + v.y * cosA - v.z * sinA * cosB,
                     v.y * sinA - v.x * cosA * sinB + v.z * cosA * cosB);
}
