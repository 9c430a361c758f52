# Cross build for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu) and the arm64 libraries installed beside the host's
# through multiarch; scripts/cross-aarch64.sh installs both and uses this file.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# The arm64 libraries, headers and CMake packages sit in the multiarch folders
# (/usr/lib/aarch64-linux-gnu, /usr/include/aarch64-linux-gnu), which the
# cross compiler searches by itself; CMake's searches take this folder name.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# Debian's wrapper reads the arm64 .pc files only.
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config CACHE FILEPATH "pkg-config for arm64")

# Programs built here run under qemu-user: the demo show's generator at build
# time, test discovery and the tests. The emulator takes the arm64 loader and
# libraries from the multiarch folders (libc6:arm64 puts the loader at
# /lib/ld-linux-aarch64.so.1). No -L /usr/aarch64-linux-gnu: the cross
# compiler's loader there is an older build than the multiarch libc it then
# loads, and with the two mixed, threads waiting on each other hung.
find_program(ORB_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ORB_QEMU_AARCH64})
