# Cross-build for 64-bit Windows with mingw-w64 on Debian.
#   cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DTARNIVO_PLATFORM_ONLY=ON
# The POSIX threads variant of the compilers: the platform layer uses std::mutex, which the
# win32 variant of this mingw release does not provide.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARNIVO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARNIVO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARNIVO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TARNIVO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARNIVO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in statically, so the programs run on a bare Windows (or Wine) without
# the compiler's runtime DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Lets CTest run the cross-built tests on this machine.
find_program(TARNIVO_WINE wine)
if(TARNIVO_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TARNIVO_WINE})
endif()
