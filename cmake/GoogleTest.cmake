# GoogleTest from Debian's source package, built with this project's toolchain
# (the prebuilt libraries are for the host only).
set(QX_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${QX_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${QX_GTEST_SOURCE_DIR}: run scripts/setup.sh")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${QX_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

if(WIN32)
  # Build time, which the test command pays on every fresh tree: the tests'
  # own code and GoogleTest need no optimisation (the code under test keeps
  # the build type's), and the headers every test source includes are parsed
  # once, into one precompiled header that all test executables share.
  set(QX_TEST_COMPILE_OPTIONS -Og)
  foreach(target gtest gtest_main gmock gmock_main)
    target_compile_options(${target} PRIVATE ${QX_TEST_COMPILE_OPTIONS})
  endforeach()
  # file(CONFIGURE) writes only when the content changes: a rewrite on every
  # configure would rebuild the precompiled header and every test with it.
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/qx_test_pch.cpp CONTENT "")
  add_library(qx_test_pch STATIC ${CMAKE_BINARY_DIR}/qx_test_pch.cpp)
  target_link_libraries(qx_test_pch PRIVATE GTest::gmock)
  target_compile_options(qx_test_pch PRIVATE ${QX_TEST_COMPILE_OPTIONS})
  target_precompile_headers(qx_test_pch PRIVATE <windows.h> <gmock/gmock.h> <gtest/gtest.h> <string> <vector>)
endif()

# qx_add_gtest(name SOURCES ... LIBS ... [LABELS ...] [SHARDS n] [PROPERTIES ...]):
# one test executable, run by CTest as one test in one process: starting a
# process under Wine costs more than most cases, so the cases do not get one
# each. A failing case shows by name with its own output (--gtest_brief prints
# the failing cases only), and every run leaves JUnit XML in
# test-results/<name>.xml. An executable whose cases mostly wait (on purpose,
# past a timeout) is split into SHARDS processes that CTest runs side by side.
# PROPERTIES go to the test, e.g. FIXTURES_REQUIRED qx_testserver for tests
# that need the loopback test server.
function(qx_add_gtest name)
  cmake_parse_arguments(ARG "" "SHARDS" "SOURCES;LIBS;LABELS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  if(WIN32)
    target_link_libraries(${name} PRIVATE qx_stack_guard)
    target_compile_options(${name} PRIVATE ${QX_TEST_COMPILE_OPTIONS})
    target_precompile_headers(${name} REUSE_FROM qx_test_pch)
  endif()
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if(NOT ARG_SHARDS)
    set(ARG_SHARDS 1)
  endif()
  # Under Wine a path that starts with "/" is relative to the current drive,
  # and GoogleTest takes it as relative to the working directory: drive Z:
  # is the host's root.
  set(results ${CMAKE_BINARY_DIR}/test-results)
  if(WIN32)
    set(results Z:${results})
  endif()
  foreach(shard RANGE 1 ${ARG_SHARDS})
    set(test ${name})
    if(ARG_SHARDS GREATER 1)
      set(test ${name}.${shard}of${ARG_SHARDS})
    endif()
    add_test(NAME ${test}
             COMMAND ${name} --gtest_brief=1 --gtest_output=xml:${results}/${test}.xml
             WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    set_tests_properties(${test} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 300 ${ARG_PROPERTIES})
    if(ARG_SHARDS GREATER 1)
      math(EXPR index "${shard} - 1")
      set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT GTEST_TOTAL_SHARDS=${ARG_SHARDS} GTEST_SHARD_INDEX=${index})
    endif()
  endforeach()
endfunction()
