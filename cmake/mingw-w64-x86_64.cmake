# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix threads).
# Programs built here (tests, test discovery) run under Wine through
# cmake/wine-run.sh, which keeps a quiet Wine prefix of the build's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZEPHYRA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZEPHYRA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEPHYRA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEPHYRA_MINGW_TRIPLE}-windres)
set(CMAKE_ASM_NASM_COMPILER nasm)

# Libraries and headers come from the cross sysroot and the prefixes the
# build script passes in CMAKE_PREFIX_PATH (static libjpeg, libxmp, gtest);
# programs (nasm, python) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ZEPHYRA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wine)
