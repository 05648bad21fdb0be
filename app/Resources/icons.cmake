# Renders the SVG sources under Resources/svg/ to PNG files in the build's
# Resources/ (svg/icon/x.svg -> Resources/icon/x.png, svg/x.svg -> Resources/x.png),
# each at the size its SVG declares.
find_program(DOCSTATION_RSVG_CONVERT rsvg-convert)
if(NOT DOCSTATION_RSVG_CONVERT)
  message(WARNING "rsvg-convert not found (package librsvg2-bin); the window shows no icons")
  return()
endif()

set(_icon_source_dir ${CMAKE_CURRENT_SOURCE_DIR}/Resources/svg)
file(GLOB_RECURSE _icon_sources CONFIGURE_DEPENDS RELATIVE ${_icon_source_dir} ${_icon_source_dir}/*.svg)
set(_icon_outputs)
foreach(_svg ${_icon_sources})
  string(REGEX REPLACE "\\.svg$" ".png" _png ${_svg})
  set(_out ${DOCSTATION_RESOURCES_DIR}/${_png})
  get_filename_component(_out_dir ${_out} DIRECTORY)
  add_custom_command(OUTPUT ${_out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_out_dir}
    COMMAND ${DOCSTATION_RSVG_CONVERT} ${_icon_source_dir}/${_svg} -o ${_out}
    DEPENDS ${_icon_source_dir}/${_svg}
    COMMENT "Rendering ${_png}"
    VERBATIM)
  list(APPEND _icon_outputs ${_out})
endforeach()
add_custom_target(docstation_icons ALL DEPENDS ${_icon_outputs})
# Tests load the icons from the build tree, so anything linking the core gets them.
add_dependencies(docstation_core docstation_icons)
