# kelta_add_manpage(target SUMMARY text [COMPONENT name]): the manual page of a program, made at build
# time from its --help (cmake/make-manpage with help2man) and packaging/man/<target>.h2m,
# so that the two cannot drift apart; installed in man1. Not in the Windows build; the
# arm64 build makes them with its own programs under the emulator.
set(KELTA_MAKE_MANPAGE ${CMAKE_CURRENT_LIST_DIR}/make-manpage)

function(kelta_add_manpage target)
  cmake_parse_arguments(arg "" "SUMMARY;COMPONENT" "" ${ARGN})
  if(WIN32)
    return()
  endif()
  kelta_runnable(program ${target})
  set(include ${PROJECT_SOURCE_DIR}/packaging/man/${target}.h2m)
  set(page ${CMAKE_BINARY_DIR}/man/${target}.1.gz)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
            SOURCE_DATE_EPOCH=${KELTA_RELEASE_EPOCH}
            ${KELTA_MAKE_MANPAGE} ${program} ${PROJECT_VERSION}
            "${arg_SUMMARY}" ${include} ${page}
    DEPENDS ${target} ${include} ${KELTA_MAKE_MANPAGE}
    COMMENT "Manual page of ${target}" VERBATIM)
  add_custom_target(${target}-manpage ALL DEPENDS ${page})
  if(NOT arg_COMPONENT)
    set(arg_COMPONENT ${CMAKE_INSTALL_DEFAULT_COMPONENT_NAME})
  endif()
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${arg_COMPONENT})
  if(KELTA_BUILD_TESTS)
    add_test(NAME manpage.${target}
      COMMAND ${PROJECT_SOURCE_DIR}/tests/packaging/manpage_test.sh ${program} ${page})
    set_tests_properties(manpage.${target} PROPERTIES LABELS packaging
      ENVIRONMENT QT_QPA_PLATFORM=offscreen)
  endif()
endfunction()
