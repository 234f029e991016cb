#!/usr/bin/env bash
# Pictures of the real ovq.exe under Wine, for the README:
#
#   scripts/screenshots.sh [output-dir]          (default docs/)
#
# writes, cropped from screenshots of the private Xvfb:
#   tray-menu.png         the icon in the taskbar's notification area with its menu
#                         open (opened by a real right click), permit item unchecked
#   tray-menu-permit.png  the same crop after `ovq.exe -s` (a second launch): checked
#   version-box.png       the version box, chosen from that menu, cropped to the box
# The pictures are replaced only when all three were made.
#
# Pictures the 32-bit build where the host runs i386 code and the 64-bit one where
# it does not (scripts/host.sh; OVQ_WINE_ARCH=win32|win64 chooses, as the Wine
# tests do); the first line of output says which. Installs what is missing and
# builds that preset first, as run.sh does; OVQ_BUILD_DIR (default build/<preset>)
# and OVQ_SKIP_BUILD=1 use a build made elsewhere.
# Wine: the environment recorded in $OVQ_WINE_STATE (default build/screenshots/wine,
# or wine-win64),
# reused where it runs (the Wine tests hand over theirs) and brought up where not;
# at the end it stops only what it started itself. It ends the ovq it started and
# waits until the icon has left the notification area; an ovq that already runs in
# the prefix is not touched: the script fails instead.
# Working files go to $OVQ_SHOTS_LOG (default build/screenshots/log): the full
# screenshots, the probe's log, and screenshots.txt, the places (WxH+X+Y on the X
# screen) of the crops, the icon, the menus, the box and its OK button, against
# which tests/wine/screenshots.sh checks the pictures.
set -euo pipefail
# Tools are read in the C locale, whatever the caller's (objdump, for one,
# translates its headers).
export LC_ALL=C.UTF-8
unset LANGUAGE

ROOT=$(cd "$(dirname "$0")/.." && pwd)
say() { printf 'screenshots.sh: %s\n' "$*" >&2; }

# shellcheck source=scripts/host.sh
. "$ROOT/scripts/host.sh"
if [[ -n ${OVQ_WINE_ARCH:-} ]]; then
    why="as OVQ_WINE_ARCH asks"
else
    ovq_host_flavour
    OVQ_WINE_ARCH=$OVQ_HOST_FLAVOUR why=$OVQ_HOST_FLAVOUR_WHY
fi
export OVQ_WINE_ARCH
say "pictures of the $OVQ_WINE_ARCH build: $why"
OUT_DIR=${1:-$ROOT/docs}
BUILD_DIR=${OVQ_BUILD_DIR:-$ROOT/build/$OVQ_WINE_ARCH}
state=wine
[[ $OVQ_WINE_ARCH == win64 ]] && state=wine-win64
export OVQ_WINE_STATE=${OVQ_WINE_STATE:-$ROOT/build/screenshots/$state}
# Always the private Xvfb: the same screen and desktop give the same pictures.
export OVQ_USE_HOST_DISPLAY=0
LOG_DIR=${OVQ_SHOTS_LOG:-$ROOT/build/screenshots/log}

if [[ ${OVQ_SKIP_BUILD:-0} != 1 ]]; then
    "$ROOT/scripts/install-deps.sh"
    "$ROOT/scripts/build-windows.sh" "$OVQ_WINE_ARCH" "$ROOT/build/screenshots-build.log"
fi
if ! ovq_host_loader "$OVQ_WINE_ARCH"; then
    say "ovq cannot run here: $OVQ_HOST_NO_WINE_WHY"
    exit 2
fi
OVQ_EXE="$BUILD_DIR/ovq.exe"
PROBE_EXE="$BUILD_DIR/probe.exe"
for f in "$OVQ_EXE" "$PROBE_EXE"; do
    [[ -f $f ]] || { say "missing $f"; exit 2; }
done
OVQ_EXE=$(realpath "$OVQ_EXE")
PROBE_EXE=$(realpath "$PROBE_EXE")

# The tests' helpers drive ovq here as they do there: probe, ovq_start_first,
# ovq_run_second, and tray-lib.sh's way of finding the icon by its colours.
# shellcheck source=tests/wine/lib.sh
. "$ROOT/tests/wine/lib.sh"
# shellcheck source=tests/wine/tray-lib.sh
. "$ROOT/tests/wine/tray-lib.sh"
# shellcheck source=scripts/wine-env.sh
. "$ROOT/scripts/wine-env.sh"
set -euo pipefail
WT_DIR=$LOG_DIR
rm -rf "$WT_DIR"
mkdir -p "$WT_DIR" "$OUT_DIR"
RECORD="$WT_DIR/screenshots.txt"
: >"$RECORD"

ovq_require_tools wine wineserver Xvfb xdpyinfo import convert identify xdotool xwininfo ||
    { say "tools are missing"; exit 2; }

# What runs already is someone else's and stays; what this run starts, it stops.
own_xvfb=1 own_server=1 own_keeper=1
ovq_pid_alive "$(ovq_read "$OVQ_WINE_STATE/xvfb.pid")" Xvfb && own_xvfb=0
ovq_pid_alive "$(ovq_read "$OVQ_WINE_STATE/wineserver.pid")" wineserver && own_server=0
ovq_pid_alive "$(ovq_read "$OVQ_WINE_STATE/keeper.pid")" probe && own_keeper=0

on_exit() {
    local rc=$? pid
    set +e
    for pid in "${WT_PIDS[@]}"; do
        ovq_end "$pid"
    done
    ((rc != 0)) && wt_shot failure
    ((own_keeper)) && ovq_keeper_stop "$PROBE_EXE"
    ((own_server)) && ovq_wineserver_stop
    ((own_xvfb)) && ovq_xvfb_stop
    rm -f "$WT_DIR"/.*.png
    if ((rc != 0)); then
        say "FAILED (logs and screenshots in $WT_DIR)"
        [[ -f $WT_DIR/probe.log ]] && tail -n 20 "$WT_DIR/probe.log" >&2
    fi
    exit "$rc"
}
trap on_exit EXIT
# a timeout's TERM, or ^C, still ends ovq and what was started
trap 'exit 143' TERM
trap 'exit 130' INT

ovq_env_up "$PROBE_EXE" || wt_die "the Wine environment did not come up"
say "DISPLAY=$DISPLAY WINEPREFIX=$WINEPREFIX"
probe wait-gone 0 || wt_die "an ovq already runs in $WINEPREFIX; end it first (it is not ours to close)"

# geom W H X Y: an ImageMagick geometry.
geom() { printf '%dx%d+%d+%d' "$1" "$2" "$3" "$4"; }

# rect_geom "L,T,R,B": a rectangle on the virtual desktop (probe) as a geometry on
# the X screen.
rect_geom() {
    local l t r b
    IFS=, read -r l t r b <<<"$1"
    [[ $l =~ ^-?[0-9]+$ && $t =~ ^-?[0-9]+$ && $r =~ ^-?[0-9]+$ && $b =~ ^-?[0-9]+$ ]] || return 1
    ((r > l && b > t)) || return 1
    geom $((r - l)) $((b - t)) $((TRAY_OX + l)) $((TRAY_OY + t))
}

record() { printf '%s=%s\n' "$1" "$2" >>"$RECORD"; }

# pixels_of FILE GEOM: the raw pixels of that part of FILE, as a checksum.
pixels_of() { convert "$1" -crop "$2" +repage rgb:- | md5sum | cut -d' ' -f1; }

# shot_settled NAME GEOM: screenshots until GEOM shows the same pixels on three
# shots spanning at least 300 ms (a menu or box paints after it is shown); keeps
# the last as NAME-full.png.
shot_settled() {
    local name=$1 area=$2 img="$WT_DIR/.settle.png" last='' sum run=0 since=0 now
    local deadline=$(($(ovq_ms) + 5000))
    while :; do
        tray_shot "$img" || wt_die "no screenshot"
        sum=$(pixels_of "$img" "$area")
        now=$(ovq_ms)
        if [[ $sum == "$last" ]]; then
            if ((++run >= 2 && now - since >= 300)); then
                mv "$img" "$WT_DIR/$name-full.png"
                return 0
            fi
        else
            last=$sum run=0 since=$now
        fi
        ((now < deadline)) || wt_die "$name: the screen does not settle within 5 s"
        sleep 0.1
    done
}

# crop NAME GEOM: NAME.png in the working directory from NAME-full.png; -strip
# leaves out the time stamps, so equal pixels give equal files.
crop() {
    convert "$WT_DIR/$1-full.png" -crop "$2" +repage -strip "$WT_DIR/$1.png" ||
        wt_die "cannot crop $1"
}

# open_menu: a real right click on the icon; MENU_RECT is the menu's place.
open_menu() {
    tray_mouse_away
    tray_click 3
    probe wait-menu 3000 || wt_die "no menu after a click on the icon"
    MENU_RECT=$(rect_geom "$(kv rect)") || wt_die "no menu rectangle from the probe"
    # The pointer resting on the icon brings up its tooltip over the menu; away
    # from the icon (and the menu, whose items it would highlight) the tip goes.
    tray_mouse_away
    probe wait-class-gone tooltips_class32 3000 || wt_die "the icon's tooltip stays up"
}

# choose_from_menu KEY: posts KEY to the open menu. Now and then, about one run
# in ten here, Wine closes the popup menu on its own a moment after the
# capture, and the post finds the window gone; the menu is then opened again
# and the key posted again, three times at most.
choose_from_menu() {
    local try
    for try in 1 2 3; do
        probe menu-key "$1" && return 0
        say "the menu was gone before $1 reached it (try $try); opening it again"
        probe wait-menu-gone 3000 || wt_die "a menu that took no key stays open"
        open_menu
    done
    wt_die "cannot post $1 to the menu"
}

# close_menu: Escape to the menu; one that has closed on its own meanwhile
# needs none.
close_menu() {
    probe menu-key escape || say "the menu had closed before Escape reached it"
    probe wait-menu-gone 3000 || wt_die "the menu stays open after Escape"
}

# ---- the icon, before and after ovq starts ----

tray_locate
tray_mouse_away
tray_baseline
((TRAY_BASE_YELLOW <= 2 && TRAY_BASE_BLUE <= 2)) ||
    wt_die "the notification area shows the icon's colours before ovq starts"
record desktop "$(geom "${OVQ_DESKTOP_SIZE%x*}" "${OVQ_DESKTOP_SIZE#*x}" "$TRAY_OX" "$TRAY_OY")"
record small_icon "${TRAY_SMALL_CX}x$TRAY_SMALL_CY"
record tray_area "$TRAY_AREA"

ovq_start_first
tray_wait_state one 10000 tray-icon || wt_die "ovq's icon is not shown once ($TRAY_STATE)"
record icon "$TRAY_BOX"
ICON_BOX=$TRAY_BOX

# ---- the menu, permit item unchecked ----

open_menu
record menu "$MENU_RECT"
# From the menu's top left, a margin of desktop around it, to the bottom right
# corner of the taskbar (icon and a stretch of the taskbar).
[[ $MENU_RECT =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || wt_die "bad menu rectangle $MENU_RECT"
menu_x=${BASH_REMATCH[3]} menu_y=${BASH_REMATCH[4]}
[[ $ICON_BOX =~ \+([0-9]+)\+[0-9]+$ ]] || wt_die "bad icon box $ICON_BOX"
icon_x=${BASH_REMATCH[1]}
crop_x=$(((menu_x < icon_x ? menu_x : icon_x) - 40))
crop_y=$((menu_y - 16))
((crop_x < TRAY_OX)) && crop_x=$TRAY_OX
((crop_y < TRAY_OY)) && crop_y=$TRAY_OY
TRAY_CROP=$(geom $((TRAY_RIGHT - crop_x)) $((TRAY_AREA_Y + TRAY_HEIGHT - crop_y)) "$crop_x" "$crop_y")
record tray_crop "$TRAY_CROP"
shot_settled tray-menu "$TRAY_CROP"
crop tray-menu "$TRAY_CROP"
close_menu

# ---- the same menu after `ovq.exe -s`, permit item checked ----

ovq_run_second 10000 -s
[[ $OVQ_EXIT == 1 ]] || wt_die "the second launch with -s exited with '$OVQ_EXIT', not 1"
open_menu
record menu_permit "$MENU_RECT"
[[ $MENU_RECT == "$(sed -n 's/^menu=//p' "$RECORD")" ]] ||
    wt_die "the menu opened at $MENU_RECT the second time, not where it was"
shot_settled tray-menu-permit "$TRAY_CROP"
crop tray-menu-permit "$TRAY_CROP"

# ---- the version box, chosen from that menu ----

choose_from_menu a
probe wait-menu-gone 3000 || wt_die "the menu stays open after A"
probe box-text 3000 || wt_die "no version box after A"
BOX_RECT=$(rect_geom "$(kv rect)") || wt_die "no box rectangle from the probe"
OK_RECT=$(rect_geom "$(kv button0_rect)") || wt_die "no OK button rectangle from the probe"
[[ $(kv buttons) == 1 && $(kv button0_id) == 1 ]] || wt_die "the box has not just its OK button"
record box "$BOX_RECT"
record ok_button "$OK_RECT"
shot_settled version-box "$BOX_RECT"
crop version-box "$BOX_RECT"
# A click posted while Wine is busy drawing the box can be lost; the box is
# clicked again while it stays, three times at most.
for try in 1 2 3; do
    probe box-click 1 || wt_die "cannot click OK"
    probe wait-box-gone 5000 && break
    ((try < 3)) || wt_die "the box stays open after OK"
    say "the box is still open after OK (try $try); clicking again"
done

# ---- end ovq; the notification area is left as it was ----

ovq_run_second 10000 -x
ovq_wait_exit "$FIRST_PID" 5000 || wt_die "ovq still runs 5 s after -x"
[[ $OVQ_EXIT == 0 ]] || wt_die "ovq exited with '$OVQ_EXIT' after -x, not 0"
tray_mouse_away
tray_wait_state none 5000 after-exit || wt_die "the icon stays in the notification area after ovq ended"

for name in tray-menu tray-menu-permit version-box; do
    cp "$WT_DIR/$name.png" "$OUT_DIR/$name.png.new"
done
for name in tray-menu tray-menu-permit version-box; do
    mv "$OUT_DIR/$name.png.new" "$OUT_DIR/$name.png"
    say "$OUT_DIR/$name.png: $(identify -format '%wx%h' "$OUT_DIR/$name.png"), $(stat -c %s "$OUT_DIR/$name.png") bytes"
done
