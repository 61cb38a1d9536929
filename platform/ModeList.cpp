#include "platform/ModeList.h"

#include <cstdio>

ModeList buildModeList(const VideoMode* modes, int count) {
    ModeList list;
    if (modes == nullptr || count <= 0)
        return list;

    // GLFW sorts ascending (depth, area, refresh): walking backwards puts the largest
    // 8-8-8 mode at its highest rate on line 0.
    for (int i = 0; i < count; ++i) {
        const VideoMode& mode = modes[count - 1 - i];
        if (mode.redBits != 8 || mode.greenBits != 8 || mode.blueBits != 8)
            continue;
        char text[500];
        std::snprintf(text, sizeof text, "%d x %d %d Hz", mode.width, mode.height,
                      mode.refreshRate);
        list.lines.push_back(text);
        list.indices.push_back(i);
    }
    return list;
}

bool modeForLine(const ModeList& list, int line, const VideoMode* modes, int count,
                 VideoMode& mode) {
    // No selection (-1), an empty list or a stale list must never read past the arrays.
    if (modes == nullptr || line < 0 || line >= static_cast<int>(list.indices.size()))
        return false;
    const int i = list.indices[static_cast<size_t>(line)];
    if (i < 0 || i >= count)
        return false;
    mode = modes[count - 1 - i];
    return true;
}
