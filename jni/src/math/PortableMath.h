#pragma once
// Sine, cosine and tangent that give the same bits on every processor and in every build, and
// the two GLM matrices that call them. The C library picks its own variants at run time (with
// fused multiply-adds where the processor has them), and those round differently; everything
// here is plain IEEE arithmetic in double precision, rounded once to float at the end.

#include <glm/glm.hpp>

// Within a rounding of the exact value for |x| up to 2^19 (beyond, the same everywhere but
// no longer close); NaN for infinities and NaN.
float portableSin(float x);
float portableCos(float x);
float portableTan(float x);
void portableSinCos(float x, float& sinOut, float& cosOut);
// The sine kept in double, for formulas that work in double (within a few units in the last
// place for |x| up to a few turns).
double portableSinDouble(double x);

// glm::rotate and glm::perspective (right-handed, depth -1..1), term for term, with the
// functions above in place of the library's.
glm::mat4 portableRotate(const glm::mat4& m, float angle, const glm::vec3& axis);
glm::mat4 portablePerspective(float fovy, float aspect, float zNear, float zFar);
