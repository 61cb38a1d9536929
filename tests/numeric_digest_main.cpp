// Entry point of the digest program, compiled for the x86-64 baseline in every build: a
// build for a newer instruction set first checks that this processor has it.

#include <cstdio>

int runNumericDigest();

#ifndef LUMENFALL_DIGEST_NEEDS
#define LUMENFALL_DIGEST_NEEDS 0
#endif

int main() {
#if LUMENFALL_DIGEST_NEEDS && defined(__x86_64__)
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma") ||
        !__builtin_cpu_supports("bmi2")) {
        std::printf("skipped: this processor cannot run x86-64-v3 code\n");
        return 77;
    }
#endif
    return runNumericDigest();
}
