# Cross-compiles for 32-bit Windows with Debian's mingw-w64 (i686, posix
# threads, so that std::mutex and std::thread are available).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TOVIX_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TOVIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOVIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TOVIX_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${TOVIX_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${TOVIX_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${TOVIX_MINGW_TRIPLE}-objdump CACHE FILEPATH "")
set(CMAKE_OBJCOPY ${TOVIX_MINGW_TRIPLE}-objcopy CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${TOVIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The DLLs depend on nothing beyond the system's own: the compiler's runtime
# and the threads library are linked in statically. What else every Windows
# file gets (the Windows XP floor, reproducible output) is in
# cmake/windows.cmake, so that it applies to existing build folders too.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
