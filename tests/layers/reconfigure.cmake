# A build whose link is taken away loses the folder at the next configure: a scratch project of two
# folders, "high" including a header of "low", made with the daemon's own layer functions.
#   cmake -DSOURCE=<repository> -DWORK=<scratch directory> -P reconfigure.cmake
file(REMOVE_RECURSE ${WORK})
file(WRITE ${WORK}/src/low/low.h "inline int low() { return 1; }\n")
file(WRITE ${WORK}/src/low/low.cc "#include \"low/low.h\"\n")
file(WRITE ${WORK}/src/high/high.cc "#include \"low/low.h\"\nint high() { return low(); }\n")

function(project_linking links)
  file(WRITE ${WORK}/CMakeLists.txt "cmake_minimum_required(VERSION 3.25)
project(layers CXX)
include(${SOURCE}/cmake/layers.cmake)
modemprep_layer(low_lib low SOURCES src/low/low.cc)
modemprep_layer(high_lib high SOURCES src/high/high.cc LINKS ${links})
")
endfunction()

# Configures (afresh or again) and builds; the build's result must be `expected` (0 or not 0).
function(build_expecting directory expected what)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${WORK} -B ${directory} OUTPUT_QUIET
    RESULT_VARIABLE configured)
  if(NOT configured EQUAL 0)
    message(FATAL_ERROR "${what}: the scratch project does not configure")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${directory} OUTPUT_VARIABLE output
    ERROR_VARIABLE output RESULT_VARIABLE built)
  if((expected EQUAL 0) AND NOT (built EQUAL 0))
    message(FATAL_ERROR "${what}: the build failed where it must compile:\n${output}")
  elseif(NOT (expected EQUAL 0) AND (built EQUAL 0))
    message(FATAL_ERROR "${what}: the build compiled an include of a folder not linked")
  endif()
  message(STATUS "${what}: as expected")
endfunction()

project_linking(low_lib)
build_expecting(${WORK}/build 0 "high links low, fresh configure")
project_linking("")
build_expecting(${WORK}/build 1 "link taken away, reconfigured")
build_expecting(${WORK}/fresh 1 "no link, fresh configure")
