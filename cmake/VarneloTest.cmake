# varnelo_add_test(NAME <binary> LABEL unit|e2e [SHARDS n] SOURCES ... LIBS ...)
# Builds one GoogleTest binary and registers it with CTest under the given
# label, so `ctest -L unit` runs the fast ones. With SHARDS, CTest runs it as
# that many tests (<binary>_1of<n>, ...), each a share of its cases through
# GoogleTest's own sharding, so a long binary does not run alone at the end
# of `ctest -j`; they are started first.
function(varnelo_add_test)
  cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT;SHARDS" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  # The tests' own code is built unoptimised: it compiles in about half the
  # time (most of a clean build is test code), and the libraries it checks
  # keep their flags.
  target_compile_options(${T_NAME} PRIVATE -O0)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  if(NOT T_SHARDS)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no)
    set_tests_properties(${T_NAME} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
    return()
  endif()
  math(EXPR last "${T_SHARDS} - 1")
  foreach(index RANGE ${last})
    math(EXPR number "${index} + 1")
    set(test ${T_NAME}_${number}of${T_SHARDS})
    add_test(NAME ${test} COMMAND ${T_NAME} --gtest_color=no)
    set_tests_properties(${test} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT} COST 1000
      ENVIRONMENT "GTEST_TOTAL_SHARDS=${T_SHARDS};GTEST_SHARD_INDEX=${index}")
  endforeach()
endfunction()
