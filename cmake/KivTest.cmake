# kiv_add_test(<name> SOURCES <files>... [LIBRARIES <libs>...] [SERVERS] [LABELS <labels>...])
#
# One GoogleTest executable per unit, registered as one CTest test of the same
# name. SERVERS marks a test that talks to the stand-in dealer servers: CTest
# starts them first (fixture "dealer_servers") and runs such tests one at a time,
# since they share the servers' recorded requests and fault switches.
include_guard(GLOBAL)
find_package(GTest REQUIRED)

function(kiv_add_test name)
  cmake_parse_arguments(ARG "SERVERS" "" "SOURCES;LIBRARIES;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE kiv_testable kiv_test_support
    GTest::gtest GTest::gmock GTest::gtest_main ${ARG_LIBRARIES})
  kiv_set_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  set(env "KIV_TEST_TMPDIR=${CMAKE_BINARY_DIR}/test-tmp/${name}")
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 600)
  if(ARG_SERVERS)
    list(APPEND env "KIV_DEALER_SERVERS=${KIV_DEALER_SERVERS_STATE}")
    set_tests_properties(${name} PROPERTIES
      FIXTURES_REQUIRED dealer_servers
      RESOURCE_LOCK dealer_servers)
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}")
endfunction()
