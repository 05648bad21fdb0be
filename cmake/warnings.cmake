# Project-wide warning flags; applied per target with docstation_warnings(<target>).
function(docstation_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  if(DOCSTATION_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
