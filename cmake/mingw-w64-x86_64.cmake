# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads).
#   cmake --preset mingw
# The executables link the C and C++ runtimes statically, so they import only
# system DLLs. Header-only libraries of the build machine (Boost, CLI11,
# nlohmann-json) are reached through a staging folder holding just those
# headers: adding all of /usr/include would put the host's C library in front
# of mingw's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SHARELINK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SHARELINK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SHARELINK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SHARELINK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SHARELINK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
# Windows 7 and later.
# GCC 12 warns falsely about std::string concatenation (its bug 105329).
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0601 -DWINVER=0x0601 -Wno-restrict")

# Tests run under Wine.
find_program(SHARELINK_WINE wine)
if(SHARELINK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SHARELINK_WINE})
endif()

# The staging folder for host headers; the toolchain file is read again for each
# try_compile, which needs none of it.
if(NOT CMAKE_IN_TRY_COMPILE AND CMAKE_BINARY_DIR)
  set(_stage ${CMAKE_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${_stage}/include)
  foreach(_dir boost CLI nlohmann toml++)
    if(NOT EXISTS ${_stage}/include/${_dir})
      file(CREATE_LINK /usr/include/${_dir} ${_stage}/include/${_dir} SYMBOLIC)
    endif()
  endforeach()
  # Minimal package configurations for the two header-only libraries.
  foreach(_pkg CLI11 nlohmann_json)
    if(_pkg STREQUAL "CLI11")
      set(_target CLI11::CLI11)
      set(_version 2.1.2)
    else()
      set(_target nlohmann_json::nlohmann_json)
      set(_version 3.11.2)
    endif()
    file(WRITE ${_stage}/cmake/${_pkg}/${_pkg}Config.cmake
"if(NOT TARGET ${_target})
  add_library(${_target} INTERFACE IMPORTED)
  set_target_properties(${_target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES \"${_stage}/include\")
endif()
set(${_pkg}_FOUND TRUE)
")
    # The versions Debian 12 ships.
    file(WRITE ${_stage}/cmake/${_pkg}/${_pkg}ConfigVersion.cmake
"set(PACKAGE_VERSION ${_version})
if(PACKAGE_FIND_VERSION VERSION_GREATER PACKAGE_VERSION)
  set(PACKAGE_VERSION_COMPATIBLE FALSE)
else()
  set(PACKAGE_VERSION_COMPATIBLE TRUE)
endif()
")
    set(${_pkg}_DIR ${_stage}/cmake/${_pkg} CACHE PATH "" FORCE)
  endforeach()
  set(Boost_NO_BOOST_CMAKE ON CACHE BOOL "" FORCE)
  set(Boost_INCLUDE_DIR ${_stage}/include CACHE PATH "" FORCE)
  set(SHARELINK_TOMLPP_INCLUDE_DIR ${_stage}/include CACHE PATH "" FORCE)
  set(SHARELINK_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "googletest sources, built with the cross compiler")
endif()
