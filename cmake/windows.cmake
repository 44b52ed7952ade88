# Windows specifics of the plug-in target, included by the top-level
# CMakeLists.txt when building for Windows (the mingw-w64 toolchain files).
enable_language(RC)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set_target_properties(kiv PROPERTIES SUFFIX ".wcx64")
else()
  set_target_properties(kiv PROPERTIES SUFFIX ".wcx")
endif()

# The module entry point, its thread storage, the password dialog and the
# version resource belong to the plug-in module only.
target_sources(kiv PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/platform/dllmain_win32.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/platform/thread_storage_win32.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/platform/kiv.rc
  ${CMAKE_CURRENT_SOURCE_DIR}/platform/version.rc)

# Exactly the plain export names: the .def lists them, --kill-at drops
# the @n of 32-bit __stdcall names, and the stdcall fixup binds the plain
# names to the decorated symbols without a warning.
set(KIV_DEF_FILE ${CMAKE_CURRENT_SOURCE_DIR}/plugin/kiv.def)
target_link_options(kiv PRIVATE
  ${KIV_DEF_FILE} "-Wl,--kill-at" "-Wl,--enable-stdcall-fixup" "-Wl,--no-undefined"
  # No link time in the file, so the same sources give the same bytes.
  "-Wl,--no-insert-timestamp"
  -static-libgcc -static-libstdc++ -static)
set_property(TARGET kiv APPEND PROPERTY LINK_DEPENDS ${KIV_DEF_FILE})

# The byte-order functions come from the sockets library; user32 for the
# dialog and the beep.
target_link_libraries(kivcore PUBLIC ws2_32 user32 kernel32)

if(KIV_BUILD_TESTS AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows/CMakeLists.txt)
  enable_testing()
  add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/tests/windows ${CMAKE_BINARY_DIR}/tests/windows)
endif()
