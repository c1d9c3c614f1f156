# Cross build for the ARM64 server host (Debian's aarch64-linux-gnu toolchain).
# Libraries come from Debian's arm64 multiarch packages; yaml-cpp's arm64
# headers and CMake files are unpacked into the build tree, because its -dev
# package cannot sit beside the amd64 one (scripts/test --arch arm64).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# The binaries run through binfmt_misc too; qemu without -L uses the arm64
# C library that multiarch installed, never a second one.
find_program(LUMERION_QEMU_AARCH64 qemu-aarch64-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${LUMERION_QEMU_AARCH64})
