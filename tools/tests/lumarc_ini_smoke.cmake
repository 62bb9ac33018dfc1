# Runs the lumarc-ini program on a temporary file: a write, a read back, and
# a refused write that must exit non-zero.
set(file "${CMAKE_CURRENT_BINARY_DIR}/lumarc_ini_smoke.ini")
file(REMOVE "${file}")
execute_process(COMMAND ${PROGRAM} set ${file} Common Total 2 RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "set failed: ${rc}")
endif()
execute_process(COMMAND ${PROGRAM} get-int ${file} common total -1
                OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "2\n")
    message(FATAL_ERROR "get-int gave '${out}' (${rc})")
endif()
execute_process(COMMAND ${PROGRAM} set /nonexistent/folder/x.ini s k v
                ERROR_VARIABLE err RESULT_VARIABLE rc)
if(rc EQUAL 0 OR NOT err MATCHES "cannot change")
    message(FATAL_ERROR "failed write not reported: ${rc} ${err}")
endif()
file(REMOVE "${file}")
