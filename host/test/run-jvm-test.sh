#!/usr/bin/env bash
# Runs one JVM test program for CTest: in a clean scratch folder (the
# library writes its logs into the working directory), with the JVM's JNI
# checks on. Fails when the program fails or when the JVM printed any JNI
# warning, since -Xcheck:jni only warns and lets the program go on.
#
# usage: run-jvm-test.sh WORKDIR JAVA [JVM and program arguments...]
set -u
if [ $# -lt 2 ]; then
    echo "usage: $0 WORKDIR JAVA [arguments...]" >&2
    exit 2
fi
workdir=$1
java=$2
shift 2

rm -rf "$workdir"
mkdir -p "$workdir" || exit 2
cd "$workdir" || exit 2

"$java" -Xcheck:jni -Djava.awt.headless=true "$@" >jvm-output.txt 2>&1
status=$?
cat jvm-output.txt

# A JNI warning is followed by the Java stack of the native method that made
# the call. Warnings from our own natives (the host class, the simulated
# world's controls) fail the test; the JDK's own font code draws some too,
# and those are not ours to mend.
ours=$(awk '
    /WARNING|FATAL ERROR/ { pending = $0; next }
    pending != "" && /^[ \t]+at / {
        if ($0 ~ /org\.quencommunity\./) print pending
        pending = ""
    }
    END { if (pending != "") print pending }
' jvm-output.txt)
if [ -n "$ours" ]; then
    echo "run-jvm-test: the JVM reported JNI problems in our natives:" >&2
    echo "$ours" >&2
    exit 1
fi
if grep -q 'Exception in thread' jvm-output.txt; then
    echo "run-jvm-test: uncaught exception (see above)" >&2
    exit 1
fi
if [ $status -ne 0 ]; then
    echo "run-jvm-test: the program exited with status $status" >&2
    exit 1
fi
exit 0
