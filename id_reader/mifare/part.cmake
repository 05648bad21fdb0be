# Mifare reader module: sources into every build of the library, plus its tests.
set(QXIDENT_MIFARE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/mifare_frame.c
  ${CMAKE_CURRENT_LIST_DIR}/mifare.c
  ${CMAKE_CURRENT_LIST_DIR}/mifare_interface.c
)
foreach(t ${QXIDENT_TARGETS})
  target_sources(${t} PRIVATE ${QXIDENT_MIFARE_SOURCES})
endforeach()

if(BUILD_TESTING AND TARGET mifare_sim)
  find_package(GTest REQUIRED)
  add_executable(qxident_mifare_tests ${CMAKE_CURRENT_LIST_DIR}/tests/test_mifare.cpp)
  target_link_libraries(qxident_mifare_tests PRIVATE qxident mifare_sim GTest::gtest_main)
  docstation_warnings(qxident_mifare_tests)
  add_test(NAME qxident_mifare_tests COMMAND qxident_mifare_tests)
  set_tests_properties(qxident_mifare_tests PROPERTIES TIMEOUT 120 LABELS "sanitize")
endif()

# Fuzzing the reply reader. With clang a libFuzzer target runs briefly (label
# "fuzz"); every build replays the corpus and the regression inputs (label "sanitize").
if(BUILD_TESTING)
  set(MIFARE_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR}/fuzz)
  set(MIFARE_FUZZ_CODE
    ${MIFARE_FUZZ_DIR}/fuzz_mifare_reply.c
    ${CMAKE_CURRENT_LIST_DIR}/mifare_frame.c
    ${CMAKE_CURRENT_LIST_DIR}/mifare.c
    ${CMAKE_CURRENT_SOURCE_DIR}/idcard/bytereader.c)
  file(GLOB MIFARE_FUZZ_INPUTS CONFIGURE_DEPENDS ${MIFARE_FUZZ_DIR}/corpus/* ${MIFARE_FUZZ_DIR}/regressions/*)

  add_executable(qxident_mifare_fuzz_replay ${MIFARE_FUZZ_CODE} ${MIFARE_FUZZ_DIR}/replay_main.c)
  target_include_directories(qxident_mifare_fuzz_replay PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(qxident_mifare_fuzz_replay PRIVATE qxident_internal)
  docstation_warnings(qxident_mifare_fuzz_replay)
  add_test(NAME qxident_mifare_fuzz_replay COMMAND qxident_mifare_fuzz_replay ${MIFARE_FUZZ_INPUTS})
  set_tests_properties(qxident_mifare_fuzz_replay PROPERTIES TIMEOUT 60 LABELS "sanitize")

  set(MIFARE_FUZZ_WORK ${CMAKE_CURRENT_BINARY_DIR}/mifare_fuzz_work)
  set(MIFARE_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined)
  if(CMAKE_C_COMPILER_ID MATCHES "Clang")
    add_executable(qxident_mifare_fuzz ${MIFARE_FUZZ_CODE})
    target_include_directories(qxident_mifare_fuzz PRIVATE ${CMAKE_CURRENT_LIST_DIR})
    target_compile_options(qxident_mifare_fuzz PRIVATE ${MIFARE_FUZZ_FLAGS})
    target_link_options(qxident_mifare_fuzz PRIVATE ${MIFARE_FUZZ_FLAGS})
    target_link_libraries(qxident_mifare_fuzz PRIVATE qxident_internal)
    docstation_warnings(qxident_mifare_fuzz)
    set(MIFARE_FUZZER $<TARGET_FILE:qxident_mifare_fuzz>)
  else()
    # A gcc build still gets the short libFuzzer run: the few sources the
    # reply reader needs are compiled with clang on the side.
    find_program(QXIDENT_CLANG NAMES clang clang-14)
    if(QXIDENT_CLANG)
      set(MIFARE_FUZZ_STANDALONE ${MIFARE_FUZZ_CODE}
        ${CMAKE_CURRENT_SOURCE_DIR}/logprintf/logPrintf.c
        ${CMAKE_CURRENT_SOURCE_DIR}/devicecomm/uart/uart.c)
      set(MIFARE_FUZZ_INCLUDES include logprintf idcard devicecomm/uart mifare)
      list(TRANSFORM MIFARE_FUZZ_INCLUDES PREPEND "-I${CMAKE_CURRENT_SOURCE_DIR}/")
      file(GLOB MIFARE_FUZZ_HEADERS ${CMAKE_CURRENT_SOURCE_DIR}/include/*.h ${CMAKE_CURRENT_SOURCE_DIR}/logprintf/*.h
           ${CMAKE_CURRENT_SOURCE_DIR}/idcard/*.h ${CMAKE_CURRENT_SOURCE_DIR}/devicecomm/uart/*.h
           ${CMAKE_CURRENT_LIST_DIR}/*.h)
      set(MIFARE_FUZZER ${CMAKE_CURRENT_BINARY_DIR}/mifare_reply_fuzzer)
      add_custom_command(OUTPUT ${MIFARE_FUZZER}
        COMMAND ${QXIDENT_CLANG} -std=gnu11 -g -O1 ${MIFARE_FUZZ_FLAGS} ${MIFARE_FUZZ_INCLUDES}
                ${MIFARE_FUZZ_STANDALONE} -o ${MIFARE_FUZZER}
        DEPENDS ${MIFARE_FUZZ_STANDALONE} ${MIFARE_FUZZ_HEADERS}
        COMMENT "Building the Mifare reply fuzzer with clang" VERBATIM)
      add_custom_target(qxident_mifare_fuzz ALL DEPENDS ${MIFARE_FUZZER})
    endif()
  endif()
  if(MIFARE_FUZZER)
    file(MAKE_DIRECTORY ${MIFARE_FUZZ_WORK})
    # New inputs go to the build tree's work folder; the committed corpus is only read.
    add_test(NAME qxident_mifare_fuzz
      COMMAND ${MIFARE_FUZZER} -runs=20000 -max_len=300 ${MIFARE_FUZZ_WORK} ${MIFARE_FUZZ_DIR}/corpus)
    set_tests_properties(qxident_mifare_fuzz PROPERTIES TIMEOUT 120 LABELS "fuzz")
  endif()
endif()
