# Cross build for 64-bit ARM Linux (Debian arm64, Raspberry Pi OS 64-bit) on a Debian machine
# of another architecture, with Debian's cross toolchain and the arm64 libraries installed
# beside the build machine's own through multiarch (scripts/install-deps.sh test arm64).
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
#         -DLUMENFALL_HOST_TOOLS=build
#
# The content tools run while building, so they come from a native build of the build machine
# (LUMENFALL_HOST_TOOLS, its folder). Test programs run under qemu's user-mode emulator.
# scripts/build-arm64.sh does all of this.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Headers and libraries come from the multiarch folders of the build machine's own root, so
# there is no sysroot; programs (python3, glslang, ffmpeg) are the build machine's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# pkg-config reads only the arm64 .pc files (and the architecture-free ones in /usr/share).
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# How CTest starts an arm64 program: under qemu, which finds the arm64 dynamic loader where
# multiarch puts it (libc6:arm64, /lib/ld-linux-aarch64.so.1). Not "-L /usr/aarch64-linux-gnu":
# that loader comes from the cross toolchain's own C library, whose release need not be the
# one the arm64 libraries load, and a loader from another release is not to be trusted.
# Programs that the tests start themselves need binfmt_misc (update-binfmts --enable
# qemu-aarch64), which the script switches on where it can.
find_program(LUMENFALL_QEMU_AARCH64 qemu-aarch64-static)
if(LUMENFALL_QEMU_AARCH64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${LUMENFALL_QEMU_AARCH64})
endif()
