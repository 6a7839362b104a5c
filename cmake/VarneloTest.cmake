# varnelo_add_test(NAME <binary> LABEL unit|e2e SOURCES ... LIBS ...)
# Builds one GoogleTest binary and registers it with CTest as a single test
# under the given label, so `ctest -L unit` runs the fast ones.
function(varnelo_add_test)
  cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  # The tests' own code is built unoptimised: it compiles in about half the
  # time (most of a clean build is test code), and the libraries it checks
  # keep their flags.
  target_compile_options(${T_NAME} PRIVATE -O0)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
endfunction()
