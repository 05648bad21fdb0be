# Configures small throw-away trees that use cmake/subdirectories.cmake and
# checks what the build makes of present, missing, skipped and unlisted
# components. Run with -DHELPERS=<subdirectories.cmake> -DWORK=<scratch dir>.
cmake_minimum_required(VERSION 3.18)

set(failures 0)
macro(expect what cond)
  cmake_language(EVAL CODE "if(${cond})\n set(passed TRUE)\nelse()\n set(passed FALSE)\nendif()")
  if(passed)
    message(STATUS "ok: ${what}")
  else()
    message(SEND_ERROR "FAILED: ${what}\n${out}${err}")
    math(EXPR failures "${failures} + 1")
  endif()
endmacro()

# A tree with components one and two; <case> lists what to break.
function(make_tree dir)
  file(REMOVE_RECURSE ${dir})
  file(MAKE_DIRECTORY ${dir}/one ${dir}/two ${dir}/notes)
  file(WRITE ${dir}/CMakeLists.txt
    "cmake_minimum_required(VERSION 3.18)\nproject(t NONE)\n"
    "set(DOCSTATION_SKIP \"\" CACHE STRING \"\")\n"
    "include(${HELPERS})\ndocstation_add_components(one two)\n")
  file(WRITE ${dir}/one/CMakeLists.txt "message(STATUS \"added one\")\n")
  file(WRITE ${dir}/two/CMakeLists.txt "message(STATUS \"added two\")\n")
endfunction()

function(configure dir)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${dir} -B ${dir}/build ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(rc ${rc} PARENT_SCOPE)
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

make_tree(${WORK}/complete)
configure(${WORK}/complete)
expect("a complete tree configures and adds every listed component"
  "rc EQUAL 0 AND out MATCHES \"added one\" AND out MATCHES \"added two\"")

make_tree(${WORK}/lost)
file(REMOVE ${WORK}/lost/two/CMakeLists.txt)
configure(${WORK}/lost)
expect("a lost CMakeLists.txt stops the configure and names the component"
  "NOT rc EQUAL 0 AND err MATCHES \"required component 'two' is missing\" AND err MATCHES \"DOCSTATION_SKIP=two\"")

make_tree(${WORK}/skipped)
file(REMOVE ${WORK}/skipped/two/CMakeLists.txt)
configure(${WORK}/skipped -DDOCSTATION_SKIP=two)
expect("a component left out on purpose is skipped and the rest still added"
  "rc EQUAL 0 AND out MATCHES \"added one\" AND NOT out MATCHES \"added two\" AND out MATCHES \"two left out\"")

make_tree(${WORK}/unlisted)
file(MAKE_DIRECTORY ${WORK}/unlisted/three)
file(WRITE ${WORK}/unlisted/three/CMakeLists.txt "")
configure(${WORK}/unlisted)
expect("a folder with a CMakeLists.txt outside the list stops the configure"
  "NOT rc EQUAL 0 AND err MATCHES \"'three' has a CMakeLists.txt but is not listed\"")

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} case(s) failed")
endif()
