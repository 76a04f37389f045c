# Shared helpers for the project's own targets.

# Strict warnings on our own code; third-party headers come in as SYSTEM. Errors only with
# ZK_WERROR.
function(zk_strict_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic $<$<BOOL:${ZK_WERROR}>:-Werror>)
endfunction()

# zk_add_library(<name> <alias> SOURCES ... [DEPS ...])
# A static library whose public headers live in <folder>/include.
function(zk_add_library name alias)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  add_library(${alias} ALIAS ${name})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  zk_strict_warnings(${name})
endfunction()

# Tests are listed when their program is built, so that the build tree's test list, with each
# test's properties, is whole before ctest runs; a build whose programs cannot run at build time
# (the ThreadSanitizer preset, which needs address randomisation off) lists them when ctest runs.
set(ZK_TEST_DISCOVERY POST_BUILD CACHE STRING "When GoogleTest tests are listed: POST_BUILD or PRE_TEST")

# zk_add_test(<name> SOURCES ... [DEPS ...] [ENV ...] [PREFIX <prefix>] [TIMEOUT <seconds>])
# One GoogleTest executable; each TEST becomes its own ctest entry, named <prefix>Suite.Test.
# Each entry is stopped after TIMEOUT seconds (default 120: the slowest takes a few seconds on a
# quiet machine, and ten times that under the sanitizers on a loaded one), so that a test that
# waits for something that never comes fails instead of holding the run.
function(zk_add_test name)
  cmake_parse_arguments(ARG "" "PREFIX;TIMEOUT" "SOURCES;DEPS;ENV" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  # Only when given: an empty ENVIRONMENT would take the next property's name as its value.
  set(environment "")
  if(ARG_ENV)
    set(environment ENVIRONMENT "${ARG_ENV}")
  endif()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_compile_definitions(${name} PRIVATE
    ZK_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    ZK_BINARY_DIR="${PROJECT_BINARY_DIR}")
  zk_strict_warnings(${name})
  gtest_discover_tests(${name}
    DISCOVERY_MODE ${ZK_TEST_DISCOVERY}
    TEST_PREFIX "${ARG_PREFIX}"
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} ${environment})
endfunction()
