# SPDX-License-Identifier: ISC
# Run by CPack on its staging tree before it makes the Debian package: the
# manual pages, the changelog and the examples go into the package
# compressed, without a name or time stamp in the gzip header, as Debian
# policy asks.
file(GLOB_RECURSE docs
  "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.1"
  "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.8"
  "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/changelog")
if(NOT docs)
  message(FATAL_ERROR "no manual page or changelog in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
# Releases are Debian revisions: the changelog is the package's own.
foreach(doc IN LISTS docs)
  if(doc MATCHES "/changelog$")
    file(RENAME "${doc}" "${doc}.Debian")
    set(doc "${doc}.Debian")
  endif()
  execute_process(COMMAND gzip -9nf "${doc}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip failed on ${doc}")
  endif()
endforeach()
