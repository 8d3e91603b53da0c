# Cross-compiling onpu for 64-bit Windows with MinGW-w64 on Debian
# (package g++-mingw-w64-x86-64).
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The "-posix" compilers use the POSIX thread model (winpthreads), which
# std::thread and std::mutex, and so GoogleTest, need; the "-win32" ones lack
# them. Executables built here run on Linux through Wine, which CTest uses as
# the emulator for the tests.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ONPU_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ONPU_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ONPU_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ONPU_MINGW_PREFIX}-windres)

# Headers, libraries and packages come from the MinGW sysroot only (and from
# ONPU_FIND_ROOT_PATH: the prefix of static libraries built for Windows, as
# scripts/windows-deps.sh builds each on the ones before), never from the
# Linux host; programs (the build tools) come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ONPU_MINGW_PREFIX} ${ONPU_FIND_ROOT_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows programs run under Wine, unless the caller names another emulator.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(ONPU_WINE_PROGRAM NAMES wine)
  if(ONPU_WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ONPU_WINE_PROGRAM})
  endif()
endif()
