#pragma once
// What the setup dialog chose. One instance, owned by the entry point.

#include <cstdint>
#include <string>

struct Settings {
    std::string title;
    int32_t width = 0;
    int32_t height = 0;
    bool fullscreen = true;
};

// The production title: window title and dialog caption.
extern const char* const kProductionTitle;
