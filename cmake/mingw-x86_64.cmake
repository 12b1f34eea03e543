# 64-bit companion of mingw-i686.cmake (Debian: g++-mingw-w64-x86-64). The
# product is the 32-bit DLL; this build runs the same Win32 code under a
# 64-bit Wine where the kernel cannot execute 32-bit programs.
set(CZ_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
