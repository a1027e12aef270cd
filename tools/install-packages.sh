#!/usr/bin/env bash
# Installs the Debian packages that a target needs and this machine lacks.
# When everything is present it costs one dpkg query and installs nothing.
#
# usage: tools/install-packages.sh demo|check
#   demo   the build tools, the libraries (FFmpeg's libavcodec and libswscale
#          among them: the simulated card decodes the video it shows, and
#          the demo's pictures are encoded with them), the JDK and a font (the
#          demo draws text): what `make demo` needs
#   check  also clang and its runtime (the fuzz targets), valgrind,
#          clang-format, mingw-w64 (the Windows DLLs), gcc-multilib and
#          g++-multilib (the DLL's quantiser as a 32-bit Linux program, for
#          make wine-bench), Wine's 32-bit build
#          (the Windows session), Chromium (the report's browser check),
#          ffmpeg (real streams for the media layer's tests) and Pillow (the
#          contestant of bench/compare.py):
#          what `make check` and `.ci/run` need
#
# Wine comes from the i386 archive, added when missing. Should Wine not
# install, the rest still does, and `make check` names the Wine session
# as skipped.
set -euo pipefail

demo=(cmake make g++ libpng-dev libgtest-dev libgmock-dev libbenchmark-dev
      libavcodec-dev libswscale-dev openjdk-17-jdk-headless fonts-dejavu-core)
check=("${demo[@]}" clang libclang-rt-14-dev valgrind clang-format python3
       python3-pil g++-mingw-w64-i686 gcc-multilib g++-multilib chromium ffmpeg)
wine=(wine wine32:i386)

case ${1:-} in
    demo) wanted=("${demo[@]}") ;;
    check) wanted=("${check[@]}" "${wine[@]}") ;;
    *)
        echo "usage: $0 demo|check" >&2
        exit 2
        ;;
esac

# Packages of the machine's own architecture are listed with or without an
# ":amd64"; a name asked for with its architecture must match with it.
declare -A installed=()
arch=$(dpkg --print-architecture)
while read -r name status; do
    if [ "${status:0:2}" = ii ]; then
        installed[$name]=1
        installed[${name%:"$arch"}]=1
    fi
done < <(dpkg-query -W -f='${binary:Package} ${db:Status-Abbrev}\n' "${wanted[@]}" 2>/dev/null || true)

missing=()
missing_wine=()
for p in "${wanted[@]}"; do
    [ -n "${installed[$p]:-}" ] && continue
    case " ${wine[*]} " in
        *" $p "*) missing_wine+=("$p") ;;
        *) missing+=("$p") ;;
    esac
done
if [ ${#missing[@]} -eq 0 ] && [ ${#missing_wine[@]} -eq 0 ]; then
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "install-packages: missing ${missing[*]} ${missing_wine[*]}; install them as root" >&2
        exit 1
    fi
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
echo "install-packages: installing ${missing[*]} ${missing_wine[*]}"
if [ ${#missing_wine[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
fi
"${sudo[@]}" apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ ${#missing_wine[@]} -gt 0 ]; then
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing_wine[@]}" ||
        echo "install-packages: Wine could not be installed: the Windows session will be skipped" >&2
fi
