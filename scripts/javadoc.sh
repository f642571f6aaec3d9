#!/bin/sh
# Builds the Javadoc of the public Java API into build/javadoc/index.html.
# Needs only a JDK: the sources are documented without building the library.
set -eu
cd "$(dirname "$0")/.."
rm -rf build/javadoc
javadoc -quiet -encoding UTF-8 -Xdoclint:all,-missing -d build/javadoc -sourcepath src/main/java \
  com.tarvik.lumora.Quorvex.zenthal
echo "Javadoc written to build/javadoc/index.html"
