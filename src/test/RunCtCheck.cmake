# Runs zenthal_ct_check FORM under memcheck. EXPECT is "clean" (no report
# allowed) or "reported" (the table form: the check must find its lookups).
execute_process(
  COMMAND "${VALGRIND}" --tool=memcheck --error-exitcode=99 --errors-for-leak-kinds=none "${CHECK}" "${FORM}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")
if(rc EQUAL 2)
  message("this processor lacks the SM4 form ${FORM}")
  return()
endif()
if(EXPECT STREQUAL "clean" AND NOT rc EQUAL 0)
  message(FATAL_ERROR "memcheck reports secret-dependent branches or addresses in form ${FORM}")
elseif(EXPECT STREQUAL "reported")
  if(NOT rc EQUAL 99 OR NOT err MATCHES "uninitialised")
    message(FATAL_ERROR "memcheck did not report the table lookups of form ${FORM}: the check is blind")
  endif()
endif()
