# The Windows program's folder, as `cmake --install` lays it out, the installer and the
# portable zip are all the same folder: qm880-config.exe and qm880ctl.exe, the Qt DLLs the window loads, the
# windows platform plugin, the MinGW runtime DLLs that they need, and the licence texts
# of what is shipped. Nothing else: tests/windows/check-imports.sh checks every import
# table of it against the folder and Windows' own DLLs.
if(NOT TARGET qm880-config)
  return()  # a cross build without Qt: nothing to ship
endif()

install(TARGETS qm880-config RUNTIME DESTINATION .)
# The command line beside the window (a console program, statically linked: no DLL of its
# own), for scripts and for finding out why a reader is not found.
if(TARGET qm880ctl)
  install(TARGETS qm880ctl RUNTIME DESTINATION .)
endif()
install(FILES $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
        DESTINATION .)
# Qt looks for its plugins in platforms\ beside the program; the program draws in the
# Fusion style, which is part of Qt Widgets, so there is no style plugin.
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
# The GCC runtime that Qt's DLLs and the program link (one copy for both), without the
# debug information Debian ships in it (libstdc++-6.dll: 23 MB with, 2 MB without).
# strip writes a time into a PE header: the release's (SOURCE_DATE_EPOCH), not the build's.
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "The MinGW runtime ${dll} is not found (${path})")
  endif()
  set(stripped ${CMAKE_BINARY_DIR}/mingw-runtime/${dll})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/mingw-runtime)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${KELTA_RELEASE_EPOCH}
                          ${CMAKE_STRIP} --strip-unneeded -o ${stripped} ${path}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${CMAKE_STRIP} could not strip ${path}")
  endif()
  install(FILES ${stripped} DESTINATION .)
endforeach()

# Licences: the program's own (MIT), Qt's (LGPLv3, with where its source comes from, and the libraries built
# into it) and the MinGW-w64 runtime's (GCC's runtime library exception, winpthreads).
install(FILES packaging/windows/LICENSES.txt DESTINATION licenses)
install(FILES LICENSE DESTINATION licenses RENAME qm880-config-LICENSE.txt)
install(DIRECTORY ${KELTA_QT_WINDOWS}/licenses/ DESTINATION licenses/Qt)
install(FILES ${KELTA_QT_WINDOWS}/SOURCE.txt DESTINATION licenses/Qt)
install(FILES /usr/share/doc/gcc-mingw-w64-base/copyright
        DESTINATION licenses/MinGW-w64 RENAME gcc-runtime-copyright.txt)
install(FILES /usr/share/common-licenses/GPL-3
        DESTINATION licenses/MinGW-w64 RENAME GPL-3.txt)
install(FILES /usr/share/doc/mingw-w64-common/copyright
        DESTINATION licenses/MinGW-w64 RENAME mingw-w64-copyright.txt)

# The installer (NSIS) and the zip of the same folder; the installer's file name ends in
# -setup (cmake/CPackWindows.cmake).
set(CPACK_GENERATOR "NSIS;ZIP")
set(CPACK_PACKAGE_FILE_NAME "kelta-reader-config-${PROJECT_VERSION}-win64")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackWindows.cmake)
# The same folder gives the same installer and zip, byte for byte: the files get the
# release's time, the zip is made in name order, the uninstaller's lists are put in order.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/CPackWindowsStage.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/CPackWindowsZip.cmake)
set(CPACK_NSIS_EXECUTABLE ${CMAKE_CURRENT_LIST_DIR}/makensis-sorted)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "KELTA\\\\Reader Config")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "KELTA Reader Config")
set(CPACK_NSIS_PACKAGE_NAME "KELTA QM880-4R Reader Config")
set(CPACK_NSIS_DISPLAY_NAME "KELTA QM880-4R Reader Config")
set(CPACK_NSIS_MUI_ICON ${KELTA_ICON})
set(CPACK_NSIS_MUI_UNIICON ${KELTA_ICON})
set(CPACK_NSIS_INSTALLED_ICON_NAME "qm880-config.exe")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ".")
set(CPACK_PACKAGE_EXECUTABLES "qm880-config" "KELTA QM880-4R Reader Config")
# A 64-bit installer for a 64-bit program (Debian's NSIS has the amd64 stubs): it runs
# where 32-bit programs cannot (a 64-bit-only Wine), and writes its Apps entry to the
# registry's 64-bit view. The Start menu gets a folder KELTA with the program's shortcut
# and the uninstaller's.
set(CPACK_NSIS_DEFINES "Target amd64-unicode\n!define MUI_STARTMENUPAGE_DEFAULTFOLDER KELTA")
# The installer stores the times of the program's files (the release's), and no time for
# the files CPack and NSIS add for the installer's own pages, which are made at build time.
string(APPEND CPACK_NSIS_DEFINES "\nSetDateSave off")
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "SetDateSave on")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "SetDateSave off")
# An earlier version is uninstalled first (silently too), so an upgrade leaves no old file.
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# The program has no licence of its own to agree to; the shipped ones are in licenses\.
set(CPACK_NSIS_IGNORE_LICENSE_PAGE ON)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
set(CPACK_NSIS_URL_INFO_ABOUT "https://www.kelta.example")
set(CPACK_NSIS_CONTACT "support@kelta.example")
include(CPack)
