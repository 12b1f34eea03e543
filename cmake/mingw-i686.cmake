# Cross build of the 32-bit Windows library, its siblings and the command-line
# tool with MinGW-w64 (Debian: g++-mingw-w64-i686).
#   cmake -S . -B build-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# The posix-threads flavour of the compiler is used so that std::thread and
# std::mutex are available; everything is linked statically, so the DLLs and
# programs need nothing beside them but the sibling DLLs.
#
# cmake/mingw-x86_64.cmake includes this file with the 64-bit triple; that
# build exists only to run the Win32 code under a 64-bit Wine on machines
# that cannot execute 32-bit code.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT CZ_MINGW_TRIPLE)
  set(CZ_MINGW_TRIPLE i686-w64-mingw32)
endif()
if(CZ_MINGW_TRIPLE MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86)
endif()
find_program(CMAKE_C_COMPILER NAMES ${CZ_MINGW_TRIPLE}-gcc-posix ${CZ_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${CZ_MINGW_TRIPLE}-g++-posix ${CZ_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${CZ_MINGW_TRIPLE}-windres)
find_program(CMAKE_OBJDUMP NAMES ${CZ_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${CZ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Double arithmetic goes through SSE2, not the x87 unit, so that the DLL
# writes the bytes the Linux build writes: the flags are set for every 32-bit
# x86 build in the top CMakeLists.txt.

# The Windows ABI keeps the stack 16-byte aligned at most, and MinGW's gcc
# does not realign it for 32- and 64-byte vector spills of the AVX2 and
# AVX-512 kernels: the assembler writes every aligned vector move as an
# unaligned one, which is as fast on aligned data and safe on the rest.
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")

# Static runtime: libgcc, libstdc++ and winpthread go into each binary.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and tools that run the built programs do so under Wine.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "AMD64" AND EXISTS /usr/lib/wine/wine64)
  set(CZ_WINE /usr/lib/wine/wine64)
else()
  find_program(CZ_WINE NAMES wine)
endif()
if(CZ_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CZ_WINE})
endif()
