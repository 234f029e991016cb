#!/usr/bin/env bash
# shellcheck shell=bash
# Wine environment for running and testing ovq: a Japanese (code page 932)
# prefix under build/, 32-bit or 64-bit, an X display, a long-lived wineserver
# and a keeper window.
#
# Source it:   OVQ_WINE_STATE=<dir> . scripts/wine-env.sh      (default build/wine/run)
#   ovq_env_up [probe.exe]    display, prefix (created once), persistent wineserver,
#                             and the keeper when probe.exe is given; reuses what runs
#   ovq_env_stop [probe.exe]  stop the keeper, the wineserver and the private Xvfb
# or run it:   scripts/wine-env.sh up|stop|status [probe.exe]
#
# Everything it starts is recorded in the state directory ($OVQ_WINE_STATE):
#   prefix/             the Wine prefix (virtual desktop "shell" set in its registry,
#                       so a plain `wine prog.exe` runs inside it and `wine` returns
#                       the program's exit code, low 8 bits)
#   bin/wine            the Wine loader of the prefix's kind, started with address
#                       randomization off (see ovq_loader_setup) and the locale
#                       OVQ_WINE_LOCALE (ja_JP.UTF-8 unless given); it comes first on
#                       PATH, so every `wine` of a script and of Wine's own helpers uses it
#   xvfb.display/.pid   the private X server, reused while it is alive
#   wineserver.pid      the persistent wineserver (started first, so no Wine helper
#                       process ever inherits a caller's stdout/stderr)
#   keeper.pid          a probe.exe window that keeps the virtual desktop and its
#                       taskbar up between programs
#   kind                win32 or win64: the kind the directory was set up for; a
#                       run of the other kind leaves it alone (ovq_state_claim)
#   *.log               their output
# Background processes are started with setsid, stdin from /dev/null and output to
# the logs, and are stopped by their recorded ids.
#
# Settings read from the environment:
#   OVQ_WINE_STATE        state directory (default <repo>/build/wine/run)
#   OVQ_WINE_ARCH         win32 (default): a 32-bit prefix and Wine's 32-bit loader;
#                         win64: a 64-bit prefix and the 64-bit loader, which runs
#                         64-bit programs, and 32-bit ones too where the host runs
#                         i386 code (scripts/host.sh knows which loaders start)
#   OVQ_USE_HOST_DISPLAY  1: use $DISPLAY when it works (run.sh); 0: always a private Xvfb
#   OVQ_DESKTOP_SIZE      virtual desktop size (default 800x600)
#   OVQ_SCREEN_SIZE       private Xvfb screen (default 1024x768x24)
#   OVQ_WINE_LOCALE       the locale of the Wine programs started (default ja_JP.UTF-8,
#                         code page 932); set for one program to start it in another

OVQ_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OVQ_WINE_STATE=${OVQ_WINE_STATE:-$OVQ_ROOT/build/wine/run}
OVQ_WINE_ARCH=${OVQ_WINE_ARCH:-win32}
OVQ_USE_HOST_DISPLAY=${OVQ_USE_HOST_DISPLAY:-0}
OVQ_DESKTOP_SIZE=${OVQ_DESKTOP_SIZE:-800x600}
OVQ_SCREEN_SIZE=${OVQ_SCREEN_SIZE:-1024x768x24}
# Raised whenever ovq_prefix_init changes what it sets up: older prefixes are redone.
OVQ_PREFIX_VERSION="prefix-settings 5 $OVQ_WINE_ARCH desktop shell $OVQ_DESKTOP_SIZE marlett"

export WINEPREFIX="$OVQ_WINE_STATE/prefix"
export WINEARCH=$OVQ_WINE_ARCH
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# The Wine programs started from here run Japanese (code page 932): the
# loader script (bin/wine) gives each the locale OVQ_WINE_LOCALE, ja_JP.UTF-8
# unless a caller names another for one program (`OVQ_WINE_LOCALE=C.UTF-8 wine
# ...`). The scripts themselves keep the C locale their callers gave them, in
# which they read their tools' output.
export PATH="$OVQ_WINE_STATE/bin:$PATH"

# shellcheck source=scripts/host.sh
. "$OVQ_ROOT/scripts/host.sh"

ovq_log() { printf 'wine-env: %s\n' "$*" >&2; }

# ovq_read FILE: the file's content, nothing when it does not exist.
ovq_read() { cat "$1" 2>/dev/null || true; }

# ovq_ms: milliseconds since the epoch (for deadlines and timings).
ovq_ms() { date +%s%3N; }

# ovq_pid_alive PID NAME: PID runs and its command line mentions NAME (guards
# against a recorded id that has been reused by another process).
ovq_pid_alive() {
    local pid=$1 name=$2
    [[ -n $pid && $pid =~ ^[0-9]+$ ]] || return 1
    kill -0 "$pid" 2>/dev/null || return 1
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qi -- "$name"
}

# ovq_wait_pid_gone PID MS: polls until PID has ended; 1 at the deadline.
ovq_wait_pid_gone() {
    local pid=$1 deadline=$(($(ovq_ms) + $2))
    while kill -0 "$pid" 2>/dev/null; do
        # a zombie child of this shell counts as gone
        [[ $(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) == Z ]] && return 0
        (($(ovq_ms) >= deadline)) && return 1
        sleep 0.05
    done
    return 0
}

# ovq_stop_pid PID NAME: TERM, then KILL after 5 s, only if PID is still NAME.
ovq_stop_pid() {
    local pid=$1 name=$2
    ovq_pid_alive "$pid" "$name" || return 0
    kill -TERM "$pid" 2>/dev/null || true
    ovq_wait_pid_gone "$pid" 5000 && return 0
    kill -KILL "$pid" 2>/dev/null || true
    ovq_wait_pid_gone "$pid" 2000
}

# ovq_loader_setup: bin/wine, the loader for this prefix's kind. /usr/bin/wine
# would start the 32-bit loader whenever 32-bit Wine is installed, even for a
# 64-bit program and where it cannot start; a symbolic link to the 64-bit loader
# fails ("could not exec the wine loader"), a script that execs it works. It
# gives the program its locale, which sets Wine's code page: Japanese (932)
# unless the caller names another in OVQ_WINE_LOCALE.
#
# The loader runs under `setarch -R`: no address randomization, for it and for
# every process Wine starts from it. Debian's Wine has no preloader, so nothing
# reserves the address of the shared user data (0x7ffe0000) before the loader
# starts, and the loader is a fixed-address program at 0x7d000000 whose heap
# (brk) the kernel puts at a random place up to 1 GiB above it. About one start
# in 8,000 of the 64-bit loader finds its heap over that address; Wine then ends
# the process with exit code 1 before the program's first instruction, and says
# why only on its err channel ("failed to map the shared user data: c0000018"),
# which WINEDEBUG=-all hides: a probe that prints nothing and did nothing, or an
# ovq.exe that never ran. Without randomization the heap starts right after the
# loader, 47 MiB below that address.
ovq_loader_setup() {
    ovq_state_claim || return 1
    if ! ovq_host_loader "$OVQ_WINE_ARCH"; then
        ovq_log "$OVQ_HOST_NO_WINE_WHY"
        return 1
    fi
    ovq_require_tools setarch || return 1
    local script
    script=$(printf '#!/bin/sh\nexec env LANG="${OVQ_WINE_LOCALE:-ja_JP.UTF-8}" LC_ALL="${OVQ_WINE_LOCALE:-ja_JP.UTF-8}" setarch -R %s "$@"\n' "$OVQ_LOADER")
    if [[ $(ovq_read "$OVQ_WINE_STATE/bin/wine") != "$script" ]]; then
        mkdir -p "$OVQ_WINE_STATE/bin"
        # A new file renamed over the old one: a `wine` starting meanwhile runs
        # the one or the other, never a half-written script.
        printf '%s\n' "$script" >"$OVQ_WINE_STATE/bin/wine.new"
        chmod +x "$OVQ_WINE_STATE/bin/wine.new"
        mv -f "$OVQ_WINE_STATE/bin/wine.new" "$OVQ_WINE_STATE/bin/wine"
    fi
}

# ovq_state_claim: the state directory is this kind's (OVQ_WINE_ARCH), or is
# made this kind's. A state directory belongs to the kind it was first set up
# for (its file kind; older ones say it in prefix.ready): one of another kind is
# never touched, since its prefix, its loader and its wineserver belong to
# another suite or another run. The caller is told to give this run a state
# directory of its own.
ovq_state_claim() {
    local kind
    kind=$(ovq_read "$OVQ_WINE_STATE/kind")
    if [[ -z $kind ]]; then
        kind=$(sed -n '1s/^prefix-settings [0-9]* \(win32\|win64\) .*/\1/p' "$OVQ_WINE_STATE/prefix.ready" 2>/dev/null)
    fi
    if [[ -n $kind && $kind != "$OVQ_WINE_ARCH" ]]; then
        ovq_log "$OVQ_WINE_STATE is set up for $kind, not $OVQ_WINE_ARCH: left as it is;" \
            "give this $OVQ_WINE_ARCH run a state directory of its own (OVQ_WINE_STATE)"
        return 1
    fi
    if [[ -z $(ovq_read "$OVQ_WINE_STATE/kind") ]]; then
        mkdir -p "$OVQ_WINE_STATE" && echo "$OVQ_WINE_ARCH" >"$OVQ_WINE_STATE/kind"
    fi
}

ovq_require_tools() {
    local missing=() t
    for t in "$@"; do
        command -v "$t" >/dev/null 2>&1 || missing+=("$t")
    done
    if ((${#missing[@]})); then
        ovq_log "missing tools: ${missing[*]} (run scripts/install-deps.sh)"
        return 1
    fi
}

ovq_display_works() { [[ -n ${1:-} ]] && xdpyinfo -display "$1" >/dev/null 2>&1; }

# ovq_xvfb_start: a private Xvfb, reused while the recorded one is alive; exports DISPLAY.
ovq_xvfb_start() {
    ovq_require_tools Xvfb xdpyinfo || return 1
    mkdir -p "$OVQ_WINE_STATE"
    local pid display
    pid=$(ovq_read "$OVQ_WINE_STATE/xvfb.pid")
    display=$(ovq_read "$OVQ_WINE_STATE/xvfb.display")
    if ovq_pid_alive "$pid" Xvfb && ovq_display_works ":$display"; then
        export DISPLAY=":$display"
        return 0
    fi
    rm -f "$OVQ_WINE_STATE/xvfb.pid" "$OVQ_WINE_STATE/xvfb.display"
    : >"$OVQ_WINE_STATE/xvfb.display"
    setsid Xvfb -displayfd 3 -screen 0 "$OVQ_SCREEN_SIZE" -nolisten tcp \
        3>"$OVQ_WINE_STATE/xvfb.display" </dev/null >"$OVQ_WINE_STATE/xvfb.log" 2>&1 &
    pid=$!
    local deadline=$(($(ovq_ms) + 15000))
    until display=$(tr -dc '0-9' <"$OVQ_WINE_STATE/xvfb.display") && [[ -n $display ]]; do
        if ! kill -0 "$pid" 2>/dev/null || (($(ovq_ms) >= deadline)); then
            ovq_log "Xvfb did not start (see $OVQ_WINE_STATE/xvfb.log)"
            kill "$pid" 2>/dev/null || true
            return 1
        fi
        sleep 0.05
    done
    echo "$pid" >"$OVQ_WINE_STATE/xvfb.pid"
    echo "$display" >"$OVQ_WINE_STATE/xvfb.display"
    export DISPLAY=":$display"
}

# ovq_display_up: the caller's $DISPLAY when allowed and working, else the private
# Xvfb; OVQ_DISPLAY_KIND tells the caller which (host or xvfb).
# shellcheck disable=SC2034
ovq_display_up() {
    if [[ $OVQ_USE_HOST_DISPLAY == 1 ]] && ovq_display_works "${DISPLAY:-}"; then
        OVQ_DISPLAY_KIND=host
        return 0
    fi
    OVQ_DISPLAY_KIND=xvfb
    ovq_xvfb_start
}

# ovq_server_socket_inode SERVER-DIR-NAME: inode of the prefix's wineserver socket.
# Upstream Wine keeps it in /tmp/.wine-UID; Debian's in a private directory under
# $TMPDIR whose name the server writes to $WINEPREFIX/wineserver.
ovq_server_socket_inode() {
    local socket private
    private=$(ovq_read "$WINEPREFIX/wineserver")
    for socket in "/tmp/.wine-$(id -u)/$1/socket" ${private:+"${TMPDIR:-/tmp}/$private/$1/socket"}; do
        if [[ -S $socket ]]; then
            stat -c %i "$socket"
            return 0
        fi
    done
}

# ovq_server_up LOG ARGS...: starts `wineserver -f ARGS` for the prefix, in the
# background with its output in LOG, and waits until it serves: until it has
# made its socket (server-DEV-INODE names the prefix; a socket left by an
# earlier server is replaced, so a new inode means this one is up). A Wine
# program started before that would start a server of its own beside it, and
# the two would fight over the prefix's temporary directory (Debian's wineserver
# then exits with "fixed a temporary directory error, please try running the
# same command again"). Sets OVQ_SERVER_PID. Returns 0 when it serves, 1 when it
# ended first (another wineserver already serves the prefix), 2 when it shows
# no socket within 30 s.
ovq_server_up() {
    local log=$1 server dev ino before deadline=$(($(ovq_ms) + 30000))
    shift
    read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX")
    server=$(printf 'server-%x-%x' "$dev" "$ino")
    before=$(ovq_server_socket_inode "$server")
    setsid env LANG="${OVQ_WINE_LOCALE:-ja_JP.UTF-8}" LC_ALL="${OVQ_WINE_LOCALE:-ja_JP.UTF-8}" wineserver -f "$@" \
        </dev/null >"$log" 2>&1 &
    OVQ_SERVER_PID=$!
    until [[ -n $(ovq_server_socket_inode "$server") && $(ovq_server_socket_inode "$server") != "$before" ]]; do
        if ovq_wait_pid_gone "$OVQ_SERVER_PID" 0; then
            wait "$OVQ_SERVER_PID" 2>/dev/null || true
            return 1
        fi
        if (($(ovq_ms) >= deadline)); then
            ovq_log "the wineserver shows no socket after 30 s (see $log)"
            return 2
        fi
        sleep 0.02
    done
}

# ovq_wineserver_start: a persistent wineserver for the prefix, started before any
# Wine program so that the helper processes it serves never hold a caller's pipes.
# Another wineserver already serving this prefix (e.g. one started by run.sh)
# makes ours exit at once; that one is then used as it is.
ovq_wineserver_start() {
    ovq_require_tools wine wineserver || return 1
    mkdir -p "$WINEPREFIX"
    local pid rc=0
    pid=$(ovq_read "$OVQ_WINE_STATE/wineserver.pid")
    if ovq_pid_alive "$pid" wineserver; then
        return 0
    fi
    ovq_server_up "$OVQ_WINE_STATE/wineserver.log" -p || rc=$?
    if ((rc == 1)); then
        ovq_log "using the wineserver that already serves $WINEPREFIX"
        rm -f "$OVQ_WINE_STATE/wineserver.pid"
        return 0
    fi
    echo "$OVQ_SERVER_PID" >"$OVQ_WINE_STATE/wineserver.pid"
    return $rc
}

# ovq_wine_data_dir: Wine's data directory (its fonts/ and nls/), as Wine names
# it to its programs (WINEDATADIR, "\??\Z:\usr\share\wine"), as a Unix path.
ovq_wine_data_dir() {
    local dir
    dir=$(wine cmd.exe /c echo %WINEDATADIR% </dev/null 2>/dev/null | tr -d '\r\n')
    dir=${dir#\\??\\}
    [[ $dir == [Zz]:\\* ]] || return 1
    dir=${dir:2}
    printf '%s\n' "${dir//\\//}"
}

# ovq_prefix_init: creates the prefix once and sets the virtual desktop.
# The first session runs on a wineserver of its own that ends with its last
# client: the registry is then saved, and the desktop made by wineboot (not yet
# a virtual one) is gone before any later program starts.
ovq_prefix_init() {
    ovq_loader_setup || return 1
    local marker="$OVQ_WINE_STATE/prefix.ready"
    if [[ -f $WINEPREFIX/system.reg ]] && grep -qx "$OVQ_PREFIX_VERSION" "$marker" 2>/dev/null; then
        return 0
    fi
    ovq_require_tools wine wineserver || return 1
    ovq_wineserver_stop
    # A prefix of older settings is made anew (one of the other kind is never
    # reached here: ovq_state_claim refused it).
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    local start log="$OVQ_WINE_STATE/wineboot.log" pid
    start=$(ovq_ms)
    ovq_log "creating the Wine prefix $WINEPREFIX"
    if ! ovq_server_up "$OVQ_WINE_STATE/wineserver-first.log" -p0; then
        ovq_log "the first wineserver of the new prefix did not come up (see $OVQ_WINE_STATE/wineserver-first.log)"
        ovq_stop_pid "$OVQ_SERVER_PID" wineserver
        return 1
    fi
    pid=$OVQ_SERVER_PID
    if ! wine wineboot.exe -i </dev/null >"$log" 2>&1; then
        ovq_log "wineboot failed (see $log)"
        return 1
    fi
    # Every program runs in the virtual desktop named "shell"; Wine's explorer
    # gives a desktop of that name a taskbar with the notification area.
    if ! wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f </dev/null >>"$log" 2>&1 ||
        ! wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d "$OVQ_DESKTOP_SIZE" /f \
            </dev/null >>"$log" 2>&1; then
        ovq_log "could not set the virtual desktop (see $log)"
        return 1
    fi
    # Wine draws the caption buttons of a window (the version box's close
    # button, an x) as characters of the Marlett font, and without it as
    # letters (the close button an "r"). Debian ships the font in Wine's data
    # directory (fonts-wine), from which its Wine loads only the bitmap fonts
    # it looks up by name; listed with its full path in the system's font list,
    # as any font outside the Fonts folder is, Marlett is loaded too.
    local data
    data=$(ovq_wine_data_dir) || data=
    if [[ ! -f $data/fonts/marlett.ttf ]]; then
        ovq_log "Wine's Marlett font is missing (${data:-the Wine data directory}/fonts/marlett.ttf;" \
            "package fonts-wine, scripts/install-deps.sh): caption buttons would show letters"
        return 1
    fi
    if ! wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts' /v 'Marlett (TrueType)' \
        /d "$(ovq_wine_path "$data/fonts/marlett.ttf")" /f </dev/null >>"$log" 2>&1; then
        ovq_log "could not list the Marlett font (see $log)"
        return 1
    fi
    if ! ovq_wait_pid_gone "$pid" 60000; then
        ovq_log "the first wineserver did not end (see $log)"
        ovq_stop_pid "$pid" wineserver
        return 1
    fi
    wait "$pid" 2>/dev/null || true
    printf '%s\ncreated in %s ms\n' "$OVQ_PREFIX_VERSION" "$(($(ovq_ms) - start))" >"$marker"
    ovq_log "prefix ready after $(($(ovq_ms) - start)) ms"
}

# ovq_wine_path FILE: the Windows path of a Linux file (Z: maps /).
ovq_wine_path() {
    local path
    path=$(realpath "$1")
    printf 'Z:%s' "${path//\//\\}"
}

# ovq_keeper_start PROBE_EXE: a probe window that keeps the virtual desktop up.
ovq_keeper_start() {
    local probe=$1 pid
    pid=$(ovq_read "$OVQ_WINE_STATE/keeper.pid")
    if ovq_pid_alive "$pid" probe; then
        return 0
    fi
    : >"$OVQ_WINE_STATE/keeper.log"
    setsid wine "$probe" keeper </dev/null >"$OVQ_WINE_STATE/keeper.log" 2>&1 &
    pid=$!
    echo "$pid" >"$OVQ_WINE_STATE/keeper.pid"
    local deadline=$(($(ovq_ms) + 60000))
    until grep -q '^ready' "$OVQ_WINE_STATE/keeper.log"; do
        if ! kill -0 "$pid" 2>/dev/null || (($(ovq_ms) >= deadline)); then
            ovq_log "keeper did not start (see $OVQ_WINE_STATE/keeper.log)"
            ovq_stop_pid "$pid" probe
            rm -f "$OVQ_WINE_STATE/keeper.pid"
            return 1
        fi
        sleep 0.05
    done
}

ovq_keeper_stop() {
    local probe=${1:-} pid
    pid=$(ovq_read "$OVQ_WINE_STATE/keeper.pid")
    rm -f "$OVQ_WINE_STATE/keeper.pid"
    ovq_pid_alive "$pid" probe || return 0
    if [[ -n $probe ]]; then
        wine "$probe" stop-keeper </dev/null >/dev/null 2>&1 || true
        ovq_wait_pid_gone "$pid" 5000 && return 0
    fi
    ovq_stop_pid "$pid" probe
}

ovq_wineserver_stop() {
    local pid
    pid=$(ovq_read "$OVQ_WINE_STATE/wineserver.pid")
    rm -f "$OVQ_WINE_STATE/wineserver.pid"
    if [[ -d $WINEPREFIX ]] && command -v wineserver >/dev/null; then
        wineserver -k </dev/null >/dev/null 2>&1 || true
    fi
    if ovq_pid_alive "$pid" wineserver; then
        ovq_wait_pid_gone "$pid" 5000 || ovq_stop_pid "$pid" wineserver
    fi
}

ovq_xvfb_stop() {
    local pid
    pid=$(ovq_read "$OVQ_WINE_STATE/xvfb.pid")
    rm -f "$OVQ_WINE_STATE/xvfb.pid" "$OVQ_WINE_STATE/xvfb.display"
    ovq_stop_pid "$pid" Xvfb
}

# ovq_env_up [PROBE_EXE]: everything a Wine program of ovq needs.
ovq_env_up() {
    ovq_display_up && ovq_prefix_init && ovq_wineserver_start || return 1
    if [[ -n ${1:-} ]]; then
        ovq_keeper_start "$1" || return 1
    fi
}

# ovq_env_stop [PROBE_EXE]: stops what ovq_env_up started, by the recorded ids.
ovq_env_stop() {
    ovq_keeper_stop "${1:-}"
    ovq_wineserver_stop
    ovq_xvfb_stop
}

ovq_env_status() {
    local f
    echo "state=$OVQ_WINE_STATE"
    echo "prefix=$WINEPREFIX ($OVQ_WINE_ARCH)"
    for f in xvfb wineserver keeper; do
        local pid
        pid=$(ovq_read "$OVQ_WINE_STATE/$f.pid")
        if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then
            echo "$f=running pid $pid"
        else
            echo "$f=stopped"
        fi
    done
    [[ -s $OVQ_WINE_STATE/xvfb.display ]] && echo "display=:$(cat "$OVQ_WINE_STATE/xvfb.display")"
    return 0
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    set -u
    case "${1:-}" in
    up) ovq_env_up "${2:-}" && echo "DISPLAY=$DISPLAY" ;;
    stop) ovq_env_stop "${2:-}" ;;
    status) ovq_env_status ;;
    *)
        echo "usage: $0 up|stop|status [probe.exe]" >&2
        exit 2
        ;;
    esac
fi
