# CPack reads this once per generator: the installer is the -setup.exe, the zip keeps
# the plain name.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()
# CPack strips the programs and Qt's DLLs it installs; strip writes a time into their PE
# headers, which is then the release's (packaging/changelog's date), not the build's.
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_KELTA_RELEASE_EPOCH})
