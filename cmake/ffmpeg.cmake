# FFmpeg's MPEG video decoder, encoder and scaler (Debian's libavcodec-dev
# and libswscale-dev) as one target, tovix_ffmpeg: the simulated card
# decodes the pictures its screen shows with them, and the demo's pictures
# are encoded with them. Linux builds only.
find_path(TOVIX_FFMPEG_INCLUDE_DIR libavcodec/avcodec.h REQUIRED)
add_library(tovix_ffmpeg INTERFACE)
target_include_directories(tovix_ffmpeg SYSTEM INTERFACE ${TOVIX_FFMPEG_INCLUDE_DIR})
foreach(lib avcodec swscale avutil)
  find_library(TOVIX_FFMPEG_${lib} ${lib} REQUIRED)
  target_link_libraries(tovix_ffmpeg INTERFACE ${TOVIX_FFMPEG_${lib}})
endforeach()
