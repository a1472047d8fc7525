# Every folder of src/ has a level; a file may include only folders at its own level or below.
# Run with -DSOURCE_ROOT=<project root> (its src/ is checked); fails, naming every offending line,
# when a file
#   - includes a folder above its own, with quotes or angle brackets; a quoted include is
#     resolved as the compiler does, against the including file's folder first, so
#     "../video/…" counts as video/;
#   - lives in, or includes from, a folder that has no level (a new folder must be placed first);
#   - lives at the top of src/ and is not main.cpp (the one file that may use everything);
#   - is in the platform and includes anything of the system's own code;
#   - is in one screen folder and includes another screen folder (screens reach each other
#     through the router in nav/);
# and when two folders include each other, directly or through others. Every file is read,
# whatever its ending (.inl and the like included); only the art and scripts of a resources/
# folder are not.
#
# The GUI-free core (model … account) ranks below every GUI folder of the platform, so it cannot
# include the kit, the player or the web view.
set(levels
  "platform/foundation=0" "platform/net=1" "platform/security=1" "platform/device=1"
  "model=2" "store=3" "service=4" "account=5"
  "platform/uikit=6" "platform/photos=6" "platform/media=7" "platform/web=7"
  "look=8" "playback=9" "nav=10" "images=11" "shared=12"
  "browse=13" "login=13" "social=13" "video=13" "library=13"
  "shell=14")
# Folders of one level that must not include one another.
set(screen_folders browse login social video library)

foreach(entry ${levels})
  string(REPLACE "=" ";" pair "${entry}")
  list(GET pair 0 name)
  list(GET pair 1 level)
  string(MAKE_C_IDENTIFIER "${name}" name_id)
  set(level_of_${name_id} ${level})
endforeach()

function(level_of folder out)
  string(MAKE_C_IDENTIFIER "${folder}" folder_id)
  set(${out} "${level_of_${folder_id}}" PARENT_SCOPE)
endfunction()

function(folder_of path out)
  # "platform/net/X.h" → "platform/net"; "model/X.h" → "model"; "X.h" → ""
  string(REGEX MATCH "^platform/[^/]+" folder "${path}")
  if(NOT folder AND path MATCHES "/")
    string(REGEX MATCH "^[^/]+" folder "${path}")
  endif()
  set(${out} "${folder}" PARENT_SCOPE)
endfunction()

if(NOT SOURCE_ROOT)
  message(FATAL_ERROR "CheckLayers: pass -DSOURCE_ROOT=<project root>")
endif()
set(src "${SOURCE_ROOT}/src")
# First path parts that name our own code, so an angle-bracket include of them is ours too.
file(GLOB top_entries RELATIVE "${src}" "${src}/*")
set(own_roots "")
foreach(entry ${top_entries})
  if(IS_DIRECTORY "${src}/${entry}")
    list(APPEND own_roots "${entry}")
  endif()
endforeach()

set(violations "")
set(edges "")
file(GLOB_RECURSE files RELATIVE "${src}" "${src}/*")
foreach(file ${files})
  if(file STREQUAL "CMakeLists.txt" OR file STREQUAL "main.cpp")
    continue() # the build's own description, and the program that may use everything
  endif()
  folder_of("${file}" own_folder)
  if(own_folder STREQUAL "")
    string(APPEND violations "\n  src/${file}: only main.cpp may live at the top of src/")
    continue()
  endif()
  level_of("${own_folder}" own_level)
  if(own_level STREQUAL "")
    string(APPEND violations "\n  src/${file}: its folder ${own_folder} has no level in cmake/CheckLayers.cmake")
    continue()
  endif()
  if(file MATCHES "/resources/")
    continue() # art and scripts, which include nothing
  endif()
  get_filename_component(file_dir "${src}/${file}" DIRECTORY)
  file(STRINGS "${src}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line ${includes})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"].*" "\\1" target "${line}")
    set(quoted FALSE)
    if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"")
      set(quoted TRUE)
    endif()
    if(quoted)
      # The compiler looks beside the including file first: a path that names a file there, or
      # climbs out of its folder, is taken from there.
      get_filename_component(beside "${target}" ABSOLUTE BASE_DIR "${file_dir}")
      if(target MATCHES "(^|/)\\.\\.?/" OR EXISTS "${beside}")
        file(RELATIVE_PATH resolved "${src}" "${beside}")
        if(resolved MATCHES "^\\.\\./")
          string(APPEND violations "\n  src/${file}: includes \"${target}\" from outside src/")
          continue()
        endif()
        set(target "${resolved}")
      endif()
    endif()
    if(NOT target MATCHES "/")
      continue() # a library header, or a generated header beside the tree
    endif()
    string(REGEX MATCH "^[^/]+" first "${target}")
    list(FIND own_roots "${first}" own_root_index)
    if(NOT quoted AND own_root_index EQUAL -1)
      continue() # a library's header, such as <QtCore/QString> or <mpv/client.h>
    endif()
    folder_of("${target}" target_folder)
    level_of("${target_folder}" target_level)
    if(target_level STREQUAL "")
      if(quoted AND own_root_index EQUAL -1 AND NOT EXISTS "${src}/${target}")
        continue() # a generated header beside the tree, such as "Gaia/…"
      endif()
      string(APPEND violations "\n  src/${file}: includes \"${target}\" from a folder with no level")
      continue()
    endif()
    if(target_level GREATER own_level)
      string(APPEND violations "\n  src/${file}: includes \"${target}\" (${target_folder} is above ${own_folder})")
    endif()
    if(own_folder MATCHES "^platform/" AND NOT target_folder MATCHES "^platform/")
      string(APPEND violations "\n  src/${file}: includes \"${target}\" (the platform knows nothing of ${target_folder})")
    endif()
    list(FIND screen_folders "${own_folder}" own_screen)
    list(FIND screen_folders "${target_folder}" target_screen)
    if(NOT own_screen EQUAL -1 AND NOT target_screen EQUAL -1 AND NOT own_folder STREQUAL target_folder)
      string(APPEND violations "\n  src/${file}: includes \"${target}\" (screen folders reach each other through the router)")
    endif()
    if(NOT own_folder STREQUAL target_folder)
      string(MAKE_C_IDENTIFIER "${own_folder}" own_id)
      list(APPEND uses_${own_id} "${target_folder}")
      list(APPEND edges "${own_folder}")
    endif()
  endforeach()
endforeach()

# No two folders include each other, directly or through others: walk each folder's closure.
list(REMOVE_DUPLICATES edges)
foreach(start ${edges})
  string(MAKE_C_IDENTIFIER "${start}" start_id)
  set(reached ${uses_${start_id}})
  set(frontier ${reached})
  while(frontier)
    set(next "")
    foreach(folder ${frontier})
      string(MAKE_C_IDENTIFIER "${folder}" folder_id)
      foreach(used ${uses_${folder_id}})
        list(FIND reached "${used}" seen)
        if(seen EQUAL -1)
          list(APPEND reached "${used}")
          list(APPEND next "${used}")
        endif()
      endforeach()
    endforeach()
    set(frontier ${next})
  endwhile()
  list(FIND reached "${start}" cyclic)
  if(NOT cyclic EQUAL -1)
    string(APPEND violations "\n  ${start}: includes itself through other folders")
  endif()
endforeach()

if(violations)
  message(FATAL_ERROR "Layering broken:${violations}")
endif()
