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

# Makes target export exactly the names of the list: on Windows through a
# module-definition file, with the GNU linker elsewhere through a version
# script that keeps every other symbol local (the Java binding's entry
# points, when it is built, are exported too).
function(vokapi_export_list target list_file)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})
  vokapi_read_exports(${list_file} names)
  if(WIN32)
    list(JOIN names "\n  " lines)
    set(def ${PROJECT_BINARY_DIR}/vokapi.def)
    file(CONFIGURE OUTPUT ${def} CONTENT "LIBRARY vokapi.dll\nEXPORTS\n  ${lines}\n" @ONLY)
    target_sources(${target} PRIVATE ${def})
  elseif(NOT APPLE)
    if(VOKAPI_JAVA)
      list(APPEND names "Java_com_zkmoravelt_vokapi_*")
    endif()
    list(JOIN names ";\n    " lines)
    set(map ${PROJECT_BINARY_DIR}/vokapi.map)
    file(CONFIGURE OUTPUT ${map} CONTENT "{\n  global:\n    ${lines};\n  local:\n    *;\n};\n" @ONLY)
    target_link_options(${target} PRIVATE "LINKER:--version-script=${map}")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
  endif()
endfunction()
