# The release: its date is the one of the newest entry of packaging/changelog, which also
# dates the manual pages (SOURCE_DATE_EPOCH), so that a build of the same tree gives the
# same files.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog KELTA_CHANGELOG_TRAILERS REGEX "^ -- ")
list(GET KELTA_CHANGELOG_TRAILERS 0 trailer)
string(REGEX REPLACE "^.*>  " "" KELTA_RELEASE_DATE "${trailer}")
execute_process(COMMAND date -d "${KELTA_RELEASE_DATE}" +%s
  OUTPUT_VARIABLE KELTA_RELEASE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "packaging/changelog: cannot read the date \"${KELTA_RELEASE_DATE}\"")
endif()
