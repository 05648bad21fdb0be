# Adds every subfolder of the calling folder that has a CMakeLists.txt and is
# not named in DOCSTATION_SKIP.
function(docstation_add_subdirectories)
  file(GLOB subdirs LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(dir ${subdirs})
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${dir})
    if(IS_DIRECTORY ${dir} AND EXISTS ${dir}/CMakeLists.txt AND NOT rel IN_LIST DOCSTATION_SKIP)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()
