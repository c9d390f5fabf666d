# Run by CPack (CPACK_POST_BUILD_SCRIPTS) once a package is made. CPack's zip lists its
# entries in the order the file system lists them and stores the builder's user and group;
# it is made again from the same folder with Info-ZIP: entries in name order, times (the
# release's, cmake/CPackWindowsStage.cmake) in UTC and no extra fields, so that the same
# folder always gives the same zip.
if(NOT CPACK_GENERATOR STREQUAL "ZIP")
  return()
endif()
get_filename_component(stage ${CPACK_TEMPORARY_DIRECTORY} DIRECTORY)
file(GLOB_RECURSE entries RELATIVE ${stage} "${CPACK_TEMPORARY_DIRECTORY}/*")
list(SORT entries)
list(JOIN entries "\n" names)
file(WRITE ${stage}/zip-entries "${names}\n")
foreach(zip IN LISTS CPACK_PACKAGE_FILES)
  file(REMOVE ${zip})
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC zip -q -X -D -@ ${zip}
                  INPUT_FILE ${stage}/zip-entries WORKING_DIRECTORY ${stage}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "zip could not make ${zip}")
  endif()
endforeach()
