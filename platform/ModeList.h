#pragma once
// The toolkit-free logic of the setup dialog: which video modes are listed, in which order
// and with which text, and what "start" makes of the selected line.

#include <string>
#include <vector>

struct VideoMode {
    int width, height, redBits, greenBits, blueBits, refreshRate;
};

struct ModeList {
    std::vector<std::string> lines;  // "%d x %d %d Hz"
    std::vector<int> indices;        // i: the mode is element count - 1 - i
};

// Walks the modes from the last to the first and lists the 8-8-8 ones.
ModeList buildModeList(const VideoMode* modes, int count);

// The mode behind a selected line, or false when there is no such line.
bool modeForLine(const ModeList& list, int line, const VideoMode* modes, int count,
                 VideoMode& mode);
