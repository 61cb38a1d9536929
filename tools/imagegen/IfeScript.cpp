#include "IfeScript.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            line += c;
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

std::string withCrLf(const std::string& text) {
    std::string out;
    for (const std::string& line : splitLines(text)) {
        out += line;
        out += "\r\n";
    }
    return out;
}

namespace {

class LineReader {
public:
    LineReader(const std::string& text, const std::string& sourceName)
        : lines(splitLines(text)), where(sourceName) {}

    // Next line that is not a comment; false at the end of the text.
    bool next(std::string& line) {
        while (lineIndex < lines.size()) {
            line = lines[lineIndex++];
            if (line.empty() || line[0] != '#') {
                return true;
            }
        }
        return false;
    }

    std::string at() const { return where + ":" + std::to_string(lineIndex) + ": "; }

private:
    std::vector<std::string> lines;
    std::string where;
    size_t lineIndex = 0;
};

bool readInteger(const char*& cursor, int32_t& value) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(cursor, &end, 10);
    if (end == cursor || errno != 0 || parsed < INT32_MIN || parsed > INT32_MAX) {
        return false;
    }
    value = static_cast<int32_t>(parsed);
    cursor = end;
    return true;
}

bool readFloat(const char*& cursor, float& value) {
    char* end = nullptr;
    const double parsed = std::strtod(cursor, &end);
    if (end == cursor || !std::isfinite(parsed)) {
        return false;
    }
    value = static_cast<float>(parsed);
    cursor = end;
    return true;
}

bool readCount(LineReader& reader, const char* what, int32_t& value, std::string& error) {
    std::string line;
    const bool read = reader.next(line);
    const char* cursor = line.c_str();
    if (!read || !readInteger(cursor, value)) {
        error = reader.at() + "expected " + what;
        return false;
    }
    return true;
}

bool readKey(LineReader& reader, IfeKey& key, std::string& error) {
    std::string line;
    if (!reader.next(line)) {
        error = reader.at() + "missing key line";
        return false;
    }
    const char* cursor = line.c_str();
    int32_t time = 0;
    const bool ok = readInteger(cursor, time) && readFloat(cursor, key.x) &&
                    readFloat(cursor, key.y) && readInteger(cursor, key.easing) &&
                    readFloat(cursor, key.angle) && readFloat(cursor, key.width) &&
                    readFloat(cursor, key.height) && readFloat(cursor, key.red) &&
                    readFloat(cursor, key.green) && readFloat(cursor, key.blue) &&
                    readFloat(cursor, key.alpha);
    if (!ok) {
        error = reader.at() + "a key needs eleven values: time x y easing angle width height "
                              "red green blue alpha";
        return false;
    }
    if (time < 0) {
        error = reader.at() + "key times are unsigned in the show; keep them >= 0";
        return false;
    }
    key.time = static_cast<uint32_t>(time);
    if (key.easing < 0 || key.easing > 2) {
        error = reader.at() + "easing must be 0, 1 or 2";
        return false;
    }
    return true;
}

} // namespace

bool parseIfe(const std::string& text, const std::string& where, IfeScript& out,
              std::string& error) {
    out.sprites.clear();
    LineReader reader(text, where);
    int32_t count = 0;
    int32_t ignored = 0;
    if (!readCount(reader, "the sprite count", count, error) ||
        !readCount(reader, "the second header number", ignored, error)) {
        return false;
    }
    if (count < 1 || count > 64) {
        error = reader.at() + "sprite count out of range";
        return false;
    }
    for (int32_t s = 0; s < count; ++s) {
        ScriptSprite sprite;
        if (!reader.next(sprite.imageName) || !reader.next(sprite.text2) ||
            !reader.next(sprite.text3)) {
            error = reader.at() + "sprite block cut short";
            return false;
        }
        if (sprite.imageName.empty() || sprite.imageName.find_first_of(" \t") == 0 ||
            sprite.imageName.find_last_of(" \t") == sprite.imageName.size() - 1) {
            error = reader.at() + "image name is empty or padded: '" + sprite.imageName + "'";
            return false;
        }
        int32_t keyCount = 0;
        if (!readCount(reader, "the key count", keyCount, error) ||
            !readCount(reader, "the blend mode", sprite.blendMode, error)) {
            return false;
        }
        if (keyCount < 1 || keyCount > 1000) {
            error = reader.at() + "key count out of range";
            return false;
        }
        if (sprite.blendMode < 1 || sprite.blendMode > 4) {
            error = reader.at() + "blend mode must be 1 to 4 (0 switches blending off for good)";
            return false;
        }
        for (int32_t k = 0; k < keyCount; ++k) {
            IfeKey key{};
            if (!readKey(reader, key, error)) {
                return false;
            }
            if (!sprite.keys.empty() && key.time <= sprite.keys.back().time) {
                error = reader.at() + "key times must rise strictly";
                return false;
            }
            sprite.keys.push_back(key);
        }
        out.sprites.push_back(std::move(sprite));
    }
    std::string rest;
    if (reader.next(rest)) {
        error = reader.at() + "data after the last sprite block";
        return false;
    }
    return true;
}
