# Runs the JUnit suite with -Xcheck:jni and fails on any JNI warning the VM
# prints, not only on failed tests.
#   JAVA       the java binary; LAUNCHER, if set, starts it (an emulator)
#   OPTIONS    further VM options
# LAUNCHER and OPTIONS separate their items with '|'.
foreach(v LAUNCHER OPTIONS)
  if(DEFINED ${v})
    string(REPLACE "|" ";" ${v} "${${v}}")
  endif()
endforeach()
execute_process(
  COMMAND ${LAUNCHER} "${JAVA}" -Xcheck:jni ${OPTIONS} -jar "${CONSOLE}" --disable-banner --details=summary
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
