# Shared part of the cross toolchain files: Debian 12's cross compilers for
# TVX_CROSS_TRIPLET, libraries of the target processor from Debian's multiarch
# directories (libgtest-dev:ARCH, libzip-dev:ARCH), programs (javac, jar,
# pkg-config) from the build machine.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${TVX_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TVX_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${TVX_CROSS_MULTIARCH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# pkg-config reports the target processor's libraries only.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${TVX_CROSS_MULTIARCH}/pkgconfig:/usr/share/pkgconfig")
