# Shared part of the two mingw-w64 toolchain files. The including file sets
# KIV_MINGW_TRIPLE and KIV_MINGW_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KIV_MINGW_PROCESSOR})

# The posix thread model: GoogleTest needs std::mutex, which the win32 model
# of this gcc lacks. Its thread library is linked statically like the rest.
set(CMAKE_C_COMPILER ${KIV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KIV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KIV_MINGW_TRIPLE}-windres)

# KIV_DEPS_PREFIX is where the build script installs the cross-built static
# libbz2 and GoogleTest; the compiler's own sysroot has zlib.
set(KIV_MINGW_SYSROOT /usr/${KIV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH ${KIV_MINGW_SYSROOT})
if(KIV_DEPS_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${KIV_DEPS_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# try_compile projects re-read this file; hand them the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KIV_DEPS_PREFIX)

# Static zlib and libbz2: the plug-in must import Windows system DLLs only.
set(KIV_STATIC_DEPS ON)
set(KIV_ZLIB_LIBRARY ${KIV_MINGW_SYSROOT}/lib/libz.a)
if(KIV_DEPS_PREFIX)
  set(KIV_BZ2_LIBRARY ${KIV_DEPS_PREFIX}/lib/libbz2.a)
  set(KIV_DEPS_INCLUDE_DIRS ${KIV_DEPS_PREFIX}/include)
endif()

# Every program and the plug-in carry their gcc and C++ runtimes inside.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
