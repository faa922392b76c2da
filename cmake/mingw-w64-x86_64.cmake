# Cross-build for 64-bit Windows with mingw-w64 (posix threads), as Debian
# packages it:  cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TRACE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TRACE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TRACE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TRACE_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TRACE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The tests run the Windows programs under wine.
find_program(TRACE_WINE wine)
if(TRACE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TRACE_WINE})
endif()
