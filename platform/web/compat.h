#pragma once
// What Emscripten's C library leaves out of the locale-aware number parsers the shared code
// uses. Its numbers never follow a locale (only "C" and "C.UTF-8" exist), so the plain
// parsers give the same results. Included ahead of every web source by the web build.

#include <locale.h>
#include <stdlib.h>

#ifdef __cplusplus
extern "C" {
#endif

static inline long long strtoll_l(const char* text, char** end, int base, locale_t /*locale*/) {
    return strtoll(text, end, base);
}

#ifdef __cplusplus
}
#endif
