# JNI binding of com.nolvex.QXIDCard: built into every library build when a JDK is present.
if(NOT JNI_FOUND)
  message(STATUS "libqxident: no JDK found, JNI binding left out")
  return()
endif()

foreach(t ${QXIDENT_TARGETS})
  target_sources(${t} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/interface_jni.c)
  target_include_directories(${t} PRIVATE ${JNI_INCLUDE_DIRS})
endforeach()

if(NOT BUILD_TESTING)
  return()
endif()
find_package(GTest REQUIRED)

# What each build exports: both carry the native methods, only the first the log setters.
add_executable(qxident_jni_exports_tests ${CMAKE_CURRENT_LIST_DIR}/tests/test_jni_exports.cpp)
target_link_libraries(qxident_jni_exports_tests PRIVATE GTest::gtest_main ${CMAKE_DL_LIBS})
target_compile_definitions(qxident_jni_exports_tests PRIVATE
  QXIDENT_LIB="$<TARGET_FILE:qxident>" QXIDENT_ALT_LIB="$<TARGET_FILE:qxident_alt>")
add_dependencies(qxident_jni_exports_tests qxident qxident_alt)
docstation_warnings(qxident_jni_exports_tests)
add_test(NAME qxident_jni_exports_tests COMMAND qxident_jni_exports_tests)
set_tests_properties(qxident_jni_exports_tests PROPERTIES TIMEOUT 60 LABELS "sanitize")

# The Java test class, run by a harness that reads its "key=value" lines. Not run
# under the sanitizers: the JVM would need the sanitizer runtime preloaded.
find_package(Java COMPONENTS Runtime Development)
if(NOT Java_FOUND)
  message(STATUS "libqxident: no Java compiler, Java tests left out")
  return()
endif()
include(UseJava)
add_jar(qxidcard_test_jar
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/java/com/nolvex/QXIDCard.java
  OUTPUT_NAME qxidcard-test)
get_target_property(QXIDCARD_TEST_JAR qxidcard_test_jar JAR_FILE)

add_executable(qxident_jni_java_tests ${CMAKE_CURRENT_LIST_DIR}/tests/test_jni_java.cpp)
target_link_libraries(qxident_jni_java_tests PRIVATE GTest::gtest_main)
if(TARGET qxsim_sam)
  target_link_libraries(qxident_jni_java_tests PRIVATE qxsim_sam)
  target_compile_definitions(qxident_jni_java_tests PRIVATE QXID_HAVE_SAM_SIM=1)
endif()
if(TARGET wlt_standin)
  add_dependencies(qxident_jni_java_tests wlt_standin)
endif()
target_compile_definitions(qxident_jni_java_tests PRIVATE
  QXIDENT_LIB="$<TARGET_FILE:qxident>" QXIDENT_ALT_LIB="$<TARGET_FILE:qxident_alt>"
  JAVA_EXE="${Java_JAVA_EXECUTABLE}" QXIDCARD_JAR="${QXIDCARD_TEST_JAR}" QXSIM_WLT_DIR="${QXSIM_WLT_DIR}")
add_dependencies(qxident_jni_java_tests qxident qxident_alt qxidcard_test_jar)
docstation_warnings(qxident_jni_java_tests)
add_test(NAME qxident_jni_java_tests COMMAND qxident_jni_java_tests)
set_tests_properties(qxident_jni_java_tests PROPERTIES TIMEOUT 120 LABELS "java")
if(DOCSTATION_SANITIZE)
  set_tests_properties(qxident_jni_java_tests PROPERTIES DISABLED TRUE)
endif()
