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

# Windows XP SP3 is the oldest system the DLLs load on. The SDK headers hide
# every function newer than it, so our own code cannot call one; the PE
# headers name 5.1 as the OS and subsystem version. Source paths are written
# relative to the checkout, and no time stamp goes into a PE file, so that two
# builds give the same bytes.
get_filename_component(TOVIX_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
set(TOVIX_WINDOWS_FLAGS "-D_WIN32_WINNT=0x0501 -DWINVER=0x0501 -ffile-prefix-map=${TOVIX_SOURCE_ROOT}/=")
set(CMAKE_C_FLAGS_INIT "${TOVIX_WINDOWS_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${TOVIX_WINDOWS_FLAGS}")
set(CMAKE_RC_FLAGS_INIT "-D_WIN32_WINNT=0x0501")

# The DLLs depend on nothing beyond the system's own: the compiler's runtime
# and the threads library are linked in statically.
set(TOVIX_WINDOWS_LINK_FLAGS "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp \
-Wl,--major-os-version,5 -Wl,--minor-os-version,1 \
-Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,1")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${TOVIX_WINDOWS_LINK_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${TOVIX_WINDOWS_LINK_FLAGS}")
