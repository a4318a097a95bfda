# Builds the API reference and judges it: every Doxygen warning fails (an undocumented operation,
# type, constant or alias, a broken reference, a malformed comment), except an undocumented field
# of a documented record, whose comment describes the record's fields as the headers do, and an
# override of a framework method, which the framework documents; then the index page must name
# every public header.
file(REMOVE_RECURSE ${OUTPUT}/html)
execute_process(COMMAND ${DOXYGEN} ${DOXYFILE} WORKING_DIRECTORY ${OUTPUT}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE warnings)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "doxygen failed (${result}):\n${output}${warnings}")
endif()
string(REPLACE "\n" ";" warnings "${warnings}")
set(failures "")
foreach(warning IN LISTS warnings)
  if(warning STREQUAL "" OR warning MATCHES "\\(variable\\) of (struct|class|union) [^ ]+ is not"
     OR warning MATCHES "override \\(function\\) of class [^ ]+ is not")
    continue()
  endif()
  string(APPEND failures "${warning}\n")
endforeach()
if(NOT failures STREQUAL "")
  message(FATAL_ERROR "the API reference has warnings:\n${failures}")
endif()
file(READ ${OUTPUT}/html/index.html index)
string(REPLACE "|" ";" headers "${HEADERS}")
foreach(header IN LISTS headers)
  string(FIND "${index}" "${header}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "the index page does not list ${header}")
  endif()
endforeach()
