# Every DLL and program of the Windows build.
#
# Windows XP SP3 is the oldest system they load on. The SDK headers hide every
# function newer than it, so our own code cannot call one; the PE headers name
# 5.1 as the OS and subsystem version; and the one newer function the threads
# runtime imports is served by tick_count64.c. Source paths are written
# relative to the checkout and no time stamp goes into a PE file, so that two
# builds give the same bytes.
add_compile_definitions(_WIN32_WINNT=0x0501 WINVER=0x0501)
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
add_link_options(-Wl,--no-insert-timestamp
  -Wl,--major-os-version,5 -Wl,--minor-os-version,1
  -Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,1)
add_library(tovix_winxp OBJECT ${CMAKE_SOURCE_DIR}/src/platform/win32/tick_count64.c)
link_libraries(tovix_winxp)
