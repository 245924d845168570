# Runs kqget (-DKQGET=...) with no display and no platform named: it must say
# so in one line on stderr and end with status 1, and --version must still work.
set(no_display --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM)

execute_process(COMMAND ${CMAKE_COMMAND} -E env ${no_display} ${KQGET}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REGEX MATCHALL "\n" line_ends "${err}")
list(LENGTH line_ends lines)
if(NOT status EQUAL 1 OR NOT lines EQUAL 1 OR NOT out STREQUAL ""
   OR NOT err MATCHES "^kqget: no display .*kqget-cli")
    message(FATAL_ERROR "without a display: status ${status}, ${lines} lines on stderr:\n${err}"
                        "stdout:\n${out}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E env ${no_display} ${KQGET} --version
    RESULT_VARIABLE status OUTPUT_VARIABLE out)
if(NOT status EQUAL 0 OR NOT out MATCHES "^kqget ")
    message(FATAL_ERROR "--version without a display: status ${status}, output: ${out}")
endif()
