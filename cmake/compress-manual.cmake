# Run by CPack after it has installed the game into its staging folder:
# compresses the manual pages there the way Debian packages carry them
# (highest compression, no name or time stamp inside).
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
set(pages "")
foreach(file ${staged})
  if(file MATCHES "/share/man/man[1-9]/[^/]+\\.[1-9]$")
    list(APPEND pages "${file}")
  endif()
endforeach()
if(NOT pages)
  message(FATAL_ERROR "no manual page found below ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
foreach(page ${pages})
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot compress ${page}")
  endif()
endforeach()
