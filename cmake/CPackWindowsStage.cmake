# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on the folder it installed for the installer or
# the zip: every file and folder in it gets the release's time, which the installer
# stores and sets on the files it writes, and the zip keeps.
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
execute_process(COMMAND touch -h -d @${CPACK_KELTA_RELEASE_EPOCH}
                        ${CPACK_TEMPORARY_DIRECTORY} ${staged}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "Cannot set the release's time on ${CPACK_TEMPORARY_DIRECTORY}")
endif()
