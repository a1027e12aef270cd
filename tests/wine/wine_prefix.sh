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

# The card's classes: decoder filter, OSD enumerator, shared source, demultiplexer.
wine_classes=({4E3ABD41-458E-11D1-917E-00001B4F006F} {8A29C1E7-EDA5-432D-B754-5E6C10E2A542}
              {C553F2C0-1529-11D0-B4D1-00805F6CBBEA} {ABD65DEA-5701-4F21-863B-591B057D2268})

# The demultiplexer's registration with the filter mapper, for graph building.
wine_demux_filter='HKCR\CLSID\{083863F1-70DE-11D0-BD40-00A0C911CE86}\Instance\{ABD65DEA-5701-4F21-863B-591B057D2268}'

# wine_register_card <windows build> registers its tovixsim.dll in the
# prefix and checks that every card class names it as an in-process server
# of both threading models, and that the filter mapper knows the
# demultiplexer.
wine_register_card() {
    wine regsvr32 /s "$1/bin/tovixsim.dll"
    local clsid server
    for clsid in "${wine_classes[@]}"; do
        server=$(wine reg query "HKCR\\CLSID\\$clsid\\InprocServer32" | tr -d '\r')
        if ! grep -q 'REG_SZ.*tovixsim\.dll$' <<<"$server" ||
            ! grep -q 'ThreadingModel *REG_SZ *Both$' <<<"$server"; then
            echo "regsvr32 left $clsid without its in-process server:"
            echo "$server"
            exit 1
        fi
    done
    if ! wine reg query "$wine_demux_filter" | tr -d '\r' | grep -q 'FriendlyName *REG_SZ *MPEG DeMux$'; then
        echo "regsvr32 left the demultiplexer unknown to the filter mapper"
        exit 1
    fi
    echo "tovixsim.dll registered in $WINEPREFIX"
}
