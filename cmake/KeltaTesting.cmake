# kelta_add_gtest(target [LABELS ...]): registers a GoogleTest program with ctest.
# Natively, and in the arm64 build under qemu-user, every test case is a ctest test of its
# own. Cross-compiled for Windows, the whole program is one ctest test, run under Wine:
# one Wine start per program instead of one per test case.
set(KELTA_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/wine-run)

if(WIN32)
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

  # What the test programs need from outside the prefix, in a file wine-run reads when
  # KELTA_WINE_ENV names it: the Qt programs load Qt's DLLs and the MinGW runtime DLLs
  # (WINEPATH, Windows paths; drive Z: is the host's root), and Qt's offscreen platform
  # plugin, which on Windows reads fonts from one folder only, is given one with the
  # fonts the window asks for. Wine keeps every variable named QT_... from its programs
  # (the host's Qt settings are not for them) and passes WINEQT_... on as QT_..., so
  # the folder is named that way. The programs of the deployed folder get neither: that
  # folder must hold all it loads.
  set(winepath)
  if(KELTA_WITH_QT)
    list(APPEND winepath ${KELTA_QT_WINDOWS}/bin)
  endif()
  foreach(dll libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE dll_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(dll_dir ${dll_path} DIRECTORY)
    get_filename_component(dll_dir ${dll_dir} REALPATH)
    list(APPEND winepath ${dll_dir})
  endforeach()
  list(TRANSFORM winepath PREPEND "Z:")
  string(REPLACE "/" "\\" winepath "${winepath}")
  set(KELTA_TEST_FONTS ${CMAKE_BINARY_DIR}/test-fonts)
  file(MAKE_DIRECTORY ${KELTA_TEST_FONTS})
  foreach(font truetype/liberation2/LiberationSans-Regular.ttf
               truetype/liberation2/LiberationSans-Bold.ttf truetype/wqy/wqy-microhei.ttc)
    get_filename_component(name ${font} NAME)
    # Copies: Wine shows a link as a reparse point that Qt takes for a broken link.
    file(COPY_FILE /usr/share/fonts/${font} ${KELTA_TEST_FONTS}/${name} ONLY_IF_DIFFERENT)
  endforeach()
  set(KELTA_WINE_ENV ${CMAKE_BINARY_DIR}/wine-env)
  file(WRITE ${KELTA_WINE_ENV}
    "export WINEPATH='${winepath}'\n"
    "export WINEQT_QPA_FONTDIR='Z:${KELTA_TEST_FONTS}'\n")
endif()

function(kelta_add_gtest target)
  cmake_parse_arguments(arg "" "" "LABELS" ${ARGN})
  if(WIN32)
    add_test(NAME ${target} COMMAND ${target} --gtest_color=no)
    set_tests_properties(${target} PROPERTIES LABELS "windows;${arg_LABELS}" TIMEOUT 300
      FIXTURES_REQUIRED wine_prefix ENVIRONMENT KELTA_WINE_ENV=${KELTA_WINE_ENV})
  else()
    # An empty LABELS would swallow the next property name: pass it only when given.
    # Discovery at test time flattens lists, so a test case carries the first label.
    set(props TIMEOUT 120)
    if(arg_LABELS)
      list(GET arg_LABELS 0 label)
      list(APPEND props LABELS ${label})
    endif()
    # Parameterised cases carry names of their own: a ctest name is that name, without
    # the parameter's printed bytes after it.
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST NO_PRETTY_VALUES PROPERTIES ${props})
  endif()
endfunction()
