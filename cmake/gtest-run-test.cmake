# Checks cmake/gtest-run.cmake with a stand-in program (this script, given "skip" or "fail"): one
# skipped case beside a failed one fails without the skip line; skips alone give it.
#
# usage: cmake -P gtest-run-test.cmake
if(CMAKE_ARGV3 STREQUAL "skip" OR CMAKE_ARGV3 STREQUAL "fail")
  message("[  SKIPPED ] Suite.Skipped")
  if(CMAKE_ARGV3 STREQUAL "fail")
    message("[  FAILED  ] Suite.Failed")
    message(FATAL_ERROR "1 FAILED TEST")
  endif()
  return()
endif()

set(run "${CMAKE_CURRENT_LIST_DIR}/gtest-run.cmake")
foreach(mode skip fail)
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -P "${run}" -- "${CMAKE_COMMAND}" -P "${CMAKE_CURRENT_LIST_FILE}" ${mode}
    RESULT_VARIABLE result_${mode} OUTPUT_VARIABLE output_${mode} ERROR_VARIABLE output_${mode})
endforeach()
if(NOT result_skip STREQUAL "0" OR NOT output_skip MATCHES "Skipped, nothing failed")
  message(FATAL_ERROR "Skips alone were not reported (${result_skip}):\n${output_skip}")
endif()
if(result_fail STREQUAL "0" OR output_fail MATCHES "Skipped, nothing failed")
  message(FATAL_ERROR "A failure beside a skip was not reported (${result_fail}):\n${output_fail}")
endif()
message("gtest-run.cmake: a failure beside a skip fails, skips alone are reported")
