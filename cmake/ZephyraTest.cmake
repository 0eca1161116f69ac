# zephyra_add_test(NAME SOURCES src... LIBS lib... [LABELS l...] [ENV k=v...])
# One GoogleTest executable registered with CTest, test by test.
find_package(GTest REQUIRED)
include(GoogleTest)
# Tests run (and are discovered) in build/bin; make it exist even when only a
# test target is built, before the demo or the sound library put files there.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

function(zephyra_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    PROPERTIES LABELS "${T_LABELS}" ENVIRONMENT "${T_ENV}"
    DISCOVERY_TIMEOUT 60)
endfunction()
