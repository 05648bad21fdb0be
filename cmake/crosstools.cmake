# Cross builds against an unpacked arm64 root (cmake/toolchain-arm64.cmake):
# the root's moc, uic and rcc are arm64 programs and cannot run here, so Qt's
# code generators come from the build machine (qtbase5-dev-tools), which
# write the same code for every architecture. Defined before find_package(Qt5),
# which then keeps them.
# Test programs of a cross build run under the user-mode emulator, some ten
# times slower than natively: their time limits grow by this factor.
set(DOCSTATION_TIMEOUT_SCALE 1)
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(DOCSTATION_TIMEOUT_SCALE 10)
endif()

if(NOT CMAKE_CROSSCOMPILING OR NOT CMAKE_SYSROOT)
  return()
endif()
foreach(_tool moc uic rcc)
  if(NOT TARGET Qt5::${_tool})
    find_program(DOCSTATION_HOST_QT_${_tool} ${_tool} PATHS /usr/lib/qt5/bin
                 NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    add_executable(Qt5::${_tool} IMPORTED)
    set_target_properties(Qt5::${_tool} PROPERTIES IMPORTED_LOCATION ${DOCSTATION_HOST_QT_${_tool}})
  endif()
endforeach()
