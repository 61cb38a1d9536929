#include "ife/IfeKey.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

#include <locale.h>

#include "math/PortableMath.h"

namespace {

constexpr double kHalfPi = 1.5707963267948966;

// Numbers in .ife files always use a decimal point, whatever LC_ALL says.
locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

// "%d" of the text at `begin`: optional white space, optional sign, decimal digits.
// Returns false (and leaves `value`) when no number starts there; clamps to 32 bits.
bool scanInt(const char* begin, const char** end, int32_t& value) {
    char* stop = nullptr;
    const long long parsed = strtoll_l(begin, &stop, 10, cLocale());
    if (stop == begin) {
        return false;
    }
    if (parsed > std::numeric_limits<int32_t>::max()) {
        value = std::numeric_limits<int32_t>::max();
    } else if (parsed < std::numeric_limits<int32_t>::min()) {
        value = std::numeric_limits<int32_t>::min();
    } else {
        value = static_cast<int32_t>(parsed);
    }
    *end = stop;
    return true;
}

// "%f" of the text at `begin`, with the C locale's decimal point.
bool scanFloat(const char* begin, const char** end, float& value) {
    char* stop = nullptr;
    const float parsed = strtof_l(begin, &stop, cLocale());
    if (stop == begin) {
        return false;
    }
    value = parsed;
    *end = stop;
    return true;
}

} // namespace

// Parsing

int32_t parseInt(const std::string& line) {
    int32_t value = 0;
    const char* end = nullptr;
    scanInt(line.c_str(), &end, value);
    return value;
}

IfeKey parseKey(const std::string& line) {
    IfeKey key{};
    const char* cursor = line.c_str();
    int32_t time = 0;
    if (!scanInt(cursor, &cursor, time)) {
        return key;
    }
    // "%d" is read signed and used unsigned.
    key.time = static_cast<uint32_t>(time);
    if (!scanFloat(cursor, &cursor, key.x) || !scanFloat(cursor, &cursor, key.y) ||
        !scanInt(cursor, &cursor, key.easing)) {
        return key;
    }
    float* const rest[] = {&key.angle, &key.width, &key.height, &key.red,
                           &key.green, &key.blue,  &key.alpha};
    for (float* value : rest) {
        if (!scanFloat(cursor, &cursor, *value)) {
            break;
        }
    }
    return key;
}

// Interpolation

float ease(int32_t kind, float a, float b, float u) {
    const double from = a;
    const double to = b;
    const double along = u;
    switch (kind) {
    case 0:
        return static_cast<float>(from + (to - from) * along);
    case 1:
        return static_cast<float>(from + (to - from) * portableSinDouble(along * kHalfPi));
    case 2:
        return static_cast<float>(from + (to - from) * (1.0 - portableSinDouble(along * kHalfPi + kHalfPi)));
    default:
        return 0.0f;
    }
}

IfeSpriteState interpolateKeys(const std::vector<IfeKey>& keys, float t) {
    const size_t count = keys.size();
    if (count == 0) {
        return IfeSpriteState{};
    }
    size_t current = 0;      // the last key at or before t
    size_t next = count - 1; // the first key at or after t
    for (size_t i = 0; i < count; ++i) {
        if (static_cast<float>(keys[i].time) <= t) {
            current = i;
        }
    }
    for (size_t i = 0; i < count; ++i) {
        if (static_cast<float>(keys[i].time) >= t) {
            next = i;
            break;
        }
    }

    // Keys of equal time would divide 0 by 0: hold the current key instead.
    float u = 0.0f;
    const uint32_t span = keys[next].time - keys[current].time; // unsigned, as stored
    if (current != next && span != 0) {
        u = (t - static_cast<float>(keys[current].time)) / static_cast<float>(span);
    }

    const IfeKey& a = keys[current];
    const IfeKey& b = keys[next];
    const int32_t kind = a.easing;
    IfeSpriteState state;
    state.angle = ease(kind, a.angle, b.angle, u);
    state.x = ease(kind, a.x, b.x, u);
    state.y = ease(kind, a.y, b.y, u);
    state.halfWidth = ease(kind, a.width, b.width, u) * 0.5f;
    state.halfHeight = ease(kind, a.height, b.height, u) * 0.5f;
    state.alpha = ease(kind, a.alpha, b.alpha, u) / 255.0f;
    state.blue = ease(kind, a.blue, b.blue, u) / 255.0f;
    state.green = ease(kind, a.green, b.green, u) / 255.0f;
    state.red = ease(kind, a.red, b.red, u) / 255.0f;
    return state;
}
