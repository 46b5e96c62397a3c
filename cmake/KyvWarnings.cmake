# The one place that lists the compiler warnings of the project's own code.
set(KYV_WARNING_FLAGS -Wall -Wextra -Wno-unused-parameter)

function(kyv_warnings target)
  target_compile_options(${target} PRIVATE ${KYV_WARNING_FLAGS})
endfunction()

# kyv_test(name SOURCES a_test.cc ... LIBS lib ...): one gtest binary registered with ctest.
function(kyv_test name)
  if(NOT KYV_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  kyv_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()
