// The steps the scenes share: lens, opening shot, uniform lookup, particle pass, additive state.

#include "parts/Part.h"

#include "camera/Camera.h"
#include "demo/Demo.h"
#include "particles/ParticleSet.h"

void Part::sceneLens(Camera& camera) const {
    camera.fov = 90.0f;
    // Before the screen size is set the aspect integers are 0; fall back to 16:9.
    camera.aspect = demo && demo->aspectHeight != 0 ? static_cast<float>(demo->aspectWidth) /
                                                          static_cast<float>(demo->aspectHeight)
                                                    : 16.0f / 9.0f;
    camera.zNear = 0.1f;
    camera.zFar = 20000.0f;
    camera.eye = glm::vec3(10.0f, 0.5f, 0.3f);
    camera.target = glm::vec3(0.1f, 0.2f, 0.3f);
    camera.up = glm::vec3(0.0f, 1.0f, 0.0f);
}

void Part::openingShot(Camera& camera) {
    camera.sideOffset = -0.50000054f;
    camera.upOffset = 1.5999999f;
    camera.viewOffset = 7.9199944f;
    camera.rotationX = 92.0f;
    camera.rotationY = -173.0f;
    camera.rotationZ = -1884.0555f;
}

bool Part::hasSharedSets(uint32_t pointsNeeded, uint32_t directionsNeeded) const {
    return demo && demo->randomPoints.size() >= pointsNeeded &&
           demo->randomDirections.size() >= directionsNeeded;
}

void Part::lookupUniforms(ParticleSet& set, std::initializer_list<const char*> names,
                          std::initializer_list<GLint*> locations) {
    glUseProgram(set.program.program);
    auto location = locations.begin();
    for (const char* name : names) {
        const GLint found = glGetUniformLocation(set.program.program, name);
        if (found >= 0)
            glUniform1f(found, 0.0f);
        if (location != locations.end())
            **location++ = found;
    }
    glUseProgram(0);
}

void Part::particlePass(ParticleSet& set, const Camera& camera,
                        std::initializer_list<std::pair<GLint, float>> uniforms, uint32_t count) {
    glBindTexture(GL_TEXTURE_2D, set.texture.id);
    set.texture.unit = GL_TEXTURE0;
    glUseProgram(set.program.program);
    for (const auto& uniform : uniforms)
        glUniform1f(uniform.first, uniform.second);
    set.draw(count, camera);
    glUseProgram(0);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void Part::additiveState() {
    glDisable(GL_DEPTH_TEST);
    glBlendFunc(GL_ONE, GL_ONE);
}
