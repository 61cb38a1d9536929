#pragma once
// How the content tools say what went wrong: "<program>: <message>" on stderr, written where
// the failure happens; the function that failed returns false and its callers pass that on.

#include <errno.h>

#include <cstdio>
#include <string>

inline void reportFailure(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, message.c_str());
}
