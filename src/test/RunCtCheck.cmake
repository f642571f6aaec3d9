# Runs zenthal_ct_check FORM EXPECT under memcheck. EXPECT is "clean" (no
# report allowed in any section's run) or "reported" (the table form: the
# check must find its lookups); in both, every section's probes must be
# reported. The program counts the reports itself and judges; this checks
# that memcheck's own total matches what the program counted, so that no
# report came from outside its sections. Exit status 2 is the program's
# "this processor lacks the SM4 form", the one skip.
execute_process(
  COMMAND "${VALGRIND}" --tool=memcheck --error-limit=no --errors-for-leak-kinds=none
          "${CHECK}" "${FORM}" "${EXPECT}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")
if(rc EQUAL 2 AND err MATCHES "lacks the SM4 form")
  return()
endif()
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the constant-time check failed in form ${FORM} (exit status ${rc})")
endif()
if(NOT out MATCHES "reports counted in the sections: ([0-9]+)")
  message(FATAL_ERROR "the constant-time check printed no count of its reports")
endif()
set(counted "${CMAKE_MATCH_1}")
if(NOT err MATCHES "ERROR SUMMARY: ([0-9]+) errors")
  message(FATAL_ERROR "memcheck printed no error summary")
endif()
if(NOT CMAKE_MATCH_1 EQUAL counted)
  message(FATAL_ERROR "memcheck reported ${CMAKE_MATCH_1} errors, the sections counted ${counted}: "
                      "some came from outside them")
endif()
