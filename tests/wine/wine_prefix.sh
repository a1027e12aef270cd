# Sourced by the scripts that run Windows programs under Wine.
#
# wine_prefix <prefix> <what is skipped>: exits 77 (skipped) when Wine is not
# installed; otherwise points Wine at a fresh 32-bit prefix (no Mono or Gecko
# to install, no debug output) and ends its server when the script exits.
# wine_boot <log> then creates the prefix.
wine_prefix() {
    if ! command -v wine >/dev/null || ! command -v wineserver >/dev/null; then
        echo "wine is not installed: $2 is skipped"
        exit 77
    fi
    export WINEPREFIX=$1
    export WINEARCH=win32
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
    rm -rf "$WINEPREFIX"
}

wine_boot() {
    wineboot -i >"$1" 2>&1
}
