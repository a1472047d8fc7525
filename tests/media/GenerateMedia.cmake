# Test media made at build time with ffmpeg, into the build tree (nothing binary is kept in
# the repository). Tests find the folder through KORVANE_TEST_MEDIA_DIR.
find_program(FFMPEG_EXECUTABLE ffmpeg REQUIRED)
set(KORVANE_TEST_MEDIA_DIR ${CMAKE_BINARY_DIR}/test-media)

# A clip (12 s unless a length in seconds follows the size): a moving test picture with a
# frame counter and a tone, a key frame every second.
function(korvane_generate_clip output width height)
  set(seconds 12)
  if(ARGC GREATER 3)
    set(seconds ${ARGV3})
  endif()
  add_custom_command(OUTPUT ${KORVANE_TEST_MEDIA_DIR}/${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KORVANE_TEST_MEDIA_DIR}
    COMMAND ${FFMPEG_EXECUTABLE} -nostdin -loglevel error -y
      -f lavfi -i testsrc2=size=${width}x${height}:rate=25:duration=${seconds}
      -f lavfi -i sine=frequency=440:sample_rate=44100:duration=${seconds}
      -map 0:v -map 1:a -c:v libx264 -preset ultrafast -crf 30 -pix_fmt yuv420p -g 25 -keyint_min 25
      -sc_threshold 0 -c:a aac -b:a 64k -movflags +faststart -shortest
      ${KORVANE_TEST_MEDIA_DIR}/${output}
    COMMENT "Generating test clip ${output}"
    VERBATIM)
endfunction()

korvane_generate_clip(clip-360p.mp4 640 360)
korvane_generate_clip(clip-720p.mp4 1280 720)
# The demo's 1080P, which plays at the size it is offered at.
korvane_generate_clip(clip-1080p.mp4 1920 1080)
# A portrait video, shown in the portrait full screen.
korvane_generate_clip(clip-portrait.mp4 360 640 6)

# The DASH halves of a clip, each a fragmented MP4 with a global index: video<suffix>.m4s and
# audio<suffix>.m4s.
function(korvane_generate_dash_halves clip suffix)
  foreach(half video audio)
    if(half STREQUAL "video")
      set(map 0:v)
    else()
      set(map 0:a)
    endif()
    add_custom_command(OUTPUT ${KORVANE_TEST_MEDIA_DIR}/${half}${suffix}.m4s
      COMMAND ${FFMPEG_EXECUTABLE} -nostdin -loglevel error -y -i ${KORVANE_TEST_MEDIA_DIR}/${clip}
        -map ${map} -c copy -movflags +dash+global_sidx -f mp4 ${KORVANE_TEST_MEDIA_DIR}/${half}${suffix}.m4s
      DEPENDS ${KORVANE_TEST_MEDIA_DIR}/${clip}
      COMMENT "Generating test stream ${half}${suffix}.m4s"
      VERBATIM)
  endforeach()
endfunction()

korvane_generate_dash_halves(clip-360p.mp4 "")
# The 1080P DASH of the fake service: picture and sound of the 720p clip.
korvane_generate_dash_halves(clip-720p.mp4 "-720p")
# Only its picture is made (the sound is the 720p clip's).
korvane_generate_dash_halves(clip-1080p.mp4 "-1080p")

# The demo's 4K picture (3840 × 2160, the sound is the 720p clip's): drawn at a quarter of the
# size and blown up without smoothing, so it stays small (about 4 MB) and quick to make.
add_custom_command(OUTPUT ${KORVANE_TEST_MEDIA_DIR}/video-2160p.m4s
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KORVANE_TEST_MEDIA_DIR}
  COMMAND ${FFMPEG_EXECUTABLE} -nostdin -loglevel error -y
    -f lavfi -i testsrc2=size=960x540:rate=25:duration=12,scale=3840:2160:flags=neighbor
    -an -c:v libx264 -preset ultrafast -crf 45 -pix_fmt yuv420p -g 25 -keyint_min 25 -sc_threshold 0
    -movflags +dash+global_sidx -f mp4 ${KORVANE_TEST_MEDIA_DIR}/video-2160p.m4s
  COMMENT "Generating test stream video-2160p.m4s"
  VERBATIM)

# Bytes no demuxer accepts.
add_custom_command(OUTPUT ${KORVANE_TEST_MEDIA_DIR}/garbage.mp4
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KORVANE_TEST_MEDIA_DIR}
  COMMAND ${CMAKE_COMMAND} -DOUTPUT=${KORVANE_TEST_MEDIA_DIR}/garbage.mp4 -P ${CMAKE_CURRENT_LIST_DIR}/WriteGarbage.cmake
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/WriteGarbage.cmake
  COMMENT "Generating garbage.mp4"
  VERBATIM)

# One picture of the 360p clip as the decoder gives it, the frame shown at 3.52 s (its 89th),
# against which pictures the engine takes of the clip are held.
add_custom_command(OUTPUT ${KORVANE_TEST_MEDIA_DIR}/frame-360p-3.52.png
  COMMAND ${FFMPEG_EXECUTABLE} -nostdin -loglevel error -y -i ${KORVANE_TEST_MEDIA_DIR}/clip-360p.mp4
    -ss 3.52 -frames:v 1 ${KORVANE_TEST_MEDIA_DIR}/frame-360p-3.52.png
  DEPENDS ${KORVANE_TEST_MEDIA_DIR}/clip-360p.mp4
  COMMENT "Generating frame-360p-3.52.png"
  VERBATIM)

add_custom_target(korvane_test_media ALL DEPENDS
  ${KORVANE_TEST_MEDIA_DIR}/clip-360p.mp4 ${KORVANE_TEST_MEDIA_DIR}/clip-720p.mp4
  ${KORVANE_TEST_MEDIA_DIR}/clip-portrait.mp4
  ${KORVANE_TEST_MEDIA_DIR}/video.m4s ${KORVANE_TEST_MEDIA_DIR}/audio.m4s
  ${KORVANE_TEST_MEDIA_DIR}/video-720p.m4s ${KORVANE_TEST_MEDIA_DIR}/audio-720p.m4s
  ${KORVANE_TEST_MEDIA_DIR}/video-1080p.m4s ${KORVANE_TEST_MEDIA_DIR}/video-2160p.m4s
  ${KORVANE_TEST_MEDIA_DIR}/garbage.mp4 ${KORVANE_TEST_MEDIA_DIR}/frame-360p-3.52.png)
