# Lays out Resources/ beside the docstation executable: static files from the
# source tree, the frontal-face cascade from OpenCV's data package, and icons
# rendered from their SVG sources.
set(DOCSTATION_RESOURCES_DIR ${CMAKE_CURRENT_BINARY_DIR}/Resources)
file(MAKE_DIRECTORY ${DOCSTATION_RESOURCES_DIR}/face)

# The cascade is the same for every architecture: a cross build takes the
# build machine's.
find_file(DOCSTATION_FACE_CASCADE haarcascade_frontalface_default.xml
  PATHS /usr/share/opencv4/haarcascades /usr/share/opencv/haarcascades
        ${OpenCV_DIR}/../../../share/opencv4/haarcascades
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(DOCSTATION_FACE_CASCADE)
  configure_file(${DOCSTATION_FACE_CASCADE}
    ${DOCSTATION_RESOURCES_DIR}/face/haarcascade_frontalface_default.xml COPYONLY)
else()
  message(WARNING "frontal-face cascade not found (package opencv-data); face marking stays off")
endif()

if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/Resources/icons.cmake)
  include(${CMAKE_CURRENT_SOURCE_DIR}/Resources/icons.cmake)
endif()

# The demo page and its JavaScript client, opened by the service window.
file(GLOB _web_files CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/Resources/tavel-web
  ${CMAKE_CURRENT_SOURCE_DIR}/Resources/tavel-web/*)
foreach(_web_file ${_web_files})
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/Resources/tavel-web/${_web_file}
    ${DOCSTATION_RESOURCES_DIR}/tavel-web/${_web_file} COPYONLY)
endforeach()
