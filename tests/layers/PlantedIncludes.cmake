# Plants each kind of upward include in a scratch copy of src/ and expects the layer check to
# fail on it, naming the planted line; the untouched copy must pass.
# Run with -DSOURCE_ROOT=<project root> -DSCRATCH=<empty folder of the build tree>.
if(NOT SOURCE_ROOT OR NOT SCRATCH)
  message(FATAL_ERROR "pass -DSOURCE_ROOT and -DSCRATCH")
endif()
set(check "${SOURCE_ROOT}/cmake/CheckLayers.cmake")

function(fresh_copy)
  file(REMOVE_RECURSE "${SCRATCH}")
  file(MAKE_DIRECTORY "${SCRATCH}")
  file(COPY "${SOURCE_ROOT}/src" DESTINATION "${SCRATCH}")
endfunction()

function(run_check out_result out_output)
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_ROOT=${SCRATCH} -P ${check}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  set(${out_result} ${result} PARENT_SCOPE)
  set(${out_output} "${output}" PARENT_SCOPE)
endfunction()

function(plant file line)
  file(READ "${SCRATCH}/src/${file}" body)
  file(WRITE "${SCRATCH}/src/${file}" "${line}\n${body}")
endfunction()

set(failures "")

fresh_copy()
run_check(result output)
if(NOT result EQUAL 0)
  string(APPEND failures "\n  the untouched tree fails the check:\n${output}")
endif()

# name | file to plant in (relative to src/) | the planted line | text the report must hold
set(cases
  "angle-bracket include of a higher folder|model/KRVideo.h|#include <service/KRAPIClient.h>|model/KRVideo.h"
  "a file in a folder with no level|extra/KRStray.h|#include \"model/KRVideo.h\"|extra/KRStray.h"
  "the GUI-free core including the kit|store/KRPreferences.h|#include \"platform/uikit/View.h\"|store/KRPreferences.h"
  "the GUI-free core including the player|account/KRAccountClient.h|#include \"platform/media/MediaPlayer.h\"|account/KRAccountClient.h"
  "the GUI-free core including the web view|service/KRAPIClient.h|#include \"platform/web/WebView.h\"|service/KRAPIClient.h"
  "one screen folder including another|browse/KRVideoCell.h|#include \"video/KRVideoDetailViewController.h\"|browse/KRVideoCell.h"
  "the platform including the system's code|platform/uikit/View.h|#include \"model/KRVideo.h\"|platform/uikit/View.h"
  "a quoted include of a higher folder|look/KRTheme.h|#include \"shell/KRAppDelegate.h\"|look/KRTheme.h"
  "a screen folder climbing into another|browse/KRVideoCell.h|#include \"../video/KRVideoDetailViewController.h\"|browse/KRVideoCell.h"
  "a folder climbing into a higher one|images/KRImageLoader.cpp|#include \"../shared/KRLoadMoreView.h\"|images/KRImageLoader.cpp"
  "an include climbing out of src/|look/KRTheme.cpp|#include \"../../tests/support/TestSupport.h\"|look/KRTheme.cpp"
  "a top-level file other than main.cpp|KRAll.h|#include \"shell/KRAppDelegate.h\"|KRAll.h"
  "an include inside an .inl file|look/KRThemeColors.inl|#include \"shell/KRAppDelegate.h\"|look/KRThemeColors.inl"
  "the kit including the router|platform/uikit/View.h|#include \"nav/KRRouter.h\"|platform/uikit/View.h"
  "the image loader including a shared widget|images/KRImageLoader.h|#include \"shared/KRLoadMoreView.h\"|images/KRImageLoader.h"
  "the router including the image loader|nav/KRRouter.h|#include \"images/KRImageLoader.h\"|nav/KRRouter.h")
foreach(case ${cases})
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 name)
  list(GET parts 1 file)
  list(GET parts 2 line)
  list(GET parts 3 expected)
  fresh_copy()
  if(NOT EXISTS "${SCRATCH}/src/${file}")
    get_filename_component(dir "${SCRATCH}/src/${file}" DIRECTORY)
    file(MAKE_DIRECTORY "${dir}")
    file(WRITE "${SCRATCH}/src/${file}" "#pragma once\n")
  endif()
  plant("${file}" "${line}")
  run_check(result output)
  if(result EQUAL 0)
    string(APPEND failures "\n  ${name}: the check passed")
  elseif(NOT output MATCHES "src/${expected}")
    string(APPEND failures "\n  ${name}: the report does not name src/${expected}:\n${output}")
  endif()
endforeach()

# Two folders of one level including each other through a third are a cycle as well.
fresh_copy()
plant("platform/net/HTTPExchange.h" "#include \"platform/device/DeviceProfile.h\"")
plant("platform/device/DeviceProfile.h" "#include \"platform/security/Hash.h\"")
plant("platform/security/Hash.h" "#include \"platform/net/HTTPExchange.h\"")
run_check(result output)
if(result EQUAL 0 OR NOT output MATCHES "includes itself through other folders")
  string(APPEND failures "\n  a cycle through folders of one level: not reported:\n${output}")
endif()

file(REMOVE_RECURSE "${SCRATCH}")
if(failures)
  message(FATAL_ERROR "The layer check let planted includes through:${failures}")
endif()
message(STATUS "every planted include failed the check")
