# kelta_add_gtest(target [LABELS ...]): registers a GoogleTest program with ctest.
# Natively every test case is a ctest test of its own. Cross-compiled, the whole program
# is one ctest test, run under the emulator (Wine): one Wine start per program instead
# of one per test case.
function(kelta_add_gtest target)
  cmake_parse_arguments(arg "" "" "LABELS" ${ARGN})
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target} --gtest_color=no)
    set_tests_properties(${target} PROPERTIES LABELS "windows;${arg_LABELS}" TIMEOUT 300)
  else()
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST
      PROPERTIES LABELS "${arg_LABELS}" TIMEOUT 120)
  endif()
endfunction()
