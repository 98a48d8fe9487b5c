# Windows-side tests run under 64-bit Wine. Include from any tests folder of a Windows build:
#   include(${PROJECT_SOURCE_DIR}/tests/wine/WineHarness.cmake)
#
#   add_wine_gtest(NAME SOURCES src... [LIBRARIES lib...] [SERVER] [WINHELP] [TIMEOUT s]
#                  [ENVIRONMENT VAR=value...])
#     builds a GoogleTest program (GoogleMock's main) and runs all its cases in one Wine process.
#   add_wine_script_test(NAME SCRIPT file [ARGS arg...] [DEPENDS target...] [SERVER] [WINHELP]
#                        [TIMEOUT s] [ENVIRONMENT VAR=value...])
#     runs a bash script that sources tests/wine/wine-env.sh.
#
# SERVER starts the update-server controller for the test (port 8081 locked); WINHELP lets
# the real help viewer start. TIMEOUT (default 120 s) bounds the test's Windows programs.
# The tests get HARNESS_DIR, HARNESS_SCRATCH_DIR (empty, per test) and HARNESS_STANDIN_DIR.
# A 32-bit build has the same targets, built only on request, and no tests.
include_guard(GLOBAL)

# Cached so that the functions see them from every folder that calls them.
set(WINE_HARNESS_SCRIPTS ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "Scripts of the Wine harness")
set(WINE_HARNESS_DIR ${CMAKE_BINARY_DIR}/wine-harness CACHE INTERNAL "State folder of a Wine test run")

add_subdirectory(${PROJECT_SOURCE_DIR}/tests/standin ${CMAKE_BINARY_DIR}/tests/standin)

# Nothing 32-bit runs on the build machines: a 32-bit build defines the same targets, so that
# callers can configure them alike, but builds them only on request and registers no test.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(WINE_HARNESS_RUNS ON CACHE INTERNAL "Wine tests are registered")
else()
  set(WINE_HARNESS_RUNS OFF CACHE INTERNAL "Wine tests are registered")
endif()

add_subdirectory(${WINE_HARNESS_SCRIPTS}/googletest ${CMAKE_BINARY_DIR}/tests/googletest)

add_library(wine_harness STATIC ${WINE_HARNESS_SCRIPTS}/harness/wine_harness.cpp)
if(NOT WINE_HARNESS_RUNS)
  set_target_properties(wine_harness PROPERTIES EXCLUDE_FROM_ALL ON)
endif()
target_include_directories(wine_harness PUBLIC ${WINE_HARNESS_SCRIPTS}/harness)
target_link_libraries(wine_harness PUBLIC GTest::gtest ws2_32)

if(WINE_HARNESS_RUNS)
  add_test(NAME wine_harness_setup COMMAND bash ${WINE_HARNESS_SCRIPTS}/harness.sh setup)
  add_test(NAME wine_harness_cleanup COMMAND bash ${WINE_HARNESS_SCRIPTS}/harness.sh cleanup)
  set_tests_properties(wine_harness_setup PROPERTIES FIXTURES_SETUP wine_harness TIMEOUT 300)
  set_tests_properties(wine_harness_cleanup PROPERTIES FIXTURES_CLEANUP wine_harness TIMEOUT 60)
  set_tests_properties(wine_harness_setup wine_harness_cleanup PROPERTIES
    ENVIRONMENT "HARNESS_DIR=${WINE_HARNESS_DIR}" RESOURCE_LOCK wine_prefix LABELS wine)
endif()

function(_wine_harness_register name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "SERVER;WINHELP" "TIMEOUT" "ENVIRONMENT;COMMAND")
  if(NOT WINE_HARNESS_RUNS)
    return()
  endif()
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 120)
  endif()
  set(runner_options --name ${name} --timeout ${arg_TIMEOUT})
  # All Wine tests share one prefix and display, and a failed test stops the prefix's programs.
  set(locks wine_prefix)
  if(arg_SERVER)
    list(APPEND runner_options --server)
    list(APPEND locks port8081)
  endif()
  set(environment
    HARNESS_DIR=${WINE_HARNESS_DIR}
    HARNESS_STANDIN_DIR=${STANDIN_OUTPUT_DIR}
    HARNESS_WINHELP=$<BOOL:${arg_WINHELP}>
    ${arg_ENVIRONMENT})
  math(EXPR ctest_timeout "${arg_TIMEOUT} + 60")
  add_test(NAME ${name} COMMAND bash ${WINE_HARNESS_SCRIPTS}/run-test.sh ${runner_options} -- ${arg_COMMAND})
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED wine_harness
    RESOURCE_LOCK "${locks}"
    TIMEOUT ${ctest_timeout}
    ENVIRONMENT "${environment}"
    LABELS wine)
endfunction()

function(add_wine_gtest name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "SERVER;WINHELP" "TIMEOUT" "SOURCES;LIBRARIES;ENVIRONMENT")
  if(WINE_HARNESS_RUNS)
    add_executable(${name} ${arg_SOURCES})
  else()
    add_executable(${name} EXCLUDE_FROM_ALL ${arg_SOURCES})
  endif()
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} wine_harness GTest::gmock GTest::gmock_main)
  add_dependencies(${name} standins)
  set(flags)
  foreach(flag SERVER WINHELP)
    if(arg_${flag})
      list(APPEND flags ${flag})
    endif()
  endforeach()
  _wine_harness_register(${name} ${flags} TIMEOUT "${arg_TIMEOUT}" ENVIRONMENT ${arg_ENVIRONMENT}
    COMMAND $<TARGET_FILE:${name}>)
endfunction()

function(add_wine_script_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "SERVER;WINHELP" "TIMEOUT;SCRIPT" "ARGS;DEPENDS;ENVIRONMENT")
  get_filename_component(script ${arg_SCRIPT} ABSOLUTE)
  # Building the test's programs is the job of the build, as for a gtest program.
  if(arg_DEPENDS AND WINE_HARNESS_RUNS)
    add_custom_target(${name}_programs ALL)
    add_dependencies(${name}_programs ${arg_DEPENDS})
  endif()
  set(flags)
  foreach(flag SERVER WINHELP)
    if(arg_${flag})
      list(APPEND flags ${flag})
    endif()
  endforeach()
  _wine_harness_register(${name} ${flags} TIMEOUT "${arg_TIMEOUT}" ENVIRONMENT ${arg_ENVIRONMENT}
    COMMAND ${script} ${arg_ARGS})
endfunction()
