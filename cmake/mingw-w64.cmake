# Cross-compiling for Windows with Debian's MinGW-w64, shared by the two
# toolchain files beside it, which set VAQ_MINGW_TRIPLET and
# CMAKE_SYSTEM_PROCESSOR and include this one:
#
#   cmake/i686-w64-mingw32.cmake     32-bit Windows, the real target (build-win)
#   cmake/x86_64-w64-mingw32.cmake   64-bit Windows (build-win64), whose
#                                    tests run under wine64 on machines that
#                                    cannot execute 32-bit programs
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake \
#         -DVAQ_DEPS_PREFIX=$PWD/build-win/deps/prefix
#
# VAQ_DEPS_PREFIX holds the Windows builds of OpenSSL and libyaml and the
# RapidJSON headers (scripts/windows-deps makes it); only it and the
# MinGW-w64 sysroot are searched for headers, libraries and pkg-config
# files, never the build machine's.
#
# The compilers are the POSIX-threads variant, so that std::thread and
# std::mutex exist. Programs and the DLL link libgcc, libstdc++ and
# winpthread statically: they need nothing but the system's DLLs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VAQ_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VAQ_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VAQ_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${VAQ_MINGW_TRIPLET}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${VAQ_MINGW_TRIPLET}-ranlib CACHE FILEPATH "Ranlib")
set(CMAKE_OBJDUMP ${VAQ_MINGW_TRIPLET}-objdump CACHE FILEPATH "Object dumper")
set(CMAKE_OBJCOPY ${VAQ_MINGW_TRIPLET}-objcopy CACHE FILEPATH "Object copier")
set(CMAKE_STRIP ${VAQ_MINGW_TRIPLET}-strip CACHE FILEPATH "Stripper")

# Try-compile projects get the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VAQ_DEPS_PREFIX VAQ_MINGW_TRIPLET)

set(CMAKE_FIND_ROOT_PATH /usr/${VAQ_MINGW_TRIPLET})
if(VAQ_DEPS_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${VAQ_DEPS_PREFIX})
  set(OPENSSL_ROOT_DIR ${VAQ_DEPS_PREFIX})
  set(OPENSSL_USE_STATIC_LIBS TRUE)
  set(ENV{PKG_CONFIG_LIBDIR} ${VAQ_DEPS_PREFIX}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)

# ctest runs the test programs under Wine, through wine-run beside this
# file, in the build directory's own Wine prefix: 32-bit programs with
# wine, 64-bit ones with wine64. VAQ_RUN_UNDER_WINE=OFF (a machine that
# cannot run them) leaves the emulator unset; the tests then hold only the
# checks that run on the build machine (tests/CMakeLists.txt).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(VAQ_WINE_ARCH win64)
else()
  set(VAQ_WINE_ARCH win32)
endif()
if(NOT DEFINED VAQ_RUN_UNDER_WINE OR VAQ_RUN_UNDER_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run ${VAQ_WINE_ARCH} ${CMAKE_BINARY_DIR}/wine)
endif()
