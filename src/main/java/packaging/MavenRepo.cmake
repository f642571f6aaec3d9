# Lays out the Maven repository that the build writes:
#   REPO/<group path>/ARTIFACT/VERSION/ARTIFACT-VERSION{.jar,.pom,-sources.jar,-javadoc.jar}
#   REPO/<group path>/ARTIFACT/maven-metadata.xml
# each file with the .sha1 and .sha256 of its bytes beside it, as a remote
# repository serves them and as Maven checks them when it downloads.
#   GROUP, ARTIFACT, VERSION   the coordinates
#   JAR, POM, SOURCES, JAVADOC the files to publish
string(REPLACE "." "/" _group_path "${GROUP}")
set(_artifact_dir "${REPO}/${_group_path}/${ARTIFACT}")
set(_dir "${_artifact_dir}/${VERSION}")
# Only this build's version: a changed version leaves no stale one listed.
file(REMOVE_RECURSE "${_artifact_dir}")
file(MAKE_DIRECTORY "${_dir}")

function(publish source name)
  file(COPY_FILE "${source}" "${name}")
  foreach(algorithm SHA1 SHA256)
    file(${algorithm} "${name}" _sum)
    string(TOLOWER "${algorithm}" _extension)
    file(WRITE "${name}.${_extension}" "${_sum}")
  endforeach()
endfunction()

set(_base "${_dir}/${ARTIFACT}-${VERSION}")
publish("${JAR}" "${_base}.jar")
publish("${POM}" "${_base}.pom")
publish("${SOURCES}" "${_base}-sources.jar")
publish("${JAVADOC}" "${_base}-javadoc.jar")

# lastUpdated follows SOURCE_DATE_EPOCH when it is set.
string(TIMESTAMP _updated "%Y%m%d%H%M%S" UTC)
file(WRITE "${REPO}/metadata.tmp" "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<metadata>
  <groupId>${GROUP}</groupId>
  <artifactId>${ARTIFACT}</artifactId>
  <versioning>
    <latest>${VERSION}</latest>
    <release>${VERSION}</release>
    <versions>
      <version>${VERSION}</version>
    </versions>
    <lastUpdated>${_updated}</lastUpdated>
  </versioning>
</metadata>
")
publish("${REPO}/metadata.tmp" "${_artifact_dir}/maven-metadata.xml")
file(REMOVE "${REPO}/metadata.tmp")
