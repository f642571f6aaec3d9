# Finds the JDK without relying on JAVA_HOME: when it is not set, the JDK is
# taken from the real path of `javac` on PATH (on Linux /usr/bin/javac is a
# chain of links into the JDK's bin directory). On macOS /usr/bin/javac is a
# launcher rather than a link, so there the system's java_home tool answers.
if(NOT DEFINED ENV{JAVA_HOME} AND NOT DEFINED JAVA_HOME)
  find_program(ZENTHAL_JAVAC javac)
  if(NOT ZENTHAL_JAVAC)
    message(FATAL_ERROR "javac not found: install a JDK (Debian: openjdk-17-jdk-headless)")
  endif()
  file(REAL_PATH "${ZENTHAL_JAVAC}" _javac_real)
  get_filename_component(_jdk_bin "${_javac_real}" DIRECTORY)
  get_filename_component(_jdk_home "${_jdk_bin}" DIRECTORY)
  if(NOT EXISTS "${_jdk_home}/include/jni.h" AND APPLE AND EXISTS /usr/libexec/java_home)
    execute_process(COMMAND /usr/libexec/java_home -v 17+
                    OUTPUT_VARIABLE _jdk_home OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  if(NOT EXISTS "${_jdk_home}/include/jni.h")
    message(FATAL_ERROR "no JDK with include/jni.h found from ${ZENTHAL_JAVAC}; set JAVA_HOME")
  endif()
  set(JAVA_HOME "${_jdk_home}" CACHE PATH "JDK used for javac, jar and the JNI header")
endif()
if(DEFINED JAVA_HOME)
  set(ENV{JAVA_HOME} "${JAVA_HOME}")
endif()

find_package(Java 17 REQUIRED COMPONENTS Runtime Development)
include(UseJava)

# Only the JNI headers are needed: the library does not link the JVM.
find_path(ZENTHAL_JNI_INCLUDE jni.h PATHS "$ENV{JAVA_HOME}/include" NO_DEFAULT_PATH REQUIRED)
if(APPLE)
  set(_jni_md_dir "${ZENTHAL_JNI_INCLUDE}/darwin")
else()
  set(_jni_md_dir "${ZENTHAL_JNI_INCLUDE}/linux")
endif()
set(ZENTHAL_JNI_INCLUDE_DIRS "${ZENTHAL_JNI_INCLUDE}" "${_jni_md_dir}")
