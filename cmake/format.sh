#!/bin/sh
# The project's C++ and Java in the layout of its .clang-format.
#   cmake/format.sh          formats every file in place (make format)
#   cmake/format.sh --check  changes nothing; names each place that would
#                            change and fails when there is one (a CTest check)
# CLANG_FORMAT names the program (default: clang-format).
set -eu
cd "$(dirname "$0")/.."
clang_format=${CLANG_FORMAT:-clang-format}

list_files() {
    find src sim quantizer tools bench tests host fuzz diag hostkit osdblock -type f \
        \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.java' \) -print0
}

if [ "${1:-}" = --check ]; then
    if ! list_files | xargs -0 "$clang_format" --dry-run --Werror; then
        echo "Some files are not formatted: run 'make format'." >&2
        exit 1
    fi
    echo "Every file is formatted."
else
    list_files | xargs -0 "$clang_format" -i
fi
