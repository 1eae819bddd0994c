# Cross-builds for Windows x86-64 with Debian's MinGW-w64 compilers:
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The "-posix" compilers use the POSIX thread model (winpthreads), which
# gives the C++ library std::thread and std::mutex; the "-win32" ones lack
# them.  Programs built here run under Wine: ctest starts every test program
# through it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VOKAPI_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VOKAPI_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VOKAPI_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VOKAPI_MINGW_TRIPLET}-windres)

# Libraries, headers and CMake packages come from the MinGW sysroot only,
# never from the build machine; programs (the build tools) from the build
# machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VOKAPI_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine runs the Windows programs.  Debian's wine64 package installs the
# loader outside the search path, so its own folder is searched too.
find_program(VOKAPI_WINE
  NAMES wine64 wine
  PATHS /usr/lib/wine /usr/lib64/wine /opt/wine-stable/bin /opt/wine-devel/bin
  NO_CMAKE_FIND_ROOT_PATH)
if(VOKAPI_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VOKAPI_WINE})
endif()
