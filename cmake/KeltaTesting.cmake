# kelta_add_gtest(target [LABELS ...]): registers a GoogleTest program with ctest.
# Natively every test case is a ctest test of its own. Cross-compiled, the whole program
# is one ctest test, run under the emulator (Wine): one Wine start per program instead
# of one per test case.
set(KELTA_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/wine-run)

if(CMAKE_CROSSCOMPILING)
  # A fresh Wine prefix takes some seconds to make: one setup test makes it and starts
  # Wine before any program runs, so that no test pays for it against its own time limit;
  # one cleanup test ends Wine after the last.
  add_test(NAME wine_prefix COMMAND ${KELTA_WINE_RUN} --init
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(wine_prefix PROPERTIES
    LABELS windows FIXTURES_SETUP wine_prefix TIMEOUT 300)
  add_test(NAME wine_stop COMMAND ${KELTA_WINE_RUN} --stop
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(wine_stop PROPERTIES
    LABELS windows FIXTURES_CLEANUP wine_prefix TIMEOUT 60)
endif()

function(kelta_add_gtest target)
  cmake_parse_arguments(arg "" "" "LABELS" ${ARGN})
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target} --gtest_color=no)
    set_tests_properties(${target} PROPERTIES LABELS "windows;${arg_LABELS}" TIMEOUT 300
      FIXTURES_REQUIRED wine_prefix)
  else()
    # An empty LABELS would swallow the next property name: pass it only when given.
    # Discovery at test time flattens lists, so a test case carries the first label.
    set(props TIMEOUT 120)
    if(arg_LABELS)
      list(GET arg_LABELS 0 label)
      list(APPEND props LABELS ${label})
    endif()
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
  endif()
endfunction()
