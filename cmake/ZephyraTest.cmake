# zephyra_add_test(NAME SOURCES src... LIBS lib... [LABELS label] [ENV k=v] [PREFIX p]
#                  [ONE_PROCESS_WHEN_CROSS])
# One GoogleTest executable registered with CTest, test by test; PREFIX is put
# before each test name (for one test file built against several backends).
# ONE_PROCESS_WHEN_CROSS: in a cross build, the executable is one CTest test
# that runs all its cases in one process. Each process costs Wine about 2 s
# to start, and the GDI image suites have dozens of cases, some of which
# change the display's mode for the whole prefix.
find_package(GTest REQUIRED)
include(GoogleTest)
# Tests run (and are discovered) in build/bin; make it exist even when only a
# test target is built, before the demo or the sound library put files there.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# Cross builds list their tests when CTest runs (under the emulator, Wine),
# not while building, so a build needs no Wine and no display.
if(CMAKE_CROSSCOMPILING)
  set(ZEPHYRA_DISCOVERY DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 180)
else()
  set(ZEPHYRA_DISCOVERY DISCOVERY_TIMEOUT 60)
endif()

function(zephyra_add_test name)
  cmake_parse_arguments(T "ONE_PROCESS_WHEN_CROSS" "PREFIX" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  # Empty values would vanish from the list and shift the next name into
  # their place (a test labelled "ENVIRONMENT"), so only given ones are set.
  set(props "")
  # gtest_discover_tests flattens PROPERTIES into one key/value list, so a
  # list value would be split into keys: one label and one variable only.
  list(LENGTH T_LABELS nlabels)
  list(LENGTH T_ENV nenv)
  if(nlabels GREATER 1 OR nenv GREATER 1)
    message(FATAL_ERROR "zephyra_add_test(${name}): give at most one LABELS and one ENV value")
  endif()
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  if(T_ENV)
    list(APPEND props ENVIRONMENT "${T_ENV}")
  endif()
  if(T_ONE_PROCESS_WHEN_CROSS AND CMAKE_CROSSCOMPILING)
    add_test(NAME ${T_PREFIX}${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    if(props)
      set_tests_properties(${T_PREFIX}${name} PROPERTIES ${props})
    endif()
    return()
  endif()
  gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    TEST_PREFIX "${T_PREFIX}" PROPERTIES ${props} ${ZEPHYRA_DISCOVERY})
endfunction()
