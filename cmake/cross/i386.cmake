# 32-bit x86; programs run natively on the x86-64 kernel (with the i386 C
# library installed as Debian multiarch).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TVX_CROSS_TRIPLET i686-linux-gnu)
set(TVX_CROSS_MULTIARCH i386-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-common.cmake)
