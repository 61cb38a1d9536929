#pragma once
// The setup dialog: a modal GTK dialog listing the primary monitor's 8-8-8 modes with a
// "fullscreen" check box, "start" and "cancel". The choice logic lives in ModeList.

#include <cstdint>
#include <string>

struct GLFWvidmode;

struct DialogChoice {
    int32_t width = 0;
    int32_t height = 0;
    bool fullscreen = true;
};

// Shows the dialog with `title` as caption and `choice.fullscreen` as the box's default.
// Returns 1 on "start" (choice filled) and 0 on "cancel", Escape or the close box.
int runSetupDialog(const std::string& title, const GLFWvidmode* modes, int count,
                   DialogChoice& choice);
