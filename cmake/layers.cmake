# The layer rule of the daemon's folders (see the top CMakeLists.txt), also used on its own by the
# test that reconfigures a build after a link is taken away (tests/layers/reconfigure.cmake).

# Gives a library of FOLDER the include root holding that folder only, as what it exports.
function(modemprep_include_root target folder)
  set(root ${CMAKE_BINARY_DIR}/include-roots/${folder})
  file(MAKE_DIRECTORY ${root})
  if(IS_SYMLINK ${root}/${folder})
    file(READ_SYMLINK ${root}/${folder} linked)
  endif()
  if(NOT linked STREQUAL ${PROJECT_SOURCE_DIR}/src/${folder})
    file(REMOVE ${root}/${folder})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  set_target_properties(${target} PROPERTIES MODEMPREP_FOLDER ${folder})
  set_property(GLOBAL APPEND PROPERTY MODEMPREP_LAYERS ${target})
endfunction()

# A library of FOLDER that sees its own folder and those of the libraries it LINKS, privately.
function(modemprep_layer name folder)
  cmake_parse_arguments(PARSE_ARGV 2 layer "" "" "SOURCES;LINKS")
  add_library(${name} STATIC ${layer_SOURCES})
  modemprep_include_root(${name} ${folder})
  target_link_libraries(${name} PRIVATE ${layer_LINKS})
endfunction()

