#pragma once
// The ".ife" sprite animations as the image builder sees them: their sources are kept as
// commented text with any line ends, checked strictly here, and written out with CR LF line
// ends, the only line end the show's reader accepts.

#include <cstdint>
#include <string>
#include <vector>

#include "ife/IfeKey.h"

struct ScriptSprite {
    std::string imageName;
    std::string text2;
    std::string text3;
    int32_t blendMode = 0;
    std::vector<IfeKey> keys;
};

struct IfeScript {
    std::vector<ScriptSprite> sprites;
};

// Splits text at CR LF, CR or LF.
std::vector<std::string> splitLines(const std::string& text);

// Reads a source as the show reads the asset ("#" lines skipped where a line is expected,
// empty lines are data) but refuses anything the show would read silently as 0 or as an
// empty name: counts that are not numbers, key lines with fewer than eleven values, keys out
// of order or sharing a time, blend mode 0 (it would switch blending off for the rest of the
// run) and data after the last block. `where` names the source in messages.
bool parseIfe(const std::string& text, const std::string& where, IfeScript& out,
              std::string& error);

// The source's lines joined with CR LF, the last one terminated too.
std::string withCrLf(const std::string& text);
