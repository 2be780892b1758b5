# kiv_add_test(<name> SOURCES <files>... [LIBRARIES <libs>...] [SERVERS] [LABELS <labels>...])
#
# One GoogleTest executable per unit, registered as one CTest test of the same
# name. SERVERS marks a test that talks to the stand-in dealer servers: CTest
# starts them first (fixture "dealer_servers") and runs such tests one at a time,
# since they share the servers' recorded requests and fault switches.
#
# Cross-built for Windows, the tests run under Wine (the toolchain's emulator)
# in a Wine prefix of the build's own, made once by the fixture "wine_prefix".
# The Linux paths they are handed are given as Wine sees them: "/" is drive Z:.
include_guard(GLOBAL)

if(CMAKE_CROSSCOMPILING)
  # Debian's googletest sources, built with the cross compiler.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(lib gtest gtest_main gmock)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
  set(KIV_TEST_PATH_PREFIX "Z:")
  set(KIV_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
  add_test(NAME wine_prefix_setup
    COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${KIV_WINE_PREFIX}
            ${PROJECT_SOURCE_DIR}/scripts/wine-run wineboot --init)
  set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 300)
else()
  find_package(GTest REQUIRED)
  set(KIV_TEST_PATH_PREFIX "")
endif()

function(kiv_add_test name)
  cmake_parse_arguments(ARG "SERVERS" "" "SOURCES;LIBRARIES;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE kiv_testable kiv_test_support
    GTest::gtest GTest::gmock GTest::gtest_main ${ARG_LIBRARIES})
  kiv_set_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  # The user's own property file stays out of the tests.
  set(env "KIV_TEST_TMPDIR=${KIV_TEST_PATH_PREFIX}${CMAKE_BINARY_DIR}/test-tmp/${name}"
          "XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-tmp/${name}/config")
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 600)
  if(ARG_SERVERS)
    list(APPEND env "KIV_DEALER_SERVERS=${KIV_TEST_PATH_PREFIX}${KIV_DEALER_SERVERS_STATE}")
    set_tests_properties(${name} PROPERTIES
      FIXTURES_REQUIRED dealer_servers
      RESOURCE_LOCK dealer_servers)
  endif()
  if(CMAKE_CROSSCOMPILING)
    list(APPEND env "WINEPREFIX=${KIV_WINE_PREFIX}")
    set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED wine_prefix)
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}")
endfunction()
