# 64-bit ARM; programs run under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TVX_CROSS_TRIPLET aarch64-linux-gnu)
set(TVX_CROSS_MULTIARCH aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-common.cmake)
