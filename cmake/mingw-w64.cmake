# What the two cross-builds for Windows share: Debian's mingw-w64 compilers of
# the posix thread model (std::thread and std::mutex), for the target that the
# including toolchain file names in MINGW_TRIPLET and CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)
set(CMAKE_MC_COMPILER ${MINGW_TRIPLET}-windmc)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every Windows executable that ctest starts goes through the Wine sandbox,
# which refuses to run while any drive letter points outside its own tree.
# Both builds' programs run in a 64-bit prefix: the 32-bit ones under WOW64,
# as on a 64-bit recorder.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/../tools/sandbox;--build;${CMAKE_BINARY_DIR};run;--")
