#!/usr/bin/env bash
# Runs the demo session from a build folder.
#
# usage: run-demo.sh BUILD_DIR [demo options...]
#
# The simulated card writes its OSD snapshots into the folder named by
# TOVIX_SIM_SNAPSHOTS, which a JVM cannot set for itself: this sets it to
# the snapshots folder inside the demo's output folder (--out, default
# demo-out). The library writes its logs into the current directory; the
# demo copies them into the output folder.
set -u
if [ $# -lt 1 ] || [ ! -d "$1/lib" ]; then
    echo "usage: $0 BUILD_DIR [demo options...]  (BUILD_DIR/lib holds the built library and jar)" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
shift

out=demo-out
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
    case ${args[i]} in
        --out) if ((i + 1 < ${#args[@]})); then out=${args[i + 1]}; fi ;;
        --out=*) out=${args[i]#--out=} ;;
    esac
done
case $out in
    /*) ;;
    *) out=$PWD/$out ;;
esac
export TOVIX_SIM_SNAPSHOTS=$out/snapshots

java=java
if [ -n "${JAVA_HOME:-}" ] && [ -x "$JAVA_HOME/bin/java" ]; then
    java=$JAVA_HOME/bin/java
fi
exec "$java" -Djava.awt.headless=true -Djava.library.path="$build/lib" \
    -cp "$build/lib/tovixhost.jar" org.quencommunity.tovix.demo.Demo "$@"
