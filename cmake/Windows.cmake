# Settings of the Windows build (MinGW-w64, natively or cross-compiled with
# cmake/mingw-w64-x86_64.cmake).

# zlib is linked into the library: Wine ships a zlib1.dll of its own, which
# would hide a missing one on a real Windows machine.
set(ZLIB_USE_STATIC_LIBS ON)

if(MINGW)
  # The C++ runtime, libgcc and winpthreads are linked statically, so that
  # vokapi.dll and the programs load only DLLs of the system.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

# Programs and the DLL side by side: Windows finds a program's DLLs in the
# program's own folder.
if(NOT CMAKE_RUNTIME_OUTPUT_DIRECTORY)
  set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
endif()

# Header-only libraries that a cross build takes from the build machine
# (the MinGW sysroot has no packages of them).  Each gets a package
# configuration in the build folder whose include folder holds only that
# library's headers, so that the build machine's other headers stay out of
# the Windows compile.
function(vokapi_host_header_package package target header_dir)
  set(definitions "${ARGN}")
  set(root ${PROJECT_BINARY_DIR}/host-headers/${package})
  get_filename_component(name "${header_dir}" NAME)
  if(NOT EXISTS "${header_dir}")
    return()
  endif()
  file(MAKE_DIRECTORY ${root}/include)
  file(CREATE_LINK "${header_dir}" "${root}/include/${name}" SYMBOLIC)
  file(WRITE ${root}/${package}Config.cmake
    "if(NOT TARGET ${target})\n"
    "  add_library(${target} INTERFACE IMPORTED)\n"
    "  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES \"${root}/include\"\n"
    "    INTERFACE_COMPILE_DEFINITIONS \"${definitions}\")\n"
    "endif()\n")
  set(${package}_DIR ${root} CACHE PATH "Package configuration of ${package} for the cross build" FORCE)
endfunction()

if(CMAKE_CROSSCOMPILING)
  vokapi_host_header_package(CLI11 CLI11::CLI11 /usr/include/CLI)
  vokapi_host_header_package(nlohmann_json nlohmann_json::nlohmann_json /usr/include/nlohmann)
  # fmt is a compiled library on the build machine; its headers alone serve
  # as well (FMT_HEADER_ONLY), which the vok tool uses.
  vokapi_host_header_package(fmt fmt::fmt /usr/include/fmt FMT_HEADER_ONLY=1)
endif()

# The library as a DLL: vokapi.dll (no "lib" prefix) with the import library
# libvokapi.dll.a.
function(vokapi_windows_library target)
  set_target_properties(${target} PROPERTIES PREFIX "" RUNTIME_OUTPUT_NAME vokapi)
endfunction()

# GoogleTest for the cross build, compiled from its sources with the cross
# compiler (Debian's libgtest-dev holds build-machine libraries only).
set(VOKAPI_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
macro(vokapi_cross_googletest)
  if(NOT EXISTS ${VOKAPI_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${VOKAPI_GTEST_SOURCE_DIR} (Debian package googletest)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${VOKAPI_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endmacro()
