// The timeline owns its scenes: every scene handed to add() is either listed or destroyed.

#include "Timeline.h"

#include <cstdio>

#include "parts/Part.h"
#include "progress/Progress.h"
#include "report/Errors.h"

Timeline::~Timeline() {
    for (Part* scene : scenes)
        delete scene;
    scenes.clear();
}

void Timeline::add(uint32_t endMs, Part* scene) {
    if (!scene)
        return;
    scene->startMs = lastEndMs;
    scene->endMs = endMs;
    lastEndMs = endMs;
    if (firstMs >= endMs) {
        delete scene;
        return;
    }
    scenes.push_back(scene);
}

bool Timeline::initAll() {
    for (size_t k = 0; k < scenes.size(); ++k) {
        progressStep();
        if (!scenes[k]->init()) {
            char message[48];
            std::snprintf(message, sizeof message, "Part%02u init error!",
                          static_cast<unsigned>(k + 1));
            reportError(message);
            return false;
        }
    }
    return true;
}

Part* Timeline::sceneAt(uint32_t t) const {
    for (Part* scene : scenes) {
        if (scene->startMs <= t && t <= scene->endMs)
            return scene;
    }
    return nullptr;
}

Part* Timeline::drawAt(uint32_t t) {
    Part* scene = sceneAt(t);
    if (scene) {
        scene->draw(t);
        scene->drawCount += 1;
    }
    return scene;
}
