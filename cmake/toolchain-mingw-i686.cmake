# 32-bit Windows (kiv.wcx) with Debian's mingw-w64 cross compiler. Test
# programs run under 32-bit Wine through tests/windows/wine-run.sh, with a
# 32-bit Wine prefix kept in the build tree.
set(KIV_MINGW_TRIPLE i686-w64-mingw32)
set(KIV_MINGW_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
get_filename_component(_kiv_wine_run
  ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-run.sh ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_kiv_wine_run} --arch win32)
