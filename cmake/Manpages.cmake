# kelta_add_manpage(target SUMMARY text): the manual page of a program, made at build
# time from its --help (cmake/make-manpage with help2man) and packaging/man/<target>.h2m,
# so that the two cannot drift apart; installed in man1. Not in cross builds, whose
# programs do not run here.
set(KELTA_MAKE_MANPAGE ${CMAKE_CURRENT_LIST_DIR}/make-manpage)

function(kelta_add_manpage target)
  cmake_parse_arguments(arg "" "SUMMARY" "" ${ARGN})
  if(CMAKE_CROSSCOMPILING)
    return()
  endif()
  set(include ${PROJECT_SOURCE_DIR}/packaging/man/${target}.h2m)
  set(page ${CMAKE_BINARY_DIR}/man/${target}.1.gz)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
            SOURCE_DATE_EPOCH=${KELTA_RELEASE_EPOCH}
            ${KELTA_MAKE_MANPAGE} $<TARGET_FILE:${target}> ${PROJECT_VERSION}
            "${arg_SUMMARY}" ${include} ${page}
    DEPENDS ${target} ${include} ${KELTA_MAKE_MANPAGE}
    COMMENT "Manual page of ${target}" VERBATIM)
  add_custom_target(${target}-manpage ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  if(KELTA_BUILD_TESTS)
    add_test(NAME manpage.${target}
      COMMAND ${PROJECT_SOURCE_DIR}/tests/packaging/manpage_test.sh
              $<TARGET_FILE:${target}> ${page})
    set_tests_properties(manpage.${target} PROPERTIES LABELS packaging
      ENVIRONMENT QT_QPA_PLATFORM=offscreen)
  endif()
endfunction()
