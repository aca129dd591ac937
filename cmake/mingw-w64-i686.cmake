# Cross-build for 32-bit Windows with Debian's mingw-w64: the program that
# starts on every recorder, 32-bit Windows and 64-bit Windows (WOW64) alike.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
