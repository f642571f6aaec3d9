# Runs the JUnit suite with -Xcheck:jni and fails on any JNI warning the VM
# prints, not only on failed tests.
execute_process(
  COMMAND "${JAVA}" -Xcheck:jni -jar "${CONSOLE}" --disable-banner --details=summary
          --fail-if-no-tests --class-path "${CLASSPATH}" --scan-class-path
          --reports-dir "${REPORTS}"
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
message("${out}")
message("${err}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "JUnit failed (exit ${rc})")
endif()
if("${out}${err}" MATCHES "WARNING in native method|FATAL ERROR in native method")
  message(FATAL_ERROR "-Xcheck:jni reported a problem")
endif()
