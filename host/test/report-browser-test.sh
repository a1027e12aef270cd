#!/usr/bin/env bash
# The demo's report in a real browser: headless Chromium opens report.html,
# takes a screenshot of the whole page, and the page's own check (written
# into it once it has loaded) must say that every image loaded and that no
# script error occurred. Exits 77, which the test counts as skipped, where
# Chromium is not installed.
#
# usage: report-browser-test.sh REPORT SCREENSHOT
set -u
if [ $# -ne 2 ]; then
    echo "usage: $0 REPORT SCREENSHOT" >&2
    exit 2
fi
report=$(realpath "$1")
shot=$2
# TOVIX_BROWSER names another Chromium-like browser (empty: none).
browser=${TOVIX_BROWSER-$(command -v chromium || command -v chromium-browser || true)}
if [ -z "$browser" ]; then
    echo "chromium is not installed: the report's browser check is skipped"
    exit 77
fi
if [ ! -f "$report" ]; then
    echo "FAIL: no report at $report"
    exit 1
fi
work=$(dirname "$shot")
mkdir -p "$work"
rm -f "$shot"
# A profile of its own in the work folder; no sandbox, since tests may run as root.
flags=(--headless=new --no-sandbox --disable-gpu --no-first-run --hide-scrollbars
       --user-data-dir="$work/chromium-profile")
timeout 120 "$browser" "${flags[@]}" --window-size=1280,6000 --screenshot="$shot" \
    "file://$report" >"$work/chromium-screenshot.log" 2>&1
timeout 120 "$browser" "${flags[@]}" --dump-dom "file://$report" \
    >"$work/report-dom.html" 2>"$work/chromium-dom.log"
rm -rf "$work/chromium-profile"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
if [ ! -s "$shot" ] || [ "$(head -c 8 "$shot" | od -An -tx1 | tr -d ' \n')" != 89504e470d0a1a0a ]; then
    fail "no PNG screenshot (see $work/chromium-screenshot.log)"
fi
images=$(grep -o '<img ' "$report" | wc -l)
check=$(grep -o 'id="page-check">[^<]*' "$work/report-dom.html" | sed 's/^id="page-check">//')
echo "report: $report ($images images)"
echo "browser: ${check:-no page check in the loaded page}"
echo "screenshot: $shot"
[ "$images" -gt 0 ] || fail "the report holds no images"
expected="page check: $images images, 0 not loaded; 0 script errors"
[ "$check" = "$expected" ] || fail "expected '$expected'"

[ $failures -eq 0 ] || exit 1
echo "report-browser-test: all checks passed"
