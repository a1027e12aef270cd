#!/usr/bin/env bash
# Runs the demo session from a build folder.
#
# usage: run-demo.sh BUILD_DIR [demo options...]
#
# The demo writes the simulated card's OSD snapshots itself, after each
# timed call, so that the card's PNG writing is not counted as the library's
# time: the card's own snapshots (TOVIX_SIM_SNAPSHOTS) are switched off. The
# library writes its logs into the current directory; the demo copies them
# into its output folder.
set -u
if [ $# -lt 1 ] || [ ! -d "$1/lib" ]; then
    echo "usage: $0 BUILD_DIR [demo options...]  (BUILD_DIR/lib holds the built library and jar)" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
shift
unset TOVIX_SIM_SNAPSHOTS

java=java
if [ -n "${JAVA_HOME:-}" ] && [ -x "$JAVA_HOME/bin/java" ]; then
    java=$JAVA_HOME/bin/java
fi
exec "$java" -Djava.awt.headless=true -Djava.library.path="$build/lib" \
    -Dtovix.demo.pictures="$build/lib/pictures" \
    -cp "$build/lib/tovixhost.jar" org.quencommunity.tovix.demo.Demo "$@"
