# Cross-compiles the 64-bit Windows build with MinGW-w64; ctest runs its
# tests under Wine:
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake
set(DORVANE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Wine with a prefix of the build tree's own, so that tests never touch
# ~/.wine; the build creates the prefix once (tests/CMakeLists.txt).
set(DORVANE_WINE /usr/lib/wine/wine64 CACHE FILEPATH "Wine loader that runs the tests")
set(DORVANE_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(CMAKE_CROSSCOMPILING_EMULATOR
    env WINEPREFIX=${DORVANE_WINE_PREFIX} WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe= ${DORVANE_WINE})
