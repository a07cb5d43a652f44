# Runs a GoogleTest program for CTest: fails when it fails, and says "Skipped, nothing failed" when
# it ended well and skipped a case. A test matches that line with SKIP_REGULAR_EXPRESSION: CTest
# reports a match of the program's own "[  SKIPPED ]" as skipped even when another case failed.
#
# usage: cmake -P gtest-run.cmake -- <program> [<argument>...]
set(command "")
set(after_separator FALSE)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(after_separator)
    list(APPEND command "${CMAKE_ARGV${i}}")
  elseif(CMAKE_ARGV${i} STREQUAL "--")
    set(after_separator TRUE)
  endif()
endforeach()
if(NOT command)
  message(FATAL_ERROR "usage: cmake -P gtest-run.cmake -- <program> [<argument>...]")
endif()

execute_process(COMMAND ${command} RESULT_VARIABLE result
  OUTPUT_VARIABLE output ERROR_VARIABLE output ECHO_OUTPUT_VARIABLE ECHO_ERROR_VARIABLE)
if(NOT result STREQUAL "0")
  message(FATAL_ERROR "The program ended with ${result}")
endif()
if(output MATCHES "\\[  SKIPPED \\]")
  message("Skipped, nothing failed")
endif()
