# 32-bit ARM with hardware floating point; programs run under qemu-arm.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(TVX_CROSS_TRIPLET arm-linux-gnueabihf)
set(TVX_CROSS_MULTIARCH arm-linux-gnueabihf)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-common.cmake)
