# Cross-build for 64-bit Windows with Debian's mingw-w64.
#   Windows layer alone:  cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#                               -DTARNIVO_PLATFORM_ONLY=ON
#   whole program:        scripts/windows-build (adds -DTARNIVO_QT_PREFIX=<cross-built Qt>)
# The POSIX threads variant of the compilers: the platform layer uses std::mutex, which the
# win32 variant of this mingw release does not provide, and Qt's DLLs are built with it too.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARNIVO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARNIVO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARNIVO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TARNIVO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARNIVO_MINGW_PREFIX})
# A cross-built Qt is one more root to search; its host tools (moc, rcc) come from the
# build machine's Qt of the same version (QT_HOST_PATH).
if(TARNIVO_QT_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH ${TARNIVO_QT_PREFIX})
    list(APPEND CMAKE_PREFIX_PATH ${TARNIVO_QT_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lets CTest run the cross-built tests on this machine.
find_program(TARNIVO_WINE wine)
if(TARNIVO_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TARNIVO_WINE})
endif()
