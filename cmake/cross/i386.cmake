# 32-bit x86, with the i386 C library installed as Debian multiarch. Programs
# run natively where the x86-64 kernel executes i386 programs and under
# qemu-i386 where it does not (some kernels are built without IA-32
# emulation); i386-exec.sh decides by trying, as the set-up does.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TVX_CROSS_TRIPLET i686-linux-gnu)
set(TVX_CROSS_MULTIARCH i386-linux-gnu)
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/i386-exec.sh
                OUTPUT_VARIABLE TVX_I386_EXEC OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE tvx_i386_probe_status)
if(NOT tvx_i386_probe_status EQUAL 0)
  message(FATAL_ERROR "cannot tell whether this machine runs i386 programs (i386-exec.sh failed)")
endif()
if(TVX_I386_EXEC STREQUAL "qemu")
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-i386-static)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-common.cmake)
