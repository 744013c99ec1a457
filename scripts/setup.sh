#!/usr/bin/env bash
# Installs everything the build needs on Debian 12: the bookworm -dev packages and
# JUCE 8.0.6, fetched from Debian's archive (trixie) through a private apt
# configuration that leaves the system's own sources untouched.
# A second run skips what is already there.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cache="$root/.cache"
juce_version="8.0.6+ds-2"
juce_dir="$cache/juce-$juce_version"
patches_dir="$root/scripts/juce-patches"

packages=(g++ cmake ninja-build pkg-config ccache patch
          libfreetype-dev libfontconfig1-dev libpng-dev libjpeg-dev zlib1g-dev
          libx11-dev libxext-dev libxrender-dev libxrandr-dev libxinerama-dev libxcursor-dev
          libgtest-dev libflac-dev libvorbis-dev libogg-dev
          clang libclang-rt-14-dev
          xvfb xauth fonts-dejavu-core
          python3-pil python3-numpy python3-matplotlib
          lsp-plugins-lv2 lilv-utils)

say() { printf '[setup] %s\n' "$*"; }
die() { printf '[setup] error: %s\n' "$*" >&2; exit 1; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -eq 0 ]; then
        say "Debian packages: all present"
        return
    fi
    say "installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The mirror the system already uses for bookworm, read from its apt sources.
debian_mirror() {
    local uri=""
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        uri=$(awk '/^URIs:/ {u=$2} /^Suites:/ && / bookworm( |$)/ {print u; exit}' /etc/apt/sources.list.d/debian.sources)
    fi
    if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
        uri=$(awk '$1=="deb" && $0 ~ / bookworm / {for (i=2;i<=NF;i++) if ($i ~ /^(https?|ftp|file):/) {print $i; exit}}' /etc/apt/sources.list)
    fi
    [ -n "$uri" ] || die "cannot find the Debian mirror in the system's apt sources"
    printf '%s\n' "$uri"
}

# Our patches to the unpacked sources; the stamp names them, so a change re-unpacks JUCE.
patches_stamp() {
    cat "$patches_dir"/*.patch | sha256sum | cut -c1-16
}

fetch_juce() {
    local stamp="$juce_dir/.complete-$(patches_stamp)"
    if [ -f "$stamp" ]; then
        say "JUCE $juce_version: present"
        return
    fi
    local work="$cache/apt-trixie"
    rm -rf "$work" "$juce_dir"
    mkdir -p "$work/lists/partial" "$work/archives/partial" "$work/debs" "$juce_dir"
    local mirror
    mirror=$(debian_mirror)
    echo "deb $mirror trixie main" > "$work/sources.list"
    local opts=(-o "Dir::Etc::sourcelist=$work/sources.list" -o "Dir::Etc::sourceparts=/nonexistent"
                -o "Dir::State::Lists=$work/lists" -o "Dir::Cache::archives=$work/archives"
                -o "APT::Get::List-Cleanup=0" -o "Debug::NoLocking=1")
    say "fetching JUCE $juce_version from $mirror (trixie)"
    apt-get "${opts[@]}" update -qq || die "apt-get update of the trixie lists failed"
    (cd "$work/debs" && apt-get "${opts[@]}" download \
        "juce-modules-source=$juce_version" "juce-modules-source-data=$juce_version") \
        || die "JUCE $juce_version is not available from $mirror; the build needs exactly this version"
    (cd "$work/debs" && sha256sum -c - <<SUMS) || die "JUCE packages failed their checksum"
a57ea8fd7b7c9e213b04737c8f28cee7a4fdb0930fce16dae28f822965a5872e  juce-modules-source_8.0.6+ds-2_amd64.deb
ecc4a578b6927a59b7805839a955697242a4848a66fbe9ac99c9405cb7df3b91  juce-modules-source-data_8.0.6+ds-2_all.deb
SUMS
    for deb in "$work"/debs/*.deb; do
        dpkg-deb -x "$deb" "$juce_dir"
    done
    rm -rf "$work"
    for p in "$patches_dir"/*.patch; do
        patch -d "$juce_dir" -p1 --binary --forward --quiet < "$p" || die "patch $(basename "$p") does not apply"
    done
    touch "$stamp"
    say "JUCE unpacked into $juce_dir"
}

install_packages
fetch_juce
