# 32-bit Windows (kiv.wcx) with Debian's mingw-w64 cross compiler.
# This kernel cannot run 32-bit code, so there is no emulator: the result is
# inspected, not run.
set(KIV_MINGW_TRIPLE i686-w64-mingw32)
set(KIV_MINGW_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
