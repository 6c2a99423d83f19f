# Cross-builds the 64-bit Windows module with Debian's MinGW-w64 compilers:
#   cmake -S . -B build-win -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake
# The posix thread variant carries the C++ runtime's threading support
# (std::call_once, std::mutex); it is linked statically like the rest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VARKEL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VARKEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARKEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VARKEL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VARKEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows programs built here run on this machine through Wine.
find_program(VARKEL_WINE NAMES wine wine64)
if(VARKEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VARKEL_WINE})
endif()
