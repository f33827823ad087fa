# Cross build for Windows (i686) with Debian's mingw-w64 compilers:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(RAVELO_MINGW_TRIPLE i686-w64-mingw32)

# The "win32" thread model needs no winpthread DLL; fall back to the default
# compiler names where that variant is not installed.
find_program(RAVELO_MINGW_CC NAMES ${RAVELO_MINGW_TRIPLE}-gcc-win32 ${RAVELO_MINGW_TRIPLE}-gcc REQUIRED)
find_program(RAVELO_MINGW_CXX NAMES ${RAVELO_MINGW_TRIPLE}-g++-win32 ${RAVELO_MINGW_TRIPLE}-g++ REQUIRED)
set(CMAKE_C_COMPILER ${RAVELO_MINGW_CC})
set(CMAKE_CXX_COMPILER ${RAVELO_MINGW_CXX})
set(CMAKE_RC_COMPILER ${RAVELO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${RAVELO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
