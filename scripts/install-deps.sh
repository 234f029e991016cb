#!/usr/bin/env bash
# Installs what building and testing ovq needs on a Debian 12 machine (run as root).
#
#   scripts/install-deps.sh
#
# Idempotent: when every package is present and the ja_JP.UTF-8 locale exists it
# only checks (dpkg-query, a second or two) and touches nothing. Otherwise it adds
# the i386 architecture (32-bit Wine), runs apt-get update once and installs the
# missing packages without interaction. On a host that runs no 32-bit user code
# (scripts/host.sh) 32-bit Wine is left out: it could not start there.
set -euo pipefail
# Tools are read in the C locale, whatever the caller's (objdump, for one,
# translates its headers).
export LC_ALL=C.UTF-8
unset LANGUAGE
# shellcheck source=scripts/host.sh
. "$(dirname "$0")/host.sh"

PACKAGES=(
    # host build and unit tests (clang for the fuzzer and sanitizer builds)
    cmake make g++ clang libgtest-dev libgmock-dev
    # the layout and static checks of the sources
    clang-format clang-tidy
    # the Windows cross builds: 32-bit with MinGW GCC and with clang and lld,
    # 64-bit with MinGW GCC
    g++-mingw-w64-i686 lld g++-mingw-w64-x86-64
    # running the program: Wine (64-bit, and 32-bit below) on a private X server;
    # util-linux for setarch, which starts Wine without address randomization
    wine wine64 xvfb xdotool imagemagick x11-utils xxd util-linux
    # the checks of the built program: its manifest's XML
    libxml2-utils
    # Japanese ANSI code page (932) and glyphs inside Wine
    locales fonts-ipafont-gothic
    # Wine's own fonts: Wine draws the caption buttons of a window (the version
    # box's close button) with the Marlett font, and without it shows a letter
    # there (the close button an "r"); the pictures in docs/ show them
    fonts-wine
    # the release zip (release.sh): README.txt made from docs/using.md, packing
    # the zip, listing and unpacking it
    gawk zip unzip
    # the release's Windows Installer packages (installer/make-msi.sh): wixl,
    # msitools to read them back and fix their codes, faketime for their
    # dates; osslsigncode signs a release and checks signatures, openssl makes
    # the release test's throw-away certificate
    wixl msitools faketime osslsigncode openssl
)

if ovq_host_ia32; then
    PACKAGES+=(wine32:i386)
fi

log() { printf 'install-deps: %s\n' "$*" >&2; }

is_installed() {
    [[ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null)" == ii* ]]
}

have_ja_locale() {
    locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'
}

if [[ $(id -u) -ne 0 ]]; then
    SUDO=sudo
else
    SUDO=
fi

missing=()
for p in "${PACKAGES[@]}"; do
    is_installed "$p" || missing+=("$p")
done

if ((${#missing[@]})); then
    log "missing: ${missing[*]}"
    if [[ " ${missing[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        log "adding the i386 architecture"
        $SUDO dpkg --add-architecture i386
    fi
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

if ! have_ja_locale; then
    log "generating the ja_JP.UTF-8 locale"
    if grep -q '^[# ]*ja_JP\.UTF-8 UTF-8' /etc/locale.gen; then
        $SUDO sed -i 's/^[# ]*ja_JP\.UTF-8 UTF-8.*/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
    else
        echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    fi
    $SUDO locale-gen >/dev/null
    have_ja_locale || { log "ja_JP.UTF-8 locale still missing"; exit 1; }
fi

if ((${#missing[@]})); then
    log "done"
fi
exit 0
