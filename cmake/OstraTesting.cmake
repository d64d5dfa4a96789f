# ostra_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [TIMEOUT <s>])
# Builds one GoogleTest executable and registers its cases with CTest.
# Label "concurrency" marks the suites that also run under ThreadSanitizer;
# label "db" marks those that need the private MariaDB server.
include(GoogleTest)
find_package(GTest REQUIRED)

function(ostra_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} ostra_test_support GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
  # Test cases run through env(1) so each gets the environment below; a list
  # in the ENVIRONMENT property would not survive test discovery intact.
  set_target_properties(${T_NAME} PROPERTIES CROSSCOMPILING_EMULATOR
    "/usr/bin/env;QT_QPA_PLATFORM=offscreen;OSTRA_SOURCE_DIR=${PROJECT_SOURCE_DIR};OSTRA_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
  set(_props TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    # One label string: ctest -L matches labels as regular expressions, so
    # "db+concurrency" is found by -L db and by -L concurrency alike.
    list(JOIN T_LABELS "+" _labels)
    list(APPEND _props LABELS "${_labels}")
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST PROPERTIES ${_props})
endfunction()
