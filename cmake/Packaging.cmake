# Installation and the Debian package (`make package`).
include(GNUInstallDirs)

foreach(program qm880-config qm880-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

if(NOT WIN32)
  install(FILES packaging/kelta-qm880-config.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES packaging/kelta-qm880-config.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # udev reads /usr/lib/udev/rules.d on Debian (merged /usr).
  install(FILES packaging/60-kelta-qm880.rules DESTINATION lib/udev/rules.d)
endif()
# Named after the package, where Debian looks for a package's documents; the README's
# links to docs/ keep working there.
set(KELTA_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/kelta-reader-config")
install(FILES README.md DESTINATION ${KELTA_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${KELTA_DOCDIR}/docs FILES_MATCHING
        PATTERN "*.md" PATTERN "*.png")

set(CPACK_PACKAGE_NAME "kelta-reader-config")
set(CPACK_PACKAGE_VENDOR "KELTA Technology Corp.")
set(CPACK_PACKAGE_CONTACT "KELTA Technology Corp. <support@kelta.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Configuration utility for the KELTA QM880-4R active-tag reader")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6widgets6 (>= 6.2), libqt6gui6 (>= 6.2), libqt6core6 (>= 6.2), qt6-qpa-plugins, libicu72, libasound2, libc6, libstdc++6, fonts-liberation2, fonts-wqy-microhei")
# CPack indents the lines of the long description itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Finds a QM880-4R reader on a serial port (RS232, or RS485 through a converter),\nshows its serial number, ID and firmware version, changes its settings and reads\ntag IDs continuously, in English, Simplified and Traditional Chinese. Ships\nqm880-sim, a reader simulator on a pseudo-terminal.")
# The build keeps its debug information; the package does not.
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/packages")
include(CPack)
