# ostra_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [TIMEOUT <s>])
# Builds one GoogleTest executable and registers its cases with CTest.
# Label "concurrency" marks the suites that also run under ThreadSanitizer;
# label "db" marks those that need the private MariaDB server.
include(GoogleTest)
find_package(GTest REQUIRED)
# Real key presses in the window tests.
find_package(Qt6 REQUIRED COMPONENTS Test)

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
    "/usr/bin/env;QT_QPA_PLATFORM=offscreen;OSTRA_SOURCE_DIR=${PROJECT_SOURCE_DIR};OSTRA_BIN_DIR=${CMAKE_BINARY_DIR}/bin;OSTRA_LOCALE_DIR=${OSTRA_TEST_LOCALE_DIR}")
  set(_props TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    # One label string: ctest -L matches labels as regular expressions, so
    # "db+concurrency" is found by -L db and by -L concurrency alike.
    list(JOIN T_LABELS "+" _labels)
    list(APPEND _props LABELS "${_labels}")
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST PROPERTIES ${_props})
endfunction()

# The locales that tests read dates in, made into the build tree by
# localedef (which needs no root for a folder of its own), so that no test
# depends on what the system has installed. A process that uses them gets
# LOCPATH=${OSTRA_TEST_LOCALE_DIR}; the tests find the folder in
# OSTRA_LOCALE_DIR. Made once per build folder; a test that needs them
# depends on the target ostra_test_locales.
set(OSTRA_TEST_LOCALE_DIR ${CMAKE_BINARY_DIR}/locales)
set(OSTRA_TEST_LOCALES sv_SE.UTF-8 zh_CN.GB18030)
find_program(OSTRA_LOCALEDEF localedef)
set(_outputs)
foreach(_locale IN LISTS OSTRA_TEST_LOCALES)
  string(REGEX REPLACE "\\..*" "" _source ${_locale})
  string(REGEX REPLACE "^[^.]*\\." "" _charmap ${_locale})
  set(_out ${OSTRA_TEST_LOCALE_DIR}/${_locale})
  if(OSTRA_LOCALEDEF AND EXISTS /usr/share/i18n/locales/${_source})
    add_custom_command(OUTPUT ${_out}/LC_TIME
      COMMAND ${CMAKE_COMMAND} -E make_directory ${OSTRA_TEST_LOCALE_DIR}
      COMMAND ${OSTRA_LOCALEDEF} -i ${_source} -f ${_charmap} ${_out}
      COMMENT "Making the test locale ${_locale}"
      VERBATIM)
    list(APPEND _outputs ${_out}/LC_TIME)
  else()
    message(WARNING "Cannot make the test locale ${_locale} (localedef and the Debian "
                    "package locales are needed); the tests that read dates in it fail")
  endif()
endforeach()
add_custom_target(ostra_test_locales DEPENDS ${_outputs})
