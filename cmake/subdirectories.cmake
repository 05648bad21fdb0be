# Components join the build by name, never by finding a folder: a lost
# CMakeLists.txt must stop the configure rather than quietly drop a component
# and every test that comes with it. Leaving one out on purpose goes through
# DOCSTATION_SKIP (paths from the top, e.g. "fpcap;sim/mifare").

# docstation_add_component(<folder> [WHY <text>])
# Adds <folder> (relative to the calling folder) unless it is skipped on
# purpose; stops the configure when its CMakeLists.txt is missing.
function(docstation_add_component folder)
  cmake_parse_arguments(C "" "WHY" "" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR}/${folder})
  file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${dir})
  if(rel IN_LIST DOCSTATION_SKIP)
    message(STATUS "docstation: ${rel} left out (DOCSTATION_SKIP)")
    return()
  endif()
  if(NOT EXISTS ${dir}/CMakeLists.txt)
    if(C_WHY)
      set(C_WHY " (${C_WHY})")
    endif()
    message(FATAL_ERROR
      "docstation: required component '${rel}' is missing: ${rel}/CMakeLists.txt not found${C_WHY}.\n"
      "Restore it, or leave the component out on purpose with -DDOCSTATION_SKIP=${rel}.")
  endif()
  add_subdirectory(${dir})
endfunction()

# docstation_add_components(<folder>...)
# Adds the listed subfolders of the calling folder in the order given, each one
# required. A subfolder that has a CMakeLists.txt but is not in the list stops
# the configure too, so a new component cannot be forgotten either.
function(docstation_add_components)
  file(GLOB entries LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(entry ${entries})
    get_filename_component(name ${entry} NAME)
    if(IS_DIRECTORY ${entry} AND EXISTS ${entry}/CMakeLists.txt AND NOT name IN_LIST ARGN)
      file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${entry})
      message(FATAL_ERROR
        "docstation: folder '${rel}' has a CMakeLists.txt but is not listed as a component.\n"
        "Add '${name}' to the docstation_add_components() list in ${CMAKE_CURRENT_LIST_FILE}.")
    endif()
  endforeach()
  foreach(folder ${ARGN})
    docstation_add_component(${folder})
  endforeach()
endfunction()

# True in <out> when the component at <rel> (path from the top) takes part in
# this build; for folders that need a component added after them.
function(docstation_component_enabled rel out)
  if(rel IN_LIST DOCSTATION_SKIP)
    set(${out} FALSE PARENT_SCOPE)
  else()
    set(${out} TRUE PARENT_SCOPE)
  endif()
endfunction()
