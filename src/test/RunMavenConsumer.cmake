# Builds examples/maven-consumer with Maven, offline, against the build's
# maven-repo/, and runs its test under Surefire. The project is copied into
# the build directory so that Maven's target/ stays out of the checkout, and
# zenthal is dropped from the local repository first so that every run
# resolves it afresh from maven-repo/ (Maven keeps a downloaded release).
#   MVN      the mvn command
#   SOURCE   examples/maven-consumer
#   WORK     a directory of the build for the copy and the local repository
#   REPO     the build's maven-repo/
#   VERSION  the version of zenthal to depend on
set(_project "${WORK}/project")
set(_local "${WORK}/m2")
file(REMOVE_RECURSE "${_project}" "${_local}/com/tarvik/lumora")
file(COPY "${SOURCE}/" DESTINATION "${_project}" PATTERN target EXCLUDE)
execute_process(
  COMMAND "${MVN}" --batch-mode --offline -Daether.offline.protocols=file
          --settings "${_project}/settings.xml" "-Dmaven.repo.local=${_local}"
          "-Dzenthal.repo=file://${REPO}" "-Dzenthal.version=${VERSION}"
          --file "${_project}/pom.xml" test
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
message("${out}")
message("${err}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the Maven consumer project failed (exit ${rc})")
endif()
