# 64-bit Windows (kiv.wcx64) with Debian's mingw-w64 cross compiler. Test
# programs run under Wine through tests/windows/wine-run.sh, with the Wine
# prefix kept in the build tree.
set(KIV_MINGW_TRIPLE x86_64-w64-mingw32)
set(KIV_MINGW_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
get_filename_component(_kiv_wine_run
  ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-run.sh ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_kiv_wine_run})
