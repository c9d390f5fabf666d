# Installation and packages: the Debian package (`make package`), and on Windows the
# program's folder, its installer and a zip (`make windows`, cmake/WindowsPackaging.cmake).
set(CPACK_PACKAGE_NAME "kelta-reader-config")
set(CPACK_PACKAGE_VENDOR "KELTA Technology Corp.")
set(CPACK_PACKAGE_CONTACT "KELTA Technology Corp. <support@kelta.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Configuration utility for the KELTA QM880-4R active-tag reader")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/packages")
# Every time in the packages is the release's date (cmake/Release.cmake), not the build's:
# the project's CPack files set SOURCE_DATE_EPOCH to it (for CPack's DEB generator and for
# strip), and the Windows packages' files get it (cmake/CPackWindowsStage.cmake).
set(CPACK_KELTA_RELEASE_EPOCH ${KELTA_RELEASE_EPOCH})
# Folders made by the installation are rwxr-xr-x whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# What the build makes of the packages' contents: `make package` and `make windows` build
# this target (not the tests) before CPack installs.
add_custom_target(package-contents)
foreach(target qm880-config qm880ctl qm880-sim qm880ctl-completion
               qm880-config-manpage qm880ctl-manpage qm880-sim-manpage)
  if(TARGET ${target})
    add_dependencies(package-contents ${target})
  endif()
endforeach()

if(KELTA_BUILD_TESTS AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME packaging.makensis-sorted
    COMMAND ${PROJECT_SOURCE_DIR}/tests/packaging/makensis_sorted_test.sh
            ${CMAKE_CURRENT_LIST_DIR}/makensis-sorted)
  set_tests_properties(packaging.makensis-sorted PROPERTIES LABELS packaging)
  add_test(NAME packaging.udev-rule
    COMMAND ${PROJECT_SOURCE_DIR}/tests/packaging/udev_rule_test.sh
            ${PROJECT_SOURCE_DIR}/packaging/60-kelta-qm880.rules)
  set_tests_properties(packaging.udev-rule PROPERTIES LABELS packaging)
endif()

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsPackaging.cmake)
  return()
endif()

# Two Debian packages, for amd64 and arm64 alike: kelta-reader-config-cli (component
# "cli", the default one: qm880ctl, qm880-sim, the service, the udev rule, their manual
# pages, the completion and the documents), which is all a headless gateway needs, and
# kelta-reader-config (component "desktop": the window, its menu entry and icon), which
# depends on it. The arm64 build has no window: it makes the first only.
set(KELTA_CLI_PACKAGE kelta-reader-config-cli)
foreach(program qm880ctl qm880-sim)
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()
# udev reads /usr/lib/udev/rules.d on Debian (merged /usr).
install(FILES packaging/60-kelta-qm880.rules DESTINATION lib/udev/rules.d)
# Tag reading from one converter as a service; installed, not enabled.
install(FILES packaging/qm880-read-tags@.service DESTINATION lib/systemd/system)
# The same, published to an MQTT broker named in a configuration file of /etc, a
# conffile (the administrator's edits survive upgrades), installed commented out.
install(FILES packaging/qm880-mqtt-tags@.service DESTINATION lib/systemd/system)
install(FILES packaging/qm880-mqtt.conf DESTINATION /etc/kelta)
file(WRITE ${CMAKE_BINARY_DIR}/conffiles "/etc/kelta/qm880-mqtt.conf\n")
set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/conffiles)
if(TARGET qm880-config)
  install(TARGETS qm880-config RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT desktop)
  install(FILES packaging/kelta-qm880-config.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT desktop)
  install(FILES packaging/kelta-qm880-config.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT desktop)
endif()
# Named after the package, where Debian looks for a package's documents; the README's
# links to docs/ keep working there.
set(KELTA_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/${KELTA_CLI_PACKAGE}")
install(FILES README.md DESTINATION ${KELTA_DOCDIR})
# Debian's places, in each package: the machine-readable copyright file (the licence of
# the programs and of the font the language pictures are drawn with) and the changelog,
# compressed as Debian compresses it (gzip -9n: no name, no time, the same bytes every
# build).
set(changelog ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(changelog ALL DEPENDS ${changelog})
add_dependencies(package-contents changelog)
install(FILES packaging/copyright ${changelog} DESTINATION ${KELTA_DOCDIR})
if(TARGET qm880-config)
  install(FILES packaging/copyright ${changelog}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kelta-reader-config COMPONENT desktop)
endif()
install(DIRECTORY docs/ DESTINATION ${KELTA_DOCDIR}/docs FILES_MATCHING
        PATTERN "*.md" PATTERN "*.png")

set(CPACK_GENERATOR "DEB")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackDeb.cmake)
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli)
if(TARGET qm880-config)
  list(APPEND CPACK_COMPONENTS_ALL desktop)
endif()
# Debian's name of the architecture the programs are built for (CPack would take the
# build machine's).
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
endif()
# Each package has a summary of its own: the first line of its description.
unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME ${KELTA_CLI_PACKAGE})
set(CPACK_DEBIAN_CLI_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "libicu72, libmosquitto1, libsqlite3-0, libc6, libstdc++6")
# The programs and files it carries were kelta-reader-config's before the split: an upgrade
# from such a version moves them over.
set(CPACK_DEBIAN_CLI_PACKAGE_BREAKS "kelta-reader-config (<< ${PROJECT_VERSION})")
set(CPACK_DEBIAN_CLI_PACKAGE_REPLACES "kelta-reader-config (<< ${PROJECT_VERSION})")
# CPack indents the lines of the long description itself.
# Lines of at most 79 characters, as Debian wants them once indented.
set(CPACK_DEBIAN_CLI_DESCRIPTION
    "KELTA QM880-4R active-tag reader from the command line\nqm880ctl finds a QM880-4R reader on a serial port (RS232, or RS485 through a\nconverter), shows its serial number, ID and firmware version, changes its\nsettings and reads tag IDs continuously: for scripts, for readers behind a\nheadless gateway (tag reading as a systemd service) and for finding out why a\nreader is not found. Ships qm880-sim, a reader simulator on a pseudo-terminal.")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME kelta-reader-config)
set(CPACK_DEBIAN_DESKTOP_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS
    "${KELTA_CLI_PACKAGE} (= ${PROJECT_VERSION}), libqt6widgets6 (>= 6.2), libqt6gui6 (>= 6.2), libqt6core6 (>= 6.2), qt6-qpa-plugins, libicu72, libasound2, libc6, libstdc++6, fonts-liberation2, fonts-wqy-microhei")
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION
    "Configuration utility for the KELTA QM880-4R active-tag reader\nFinds a QM880-4R reader on a serial port (RS232, or RS485 through a\nconverter), shows its serial number, ID and firmware version, changes its\nsettings and reads tag IDs continuously, in English, Simplified and\nTraditional Chinese, in a window. The command line and the simulator are\nin kelta-reader-config-cli.")
# The build keeps its debug information; the package does not.
set(CPACK_STRIP_FILES ON)
if(NOT WIN32)
  set(CMAKE_STRIP ${CMAKE_CURRENT_LIST_DIR}/strip-for-debian)
endif()
include(CPack)
