# Reads cmake/vokapi.exports, the one list of the functions the library
# exports: one name per line; blank lines and lines starting with '#' are
# skipped.  Used by the build (the Windows module-definition file) and by
# the test that checks the built library against the list.
function(vokapi_read_exports file out_var)
  file(STRINGS "${file}" lines)
  set(names)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    list(APPEND names "${line}")
  endforeach()
  list(SORT names)
  set(${out_var} "${names}" PARENT_SCOPE)
endfunction()
