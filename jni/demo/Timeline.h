#pragma once
// The scenes in order of music time. The timeline owns its scenes.

#include <cstdint>
#include <vector>

class Part;

class Timeline {
public:
    Timeline() = default;
    ~Timeline();
    Timeline(const Timeline&) = delete;
    Timeline& operator=(const Timeline&) = delete;

    // Gives the scene the window [lastEndMs, endMs]; a window ending at or before firstMs
    // is destroyed instead of listed.
    void add(uint32_t endMs, Part* scene);
    bool initAll();
    // The first listed scene whose window holds t, or null.
    Part* sceneAt(uint32_t t) const;
    // Lets the scene at t draw and counts the draw; returns it (null when none holds t).
    Part* drawAt(uint32_t t);

    uint32_t firstMs = 0;
    uint32_t lastEndMs = 0;
    std::vector<Part*> scenes;
};
