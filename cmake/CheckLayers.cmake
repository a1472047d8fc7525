# Every folder of src/ has a level; a file may include only folders at its own level or below.
# Run with -DSOURCE_ROOT=<project root>; fails (and names every offending line) otherwise.
set(levels
  "platform/foundation=0" "platform/net=1" "platform/security=1" "platform/device=1"
  "platform/uikit=2" "platform/media=2" "platform/web=2"
  "model=3" "store=4" "service=5" "account=6"
  "app=7" "browse=7" "playback=7" "social=7" "video=7" "library=7" "settings=7")

function(level_of folder out)
  set(result "")
  foreach(entry ${levels})
    string(REPLACE "=" ";" pair "${entry}")
    list(GET pair 0 name)
    list(GET pair 1 level)
    if(folder STREQUAL name)
      set(result ${level})
    endif()
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

function(folder_of path out)
  # "platform/net/X.h" → "platform/net"; "model/X.h" → "model"
  string(REGEX MATCH "^platform/[^/]+" folder "${path}")
  if(NOT folder)
    string(REGEX MATCH "^[^/]+" folder "${path}")
  endif()
  set(${out} "${folder}" PARENT_SCOPE)
endfunction()

set(violations "")
file(GLOB_RECURSE files RELATIVE "${SOURCE_ROOT}/src" "${SOURCE_ROOT}/src/*.h" "${SOURCE_ROOT}/src/*.cpp")
foreach(file ${files})
  folder_of("${file}" own_folder)
  level_of("${own_folder}" own_level)
  if(own_level STREQUAL "")
    continue() # main.cpp and other top-level files may use everything
  endif()
  file(STRINGS "${SOURCE_ROOT}/src/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line ${includes})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" target "${line}")
    folder_of("${target}" target_folder)
    level_of("${target_folder}" target_level)
    if(target_level STREQUAL "")
      if(NOT target MATCHES "/")
        continue() # a generated or local header beside the file
      endif()
      string(APPEND violations "\n  src/${file}: includes \"${target}\" from an unknown folder")
    elseif(target_level GREATER own_level)
      string(APPEND violations "\n  src/${file}: includes \"${target}\" (${target_folder} is above ${own_folder})")
    endif()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "Layering broken:${violations}")
endif()
