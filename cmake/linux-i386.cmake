# 32-bit x86 Linux build of the library and its siblings with the host
# compiler in -m32 mode (Debian: gcc-multilib, g++-multilib).
#   cmake -S . -B build-i386 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake
#
# It exists to run the 32-bit Windows DLL's arithmetic where 32-bit Wine
# cannot start: the top CMakeLists.txt gives every 32-bit x86 build the same
# floating-point flags (-msse2 -mfpmath=sse, -ffp-contract=off), so this
# build computes what Cadenzor.dll computes, and scripts/win32-smoke.sh runs
# it (natively, or under qemu-i386 where the kernel runs no 32-bit programs)
# and compares its output files with the 64-bit build's.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# The 64-bit zlib of the build machine cannot be linked into 32-bit code; the
# XMF reader then uses its own unpacker, as the MinGW build does.
set(CMAKE_DISABLE_FIND_PACKAGE_ZLIB ON)

# Programs of this build start directly where the kernel runs 32-bit code,
# else under user-mode emulation.
find_program(CZ_QEMU_I386 NAMES qemu-i386 qemu-i386-static)
if(CZ_QEMU_I386)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CZ_QEMU_I386} -L /)
endif()
