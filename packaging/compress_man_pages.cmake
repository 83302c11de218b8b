# Run by cpack on the staged tree before it is packed: compress every manual
# page with gzip -n -9, so that the same page always gives the same bytes (no
# name and no time stamp in the gzip header).
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(path IN LISTS staged)
  if(NOT path MATCHES "/share/man/man[^/]+/[^/]+$" OR path MATCHES "\\.gz$")
    continue()
  endif()
  execute_process(COMMAND gzip -n -9 -f "${path}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip -n -9 failed on ${path}")
  endif()
endforeach()
