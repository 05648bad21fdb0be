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
